// Wire form of the common and omega records: one record of each shape
// against bytes written out by hand, then tables of lengths and versions,
// and long chains. (Cut and hostile answers are seeds of fuzz/corpus.)
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <stdexcept>
#include <tuple>

#include "o_lib.h"
#include "xdr_bytes.hpp"
#include "xdr_catalogue.hpp"

using namespace xdrtest;

xdrproc_t xdrtest::xdr_routine(const std::string &name)
{
    for (const auto *cat : {&fuzzcheck::kCommon, &fuzzcheck::kOmega, &fuzzcheck::kAlpha})
        for (size_t i = 0; i < cat->count; ++i)
            if (name == cat->types[i].name)
                return cat->types[i].proc;
    throw std::invalid_argument("no routine xdr_" + name);
}

// Link first: every presence flag, then the entries last node first; each
// host of a distribution list carries a name chain of the same kind.
TEST(OmegaXdr, LinkFirstListsSendTheFlagsThenTheEntriesLastToFirst)
{
    o_make_verteiler_o v{}, back{};
    for (const auto &[host, name] : {std::pair{"h1", "a"}, {"h1", "b"}, {"h2", "c"}})
        add_to_verteiler(&v.list, host, name);  // hosts h2, h1; names of h1: b, a
    const Bytes expect = cat({words({1, 1, 0}), strn("h1", 35), words({1, 1, 0}), strn("a", 10),
                              strn("b", 10), strn("h2", 35), words({1, 0}), strn("c", 10),
                              words({0})});
    Bytes b, again, back_again;
    ASSERT_TRUE(encode(xdr_o_make_verteiler_o, &v, b) && encode(xdr_o_make_verteiler_o, &v, again));
    EXPECT_EQ(b, expect);
    EXPECT_EQ(again, expect) << "the first encoding changed the caller's chain";
    ASSERT_TRUE(decode(xdr_o_make_verteiler_o, &back, expect) &&
                encode(xdr_o_make_verteiler_o, &back, back_again));
    EXPECT_EQ(back_again, expect);
    release(xdr_o_make_verteiler_o, &v);
    release(xdr_o_make_verteiler_o, &back);
    EXPECT_EQ(back.list, nullptr);
}

// Link last: each entry, then its flag, in chain order. A character travels
// unsigned in the low byte of its unit, a long sign-extended into the long.
TEST(OmegaXdr, LinkLastListsSendEachEntryThenItsFlagWithUnsignedCharsAndSignedLongs)
{
    mu_count_ll second{{"L\xfc", -1, 4}, nullptr}, first{{"L1", 1, 2}, &second}, back{};
    const Bytes expect = cat(
        {strn("L1", 10), words({1, 2, 1}), strn("L\xfc", 10), words({0xffffffff, 4, 0})});
    Bytes b, back_again;
    ASSERT_TRUE(encode(xdr_mu_count_ll, &first, b) && decode(xdr_mu_count_ll, &back, expect) &&
                encode(xdr_mu_count_ll, &back, back_again));
    EXPECT_EQ(b, expect);
    EXPECT_EQ(back_again, expect);
    EXPECT_EQ(back.next->entry.f2, -1);
    release(xdr_mu_count_ll, &back);
}

// Worked out by hand from the field types: strN 4 * (N + 1), every number 4,
// a permission set 4, an empty chain 4; a versioned record by version.
TEST(OmegaXdr, EveryRecordHasItsWireLengthAndAcceptsExactlyItsVersions)
{
    expect_wire(
        false,
        "str10_ll 48  text_ll 108  compat_o 8  o_config 372  o_user 592  o_faxg 184  "
        "o_faxl 1332  o_printer 648  o_alpha 312  o_theta 144  o_pi 188  o_group 168  "
        "o_groupl 232  o_group_member 312  o_route 528  o_tele 384  o_tebu 2296  o_tebul 428  "
        "o_tgroup 404  o_tgroupl 132  o_muser 372  o_configdata 48  o_get_user_i 188  "
        "o_del_user_i 188  o_get_user_llb_i 192  o_get_printer_llb_i 48  o_apply_route_i 128  "
        "o_apply_route_o 232  o_get_tgroup_i 232  o_del_tebu_i 232  o_get_tebu_ll_i 188  "
        "o_get_tgroup_llb_i 236  o_put_tgroup_i 592  o_put_tgroupl_i 320  o_put_tebu_i 2484  "
        "o_put_tebul_i 616  o_get_tgroupl_ll_i 236  o_get_tgroupl_llb_i 328  "
        "o_del_tgroupl_i 320  o_get_tebul_i 280  o_get_tebul_ll_i 284  o_del_tebul_i 276  "
        "o_lookup_tsi_i 132  o_lookup_tsi_o 432  o_get_mu_addr_ll_i 328  o_get_mu_line_ll_i 48  "
        "o_check_perm_i 236  o_check_v_cycle_i 376  o_make_verteiler_i 232  o_put_logins_i 148  "
        "o_cha_admpw_i 168  o_get_gwuser_o 424  o_get_reply_addr_o 424  o_get_faxl_new_o 2320  "
        "o_get_kzg_o 12  o_make_verteiler_o 8  o_get_user_llb_o 8  o_get_tebu_llb_o 8  "
        "o_get_mu_ll_o 8  o_get_faxl_new_ll_o 12  o_get_config_ll_o 12  "
        "o_get_reply_addr_ll_o 12");
    expect_wire(
        true,
        "o_faxl_new 2316,2440  o_gwuser 420,460  o_reply_addr 420  o_get_faxl_new_i 48,52  "
        "o_get_faxl_new_ll_i 8,12  o_del_faxl_new_i 48  o_get_route_new_ll_i 52,56  "
        "o_get_config_ll_i 60,56  o_del_gwuser_i 372  o_get_gwuser_i 376,96,140,380  "
        "o_get_gwuser_ll_i 380,100,140,380  o_get_reply_addr_i 280  o_del_reply_addr_i 280  "
        "o_put_reply_addr_i 532  o_get_reply_addr_ll_i 284,100,100  o_apply_route_new_i 132,172  "
        "o_apply_route_new_o 388  o_route_new 680,720  o_configdata_new 0,76");
}

// A million nodes of each kind, link first (every flag, then the entries)
// and link last (each entry, then its flag), decode, encode to the same bytes
// and free on a 1 MiB stack, which a codec taking a frame per node overflows.
TEST(ChainCodec, MillionNodeChainsOfBothKindsNeedNoDeepStack)
{
    rlimit limit{};
    getrlimit(RLIMIT_STACK, &limit);
    const rlimit small{std::min<rlim_t>(1 << 20, limit.rlim_max), limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &small), 0);
    const size_t n = 1000000;
    for (const auto &[fn, link_first, entry] :
         {std::tuple{(xdrproc_t)xdr_str10_ll, true, 44}, {(xdrproc_t)xdr_mu_count_ll, false, 52}}) {
        Bytes wire(n * (entry + 4), 0), again;  // every flag set but the last
        for (size_t i = 0; i + 1 < n; ++i)
            wire[(link_first ? 4 * i : i * (entry + 4) + entry) + 3] = 1;
        std::vector<uint64_t> head = zeroed();
        EXPECT_TRUE(decode(fn, head.data(), wire) &&
                    encode(fn, head.data(), again, wire.size() + 4) && again == wire)
            << link_first;
        release(fn, head.data());
    }
    setrlimit(RLIMIT_STACK, &limit);
}
