// Wire form of the omega records, compared with bytes written out by hand:
// one record of each shape, the wire length of every record, the accepted
// versions of every versioned record, and lists that must survive a million
// elements on a small stack and hostile or truncated answers without leaks.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

#include "o_lib.h"
#include "xdr_bytes.hpp"

using namespace xdrtest;

namespace {

constexpr uint32_t kTrue = 1;
constexpr uint32_t kFalse = 0;

template <class T, class Fn>
Bytes encoded(Fn fn, T *obj)
{
    Bytes b;
    EXPECT_TRUE(encode(fn, obj, b));
    return b;
}

// A zero-filled object of any record, big enough for the largest of them.
struct Blank {
    alignas(16) unsigned char bytes[8192] = {};
    void *get() { return bytes; }
};

}  // namespace

// --- One record of each shape ---------------------------------------------

TEST(OmegaXdr, PlainRecordTravelsFieldByFieldWithSignedLongs)
{
    o_faxg g{};
    std::strcpy(g.name, "g1");
    std::strcpy(g.descr, "Gruppe");
    g.f3 = -2;
    g.f4 = 7;
    g.f5 = -1;
    g.f6 = 0x1234;
    const Bytes expect = cat({strn("g1", 10), strn("Gruppe", 30),
                              words({0xfffffffe, 7, 0xffffffff, 0x1234})});
    EXPECT_EQ(encoded(xdr_o_faxg, &g), expect);

    o_faxg back{};
    ASSERT_TRUE(decode(xdr_o_faxg, &back, expect));
    EXPECT_EQ(std::memcmp(&back, &g, sizeof g), 0);
    EXPECT_EQ(back.f5, -1);  // sign-extended into the 64-bit long
}

TEST(OmegaXdr, PermissionSetIsThreeBytesAndOnePad)
{
    o_tgroup t{};
    std::strcpy(t.name, "tg");
    t.perm[0] = 0x01;
    t.perm[1] = static_cast<char>(0xff);
    t.perm[2] = 0x10;
    const Bytes expect = cat({strn("tg", 10), strn("", 30), strn("", 35), strn("", 10),
                              strn("", 10), Bytes{0x01, 0xff, 0x10, 0x00}});
    EXPECT_EQ(encoded(xdr_o_tgroup, &t), expect);
}

TEST(OmegaXdr, TenElementVectorTravelsInOrderBetweenItsNeighbours)
{
    o_tebu t{};
    t.f7 = -3;
    for (int i = 0; i < 10; ++i)
        t.f8[i][0] = static_cast<char>('a' + i);
    std::strcpy(t.f9, "x");
    Bytes vec;
    for (int i = 0; i < 10; ++i) {
        const char s[2] = {static_cast<char>('a' + i), 0};
        vec = cat({vec, strn(s, 30)});
    }
    const Bytes expect = cat({strn("", 10), strn("", 30), strn("", 35), strn("", 10), strn("", 10),
                              words({0, 0xfffffffd}), vec, strn("x", 80), strn("", 80)});
    EXPECT_EQ(encoded(xdr_o_tebu, &t), expect);
}

// Every presence flag first, then the entries last to first.
TEST(OmegaXdr, LinkFirstListSendsFlagsThenEntriesLastToFirst)
{
    o_get_faxg_ll_o empty{};
    EXPECT_EQ(encoded(xdr_o_get_faxg_ll_o, &empty), words({0, kFalse}));

    o_faxg_ll n3{nullptr, {}}, n2{&n3, {}}, n1{&n2, {}};
    std::strcpy(n1.entry.name, "e1");
    std::strcpy(n2.entry.name, "e2");
    std::strcpy(n3.entry.name, "e3");
    o_get_faxg_ll_o three{3, &n1};
    auto entry = [](const char *name) { return cat({strn(name, 10), strn("", 30), words({0, 0, 0, 0})}); };
    const Bytes expect = cat({words({3, kTrue, kTrue, kTrue, kFalse}), entry("e3"), entry("e2"), entry("e1")});
    EXPECT_EQ(encoded(xdr_o_get_faxg_ll_o, &three), expect);
    EXPECT_EQ(n1.next, &n2);  // the caller's chain is as it was
    EXPECT_EQ(n2.next, &n3);

    o_get_faxg_ll_o back{};
    ASSERT_TRUE(decode(xdr_o_get_faxg_ll_o, &back, expect));
    ASSERT_EQ(back.count, 3);
    const char *names[] = {"e1", "e2", "e3"};
    const o_faxg_ll *n = back.list;
    for (const char *name : names) {
        ASSERT_NE(n, nullptr);
        EXPECT_STREQ(n->entry.name, name);
        n = n->next;
    }
    EXPECT_EQ(n, nullptr);
    release(xdr_o_get_faxg_ll_o, &back);
    EXPECT_EQ(back.list, nullptr);
}

TEST(OmegaXdr, CountsPerLineTravelInChainOrderInsideVersionOneOnly)
{
    mu_count_ll second{{}, nullptr}, first{{}, &second};
    std::strcpy(first.entry.line, "L1");
    first.entry.f2 = 1;
    first.entry.f3 = 2;
    std::strcpy(second.entry.line, "L2");
    second.entry.f2 = -1;
    second.entry.f3 = 4;
    o_configdata_new c{};
    c.version = 1;
    c.o_configdata_new_u.v1.f1 = 5;
    c.o_configdata_new_u.v1.f4 = TRUE;
    c.o_configdata_new_u.v1.counts = &first;
    c.o_configdata_new_u.v1.f15 = 9;
    c.o_configdata_new_u.v1.f18 = TRUE;
    const Bytes expect = cat({words({1, 5, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                              words({kTrue}), strn("L1", 10), words({1, 2, kTrue}),
                              strn("L2", 10), words({0xffffffff, 4, kFalse}),
                              words({9, 0, 0, 1})});
    EXPECT_EQ(encoded(xdr_o_configdata_new, &c), expect);

    o_configdata_new back{};
    ASSERT_TRUE(decode(xdr_o_configdata_new, &back, expect));
    const mu_count_ll *n = back.o_configdata_new_u.v1.counts;
    ASSERT_NE(n, nullptr);
    EXPECT_STREQ(n->entry.line, "L1");
    ASSERT_NE(n->next, nullptr);
    EXPECT_STREQ(n->next->entry.line, "L2");
    EXPECT_EQ(n->next->entry.f2, -1);
    EXPECT_EQ(n->next->next, nullptr);
    release(xdr_o_configdata_new, &back);

    c.version = 0;
    Bytes b;
    EXPECT_FALSE(encode(xdr_o_configdata_new, &c, b));
    Bytes v0 = expect;
    v0[3] = 0;
    o_configdata_new refused{};
    EXPECT_FALSE(decode(xdr_o_configdata_new, &refused, v0));
    release(xdr_o_configdata_new, &refused);
}

// A distribution list: hosts link first, each with its own link-first chain
// of names.
TEST(OmegaXdr, DistributionListNestsItsNameChains)
{
    o_make_verteiler_o v{};
    add_to_verteiler(&v.list, "h1", "a");
    add_to_verteiler(&v.list, "h1", "b");  // names: b, a
    add_to_verteiler(&v.list, "h2", "c");  // hosts: h2, h1
    v.f2 = TRUE;
    const Bytes expect = cat({words({kTrue, kTrue, kFalse}),
                              strn("h1", 35), words({kTrue, kTrue, kFalse}), strn("a", 10), strn("b", 10),
                              strn("h2", 35), words({kTrue, kFalse}), strn("c", 10),
                              words({1})});
    EXPECT_EQ(encoded(xdr_o_make_verteiler_o, &v), expect);
    release(xdr_o_make_verteiler_o, &v);
    EXPECT_EQ(v.list, nullptr);
}

// --- Lengths and versions ----------------------------------------------------

// Wire lengths worked out by hand from the field types (strN: 4 * (N + 1),
// every number 4, a permission set 4, an empty chain 4).
TEST(OmegaXdr, EveryRecordHasItsWireLength)
{
    struct Case {
        const char *name;
        xdrproc_t fn;
        size_t wire;
    };
#define CASE(t, n) {#t, (xdrproc_t)xdr_##t, n}
    const Case cases[] = {
        CASE(o_user, 592),           CASE(o_faxg, 184),
        CASE(o_faxl, 1332),          CASE(o_printer, 648),
        CASE(o_alpha, 312),          CASE(o_theta, 144),
        CASE(o_pi, 188),             CASE(o_group, 168),
        CASE(o_groupl, 232),         CASE(o_group_member, 312),
        CASE(o_route, 528),          CASE(o_tele, 384),
        CASE(o_tebu, 2296),          CASE(o_tebul, 428),
        CASE(o_tgroup, 404),         CASE(o_tgroupl, 132),
        CASE(o_muser, 372),          CASE(o_configdata, 48),
        CASE(o_get_user_i, 188),     CASE(o_del_user_i, 188),
        CASE(o_get_user_llb_i, 192), CASE(o_get_printer_llb_i, 48),
        CASE(o_apply_route_i, 128),  CASE(o_apply_route_o, 232),
        CASE(o_get_tgroup_i, 232),   CASE(o_del_tebu_i, 232),
        CASE(o_get_tebu_ll_i, 188),  CASE(o_get_tgroup_llb_i, 236),
        CASE(o_put_tgroup_i, 592),   CASE(o_put_tgroupl_i, 320),
        CASE(o_put_tebu_i, 2484),    CASE(o_put_tebul_i, 616),
        CASE(o_get_tgroupl_ll_i, 236), CASE(o_get_tgroupl_llb_i, 328),
        CASE(o_del_tgroupl_i, 320),  CASE(o_get_tebul_i, 280),
        CASE(o_get_tebul_ll_i, 284), CASE(o_del_tebul_i, 276),
        CASE(o_lookup_tsi_i, 132),   CASE(o_lookup_tsi_o, 432),
        CASE(o_get_mu_addr_ll_i, 328), CASE(o_get_mu_line_ll_i, 48),
        CASE(o_check_perm_i, 236),   CASE(o_check_v_cycle_i, 376),
        CASE(o_make_verteiler_i, 232), CASE(o_put_logins_i, 148),
        CASE(o_cha_admpw_i, 168),    CASE(o_get_gwuser_o, 424),
        CASE(o_get_reply_addr_o, 424), CASE(o_get_faxl_new_o, 2320),
        CASE(o_get_kzg_o, 12),       CASE(o_make_verteiler_o, 8),
        CASE(o_get_user_llb_o, 8),   CASE(o_get_tebu_llb_o, 8),
        CASE(o_get_mu_ll_o, 8),      CASE(o_get_faxl_new_ll_o, 12),
        CASE(o_get_config_ll_o, 12), CASE(o_get_reply_addr_ll_o, 12),
    };
#undef CASE
    for (const Case &c : cases) {
        Blank obj;
        Bytes b;
        ASSERT_TRUE(encode(c.fn, obj.get(), b)) << c.name;
        EXPECT_EQ(b.size(), c.wire) << c.name;
    }
}

// Each versioned record takes exactly its listed versions, with the body of
// that version, and refuses the next one both ways.
TEST(OmegaXdr, VersionedRecordsAcceptExactlyTheirVersions)
{
    struct Case {
        const char *name;
        xdrproc_t fn;
        std::vector<size_t> body;  // wire length of the body of version 0, 1, ...
        uint32_t refused;
    };
#define CASE(t, ...) {#t, (xdrproc_t)xdr_##t, __VA_ARGS__}
    const Case cases[] = {
        CASE(o_faxl_new, {2312, 2436}, 2),
        CASE(o_gwuser, {416, 456}, 2),
        CASE(o_reply_addr, {416}, 1),
        CASE(o_get_faxl_new_i, {44, 48}, 2),
        CASE(o_get_faxl_new_ll_i, {4, 8}, 2),
        CASE(o_del_faxl_new_i, {44}, 1),
        CASE(o_get_route_new_ll_i, {48, 52}, 2),
        CASE(o_get_config_ll_i, {56, 52}, 2),
        CASE(o_del_gwuser_i, {368}, 1),
        CASE(o_get_gwuser_i, {372, 92, 136, 376}, 4),
        CASE(o_get_gwuser_ll_i, {376, 96, 136, 376}, 4),
        CASE(o_get_reply_addr_i, {276}, 1),
        CASE(o_del_reply_addr_i, {276}, 1),
        CASE(o_put_reply_addr_i, {528}, 1),
        CASE(o_get_reply_addr_ll_i, {280, 96, 96}, 3),
    };
#undef CASE
    for (const Case &c : cases) {
        for (uint32_t v = 0; v <= c.refused; ++v) {
            const bool accepted = v < c.body.size();
            Blank obj;
            std::memcpy(obj.get(), &v, sizeof v);  // the int version comes first
            Bytes b;
            EXPECT_EQ(encode(c.fn, obj.get(), b), accepted) << c.name << " version " << v;
            if (accepted) {
                EXPECT_EQ(b, cat({words({v}), Bytes(c.body[v], 0)})) << c.name << " version " << v;
            }
            const Bytes wire = cat({words({v}), Bytes(accepted ? c.body[v] : 4096, 0)});
            Blank back;
            EXPECT_EQ(decode(c.fn, back.get(), wire), accepted) << c.name << " version " << v;
            release(c.fn, back.get());
        }
    }
}

// --- Long lists and a small stack --------------------------------------------

namespace {

// Runs fn in a child process whose stack may grow to at most stack_bytes and
// returns the child's wait status: 0 when fn returned true.
int in_child_with_stack(rlim_t stack_bytes, const std::function<bool()> &fn)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // The soft limit only, and never above the hard one: a run under
        // "ulimit -s 1024" has the small stack everywhere.
        rlimit limit{};
        getrlimit(RLIMIT_STACK, &limit);
        limit.rlim_cur = std::min(stack_bytes, limit.rlim_max);
        if (setrlimit(RLIMIT_STACK, &limit) != 0)
            _exit(3);
        _exit(fn() ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

constexpr rlim_t kSmallStack = 1024 * 1024;

// Builds a list answer of n zeroed entries, encodes it, decodes it again and
// frees both; true when the decoded chain has n nodes.
template <class List>
bool chain_round_trip(bool_t (*xdr_list)(XDR *, List *), size_t n)
{
    using Node = std::remove_pointer_t<decltype(List::list)>;
    List out{};
    Node **link = &out.list;
    for (size_t i = 0; i < n; ++i) {
        *link = static_cast<Node *>(std::calloc(1, sizeof(Node)));
        link = &(*link)->next;
    }
    std::vector<char> buf((sizeof(Node) + 64) * 4 * (n + 1));  // wire is at most 4x memory
    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
    bool ok = xdr_list(&x, &out);
    xdr_destroy(&x);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_list), reinterpret_cast<char *>(&out));

    List in{};
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_DECODE);
    ok = ok && xdr_list(&x, &in);
    xdr_destroy(&x);
    size_t nodes = 0;
    for (const Node *p = in.list; p != nullptr; p = p->next)
        ++nodes;
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_list), reinterpret_cast<char *>(&in));
    return ok && nodes == n;
}

}  // namespace

// Guards the harness itself: the lowered limit really stops a deep recursion
// that the default stack would carry.
__attribute__((noinline)) int descend(int depth)
{
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth == 0)
        return 0;
    frame[1] = static_cast<char>(descend(depth - 1));
    return frame[0] + frame[1];
}

TEST(ChainCodec, SmallStackHarnessStopsADeepRecursion)
{
    auto deep = [] { return descend(8000) >= 0; };
    rlimit limit{};
    getrlimit(RLIMIT_STACK, &limit);
    if (limit.rlim_max >= 8 * 1024 * 1024) {
        EXPECT_EQ(in_child_with_stack(RLIM_INFINITY, deep), 0);
    }
    const int status = in_child_with_stack(kSmallStack, deep);
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) << status;
}

// Ten thousand elements take far more than 1 MiB of stack for a codec that
// recurses once per element; every chain type must get through.
TEST(ChainCodec, EveryChainTypeRoundTripsTenThousandOnASmallStack)
{
    const size_t n = 10000;
    const int status = in_child_with_stack(kSmallStack, [n] {
        return chain_round_trip(xdr_o_get_user_ll_o, n) && chain_round_trip(xdr_o_get_faxg_ll_o, n) &&
               chain_round_trip(xdr_o_get_faxl_ll_o, n) && chain_round_trip(xdr_o_get_printer_ll_o, n) &&
               chain_round_trip(xdr_o_get_alpha_ll_o, n) && chain_round_trip(xdr_o_get_theta_ll_o, n) &&
               chain_round_trip(xdr_o_get_pi_ll_o, n) && chain_round_trip(xdr_o_get_group_ll_o, n) &&
               chain_round_trip(xdr_o_get_groupl_ll_o, n) &&
               chain_round_trip(xdr_o_get_group_member_ll_o, n) &&
               chain_round_trip(xdr_o_get_route_ll_o, n) && chain_round_trip(xdr_o_get_tele_ll_o, n) &&
               chain_round_trip(xdr_o_get_tebu_ll_o, n) && chain_round_trip(xdr_o_get_tebul_ll_o, n) &&
               chain_round_trip(xdr_o_get_tgroup_ll_o, n) && chain_round_trip(xdr_o_get_tgroupl_ll_o, n) &&
               chain_round_trip(xdr_o_get_mu_ll_o, n) && chain_round_trip(xdr_o_get_route_new_ll_o, n) &&
               chain_round_trip(xdr_o_get_faxl_new_ll_o, n) &&
               chain_round_trip(xdr_o_get_gwuser_ll_o, n) &&
               chain_round_trip(xdr_o_get_reply_addr_ll_o, n) &&
               chain_round_trip(xdr_o_get_config_ll_o, n) &&
               chain_round_trip(xdr_o_make_verteiler_o, n);
    });
    EXPECT_EQ(status, 0);
}

namespace {

// A million counts per line inside one configuration record (link last).
bool million_counts()
{
    const size_t n = 1000000;
    o_configdata_new c{};
    c.version = 1;
    mu_count_ll **link = &c.o_configdata_new_u.v1.counts;
    for (size_t i = 0; i < n; ++i) {
        *link = static_cast<mu_count_ll *>(std::calloc(1, sizeof(mu_count_ll)));
        (*link)->entry.f2 = static_cast<long>(i);
        link = &(*link)->next;
    }
    std::vector<char> buf(72 + 4 + n * 56);
    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
    bool ok = xdr_o_configdata_new(&x, &c) && xdr_getpos(&x) == buf.size();
    xdr_destroy(&x);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_o_configdata_new), reinterpret_cast<char *>(&c));

    o_configdata_new back{};
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_DECODE);
    ok = ok && xdr_o_configdata_new(&x, &back);
    xdr_destroy(&x);
    size_t i = 0;
    for (const mu_count_ll *p = back.o_configdata_new_u.v1.counts; p != nullptr; p = p->next, ++i)
        ok = ok && p->entry.f2 == static_cast<long>(i);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_o_configdata_new), reinterpret_cast<char *>(&back));
    return ok && i == n;
}

}  // namespace

// The small stack is the harder case: a codec that needs no deep stack there
// needs none on the default one.
TEST(ChainCodec, MillionElementListsEncodeDecodeAndFreeOnASmallStack)
{
    for (rlim_t stack : {kSmallStack}) {
        EXPECT_EQ(in_child_with_stack(stack, [] { return chain_round_trip(xdr_o_get_tgroupl_ll_o, 1000000); }),
                  0)
            << "link first, stack " << stack;
        EXPECT_EQ(in_child_with_stack(stack, million_counts), 0) << "link last, stack " << stack;
    }
}

// --- Hostile and truncated answers -------------------------------------------
// A failed decode must leave nothing allocated behind in the answer, since a
// client stub's static result is never freed after a failed call.

TEST(ChainCodec, TruncatedOrHostileListsFailAndKeepNothing)
{
    const Bytes entry = cat({strn("e", 10), strn("", 30), words({0, 0, 0, 0})});
    const Bytes entry_new = cat({words({0}), Bytes(2312, 0)});
    struct Case {
        const char *what;
        Bytes wire;
    };
    const Case faxg_cases[] = {
        {"flags without entries", words({3, kTrue, kTrue, kTrue, kFalse})},
        {"flags without an end", words({2, kTrue, kTrue})},
        {"cut inside the second entry",
         cat({words({3, kTrue, kTrue, kTrue, kFalse}), entry, Bytes(entry.begin(), entry.begin() + 60)})},
        {"cut before the first entry's last field",
         cat({words({2, kTrue, kTrue, kFalse}), entry, Bytes(entry.begin(), entry.end() - 4)})},
    };
    for (const Case &c : faxg_cases) {
        o_get_faxg_ll_o a{};
        EXPECT_FALSE(decode(xdr_o_get_faxg_ll_o, &a, c.wire)) << c.what;
        EXPECT_EQ(a.list, nullptr) << c.what;
    }

    // The whole chain arrived but the trailing error did not.
    o_get_faxl_new_ll_o n{};
    EXPECT_FALSE(decode(xdr_o_get_faxl_new_ll_o, &n,
                        cat({words({2, kTrue, kTrue, kFalse}), entry_new, entry_new})));
    EXPECT_EQ(n.list, nullptr);

    // A name chain inside a host element breaks off.
    o_make_verteiler_o v{};
    EXPECT_FALSE(decode(xdr_o_make_verteiler_o, &v,
                        cat({words({kTrue, kFalse}), strn("h", 35), words({kTrue, kTrue, kFalse}),
                             strn("a", 10)})));
    EXPECT_EQ(v.list, nullptr);

    // A link-last chain that stops after an entry.
    o_configdata_new c{};
    EXPECT_FALSE(decode(xdr_o_configdata_new, &c,
                        cat({words({1}), Bytes(52, 0), words({kTrue}), strn("L", 10), words({1, 2, kTrue}),
                             strn("M", 10)})));
    EXPECT_EQ(c.o_configdata_new_u.v1.counts, nullptr);
}

TEST(ChainCodec, AMillionPresenceFlagsWithNothingBehindThemFailCheaply)
{
    Bytes wire = words({1000000});
    wire.resize(4 + 4 * 1000000);
    for (size_t i = 4; i < wire.size(); i += 4)
        wire[i + 3] = 1;
    o_get_faxl_new_ll_o a{};
    EXPECT_FALSE(decode(xdr_o_get_faxl_new_ll_o, &a, wire));
    EXPECT_EQ(a.list, nullptr);
}
