// Wire form of the common and omega records: one record of each shape
// against bytes written out by hand, then tables of lengths, versions,
// chains and refused answers.
#include <gtest/gtest.h>

#include <stdexcept>

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

// A character travels unsigned in the low byte of its unit, a long sign-
// extended into the 64-bit long, a permission set as three bytes and a pad.
TEST(OmegaXdr, FieldsTravelInOrderWithUnsignedCharactersAndSignedLongs)
{
    o_faxg g{"g1", "Gr\xfc", -2, 7, -1, 0x1234}, back{};
    const Bytes expect = cat({strn("g1", 10), strn("Gr\xfc", 30), words({0xfffffffe, 7, 0xffffffff, 0x1234})});
    Bytes b;
    ASSERT_TRUE(encode(xdr_o_faxg, &g, b) && decode(xdr_o_faxg, &back, b));
    EXPECT_EQ(b, expect);
    EXPECT_EQ(std::memcmp(&back, &g, sizeof g), 0);
    permsettype p = {'\x01', '\x7f', '\xff'};
    ASSERT_TRUE(encode(xdr_permsettype, p, b));
    EXPECT_EQ(b, (Bytes{0x01, 0x7f, 0xff, 0x00}));
}

// Link first: every presence flag, then the entries last node first; each
// host of a distribution list carries a name chain of the same kind.
TEST(OmegaXdr, LinkFirstListsSendTheFlagsThenTheEntriesLastToFirst)
{
    o_make_verteiler_o v{}, back{};
    for (const auto &[host, name] : {std::pair{"h1", "a"}, {"h1", "b"}, {"h2", "c"}})
        add_to_verteiler(&v.list, host, name);  // hosts h2, h1; names of h1: b, a
    const Bytes expect = cat({words({1, 1, 0}), strn("h1", 35), words({1, 1, 0}), strn("a", 10), strn("b", 10),
                              strn("h2", 35), words({1, 0}), strn("c", 10), words({0})});
    Bytes b, again, back_again;
    ASSERT_TRUE(encode(xdr_o_make_verteiler_o, &v, b) && encode(xdr_o_make_verteiler_o, &v, again));
    EXPECT_EQ(b, expect);
    EXPECT_EQ(again, expect) << "the first encoding changed the caller's chain";
    ASSERT_TRUE(decode(xdr_o_make_verteiler_o, &back, expect) &&
                encode(xdr_o_make_verteiler_o, &back, back_again));
    EXPECT_STREQ(back.list->entry.host, "h2");
    EXPECT_EQ(back_again, expect);
    release(xdr_o_make_verteiler_o, &v);
    release(xdr_o_make_verteiler_o, &back);
    EXPECT_EQ(back.list, nullptr);
}

// Link last: each entry, then its flag, in chain order.
TEST(OmegaXdr, LinkLastListsSendEachEntryThenItsFlag)
{
    mu_count_ll second{{"L2", -1, 4}, nullptr}, first{{"L1", 1, 2}, &second}, back{};
    const Bytes expect = cat({strn("L1", 10), words({1, 2, 1}), strn("L2", 10), words({0xffffffff, 4, 0})});
    Bytes b, back_again;
    ASSERT_TRUE(encode(xdr_mu_count_ll, &first, b) && decode(xdr_mu_count_ll, &back, expect) &&
                encode(xdr_mu_count_ll, &back, back_again));
    EXPECT_EQ(b, expect);
    EXPECT_STREQ(back.entry.line, "L1");
    EXPECT_EQ(back_again, expect);
    release(xdr_mu_count_ll, &back);
}

// Worked out by hand from the field types: strN 4 * (N + 1), every number 4,
// a permission set 4, an empty chain 4.
TEST(OmegaXdr, EveryRecordHasItsWireLength)
{
    expect_wire(false,
                "str10_ll 48  text_ll 108  compat_o 8  o_config 372  o_user 592  o_faxg 184  o_faxl 1332  "
                "o_printer 648  o_alpha 312  o_theta 144  o_pi 188  o_group 168  o_groupl 232  "
                "o_group_member 312  o_route 528  o_tele 384  o_tebu 2296  o_tebul 428  o_tgroup 404  "
                "o_tgroupl 132  o_muser 372  o_configdata 48  o_get_user_i 188  o_del_user_i 188  "
                "o_get_user_llb_i 192  o_get_printer_llb_i 48  o_apply_route_i 128  o_apply_route_o 232  "
                "o_get_tgroup_i 232  o_del_tebu_i 232  o_get_tebu_ll_i 188  o_get_tgroup_llb_i 236  "
                "o_put_tgroup_i 592  o_put_tgroupl_i 320  o_put_tebu_i 2484  o_put_tebul_i 616  "
                "o_get_tgroupl_ll_i 236  o_get_tgroupl_llb_i 328  o_del_tgroupl_i 320  o_get_tebul_i 280  "
                "o_get_tebul_ll_i 284  o_del_tebul_i 276  o_lookup_tsi_i 132  o_lookup_tsi_o 432  "
                "o_get_mu_addr_ll_i 328  o_get_mu_line_ll_i 48  o_check_perm_i 236  o_check_v_cycle_i 376  "
                "o_make_verteiler_i 232  o_put_logins_i 148  o_cha_admpw_i 168  o_get_gwuser_o 424  "
                "o_get_reply_addr_o 424  o_get_faxl_new_o 2320  o_get_kzg_o 12  o_make_verteiler_o 8  "
                "o_get_user_llb_o 8  o_get_tebu_llb_o 8  o_get_mu_ll_o 8  o_get_faxl_new_ll_o 12  "
                "o_get_config_ll_o 12  o_get_reply_addr_ll_o 12");
}

TEST(OmegaXdr, VersionedRecordsAcceptExactlyTheirVersions)
{
    expect_wire(true,
                "o_faxl_new 2316,2440  o_gwuser 420,460  o_reply_addr 420  o_get_faxl_new_i 48,52  "
                "o_get_faxl_new_ll_i 8,12  o_del_faxl_new_i 48  o_get_route_new_ll_i 52,56  "
                "o_get_config_ll_i 60,56  o_del_gwuser_i 372  o_get_gwuser_i 376,96,140,380  "
                "o_get_gwuser_ll_i 380,100,140,380  o_get_reply_addr_i 280  o_del_reply_addr_i 280  "
                "o_put_reply_addr_i 532  o_get_reply_addr_ll_i 284,100,100  o_apply_route_new_i 132,172  "
                "o_apply_route_new_o 388  o_route_new 680,720  o_configdata_new 0,76");
}

TEST(ChainCodec, EveryCommonAndOmegaChainRoundTripsTenThousandNodesOnASmallStack)
{
    expect_chains(true, 10000,
                  "str10_ll text_ll o_user_ll o_faxg_ll o_faxl_ll o_faxl_new_ll o_printer_ll o_alpha_ll "
                  "o_theta_ll o_pi_ll o_group_ll o_groupl_ll o_group_member_ll o_route_ll o_route_new_ll "
                  "o_tele_ll o_tebu_ll o_tebul_ll o_tgroup_ll o_tgroupl_ll o_muser_ll o_gwuser_ll "
                  "o_reply_addr_ll o_config_ll o_verteiler_alpha");
    expect_chains(false, 10000, "mu_count_ll");
}

TEST(ChainCodec, MillionNodeChainsOfBothKindsNeedNoDeepStack)
{
    expect_chains(true, 1000000, "str10_ll");
    expect_chains(false, 1000000, "mu_count_ll");
}

TEST(OmegaXdr, CutOrHostileAnswersAreRefusedAndKeepNothing)
{
    const Bytes entry = cat({strn("e", 10), strn("", 30), words({0, 0, 0, 0})});
    const Bytes entry_new = cat({words({0}), Bytes(2312, 0)});
    Bytes million_flags = words({1000000});
    for (int i = 0; i < 1000000; ++i)
        million_flags.insert(million_flags.end(), {0, 0, 0, 1});
    expect_refused_answers({
        XDR_REFUSED(o_get_faxg_ll_o, list,  // cut inside the second entry
                    cat({words({3, 1, 1, 1, 0}), entry, Bytes(entry.begin(), entry.begin() + 60)})),
        XDR_REFUSED(o_get_faxl_new_ll_o, list,  // the whole chain, but not the trailing error
                    cat({words({2, 1, 1, 0}), entry_new, entry_new})),
        XDR_REFUSED(o_get_faxl_new_ll_o, list, million_flags),  // and nothing behind them
        XDR_REFUSED(o_make_verteiler_o, list,  // a host's name chain breaks off
                    cat({words({1, 0}), strn("h", 35), words({1, 1, 0}), strn("a", 10)})),
        XDR_REFUSED(o_configdata_new, o_configdata_new_u.v1.counts,  // a link-last chain stops
                    cat({words({1}), Bytes(52, 0), words({1}), strn("L", 10), words({1, 2, 1}), strn("M", 10)})),
        XDR_REFUSED(str10_ll, next, words({1, 1, 1, 0})),
        XDR_REFUSED(opaque_string, opaque_string_val, cat({words({0xfffffff0}), Bytes(150000, 'x')})),
    });
}
