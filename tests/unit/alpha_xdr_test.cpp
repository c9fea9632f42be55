// Wire form of the alpha records: chain order of both node kinds, the fields
// and widths of the records, the versions and union tags each type accepts,
// the counted byte strings, and chains far longer than a small stack.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "a_lib.h"
#include "xdr_bytes.hpp"

using namespace xdrtest;

namespace {

template <class T, class Fn>
Bytes enc(Fn fn, T *obj)
{
    Bytes b;
    EXPECT_TRUE(encode(fn, obj, b));
    return b;
}

Bytes usrconf_entry_bytes(const char *user, const char *key, const char *value)
{
    return cat({strn(user, 10), strn(key, 10), strn(value, 80)});
}

a_usrconf_ll_entry usrconf_entry(const char *user, const char *key, const char *value)
{
    a_usrconf_ll_entry e{};
    std::strcpy(e.userid, user);
    std::strcpy(e.key, key);
    std::strcpy(e.value, value);
    return e;
}

}  // namespace

// A link-first chain sends every presence flag before the entries, and the
// entries last node first; the answer's count and code come after the chain.
TEST(AlphaXdr, UsrconfListSendsFlagsFirstAndTheLastNodeFirst)
{
    a_usrconf_ll b{nullptr, usrconf_entry("anna", "kb", "value b")};
    a_usrconf_ll a{&b, usrconf_entry("anna", "ka", "value a")};
    a_usrconf_ll_o o{&a, 2, -3};

    const Bytes expected = cat({words({1, 1, 0}), usrconf_entry_bytes("anna", "kb", "value b"),
                                usrconf_entry_bytes("anna", "ka", "value a"),
                                words({2, 0xfffffffd})});
    EXPECT_EQ(enc(xdr_a_usrconf_ll_o, &o), expected);

    a_usrconf_ll_o back{};
    ASSERT_TRUE(decode(xdr_a_usrconf_ll_o, &back, expected));
    ASSERT_NE(back.list, nullptr);
    EXPECT_STREQ(back.list->entry.key, "ka");
    ASSERT_NE(back.list->next, nullptr);
    EXPECT_STREQ(back.list->next->entry.value, "value b");
    EXPECT_EQ(back.list->next->next, nullptr);
    EXPECT_EQ(back.count, 2);
    EXPECT_EQ(back.error, -3);
    release(xdr_a_usrconf_ll_o, &back);
}

// A link-last chain sends each node's fields, then its link: chain order.
// The received-document record is written out field by field here, with
// negative numbers, which must come back negative in a 64-bit long.
TEST(AlphaXdr, ReceivedListSendsNodesInChainOrder)
{
    auto rec = [](long nr, const char *line) {
        a_e_rec r{};
        r.nr = nr;
        std::strcpy(r.userid, "anna");
        r.time = -nr;
        r.box = 1;
        r.pages = 2;
        std::strcpy(r.sender, "sender");
        std::strcpy(r.number, "0301234");
        r.size = 77;
        r.state = -1;
        std::strcpy(r.line, line);
        std::strcpy(r.subject, "subj");
        return r;
    };
    auto rec_bytes = [](uint32_t nr, const char *line) {
        return cat({words({nr}), strn("anna", 10), words({0u - nr, 1, 2}), strn("sender", 30),
                    strn("0301234", 20), words({77, 0xffffffff}), strn(line, 10),
                    strn("subj", 30)});
    };
    a_e_rec_ll b{rec(6, "L2"), nullptr};
    a_e_rec_ll a{rec(5, "L1"), &b};
    a_get_e_o o{2, &a};

    const Bytes expected =
        cat({words({2, 1}), rec_bytes(5, "L1"), words({1}), rec_bytes(6, "L2"), words({0})});
    EXPECT_EQ(enc(xdr_a_get_e_o, &o), expected);

    a_get_e_o back{};
    ASSERT_TRUE(decode(xdr_a_get_e_o, &back, expected));
    ASSERT_NE(back.list, nullptr);
    EXPECT_EQ(back.list->entry.nr, 5);
    EXPECT_EQ(back.list->entry.time, -5);
    EXPECT_EQ(back.list->entry.state, -1);
    ASSERT_NE(back.list->next, nullptr);
    EXPECT_STREQ(back.list->next->entry.line, "L2");
    EXPECT_EQ(back.list->next->next, nullptr);
    release(xdr_a_get_e_o, &back);
}

namespace {

// Three nodes of one chain type with distinct entries: the chain's bytes
// must be the three entries' own bytes in the order of its kind, and decode
// back to the same entries in chain order.
template <class Node, class Entry, class Fill>
void expect_chain_order(const char *name, bool_t (*xdr_node)(XDR *, Node *),
                        bool_t (*xdr_entry)(XDR *, Entry *), Entry Node::*entry, bool link_first,
                        Fill fill)
{
    SCOPED_TRACE(name);
    Node nodes[3] = {};
    Bytes e[3];
    for (int i = 0; i < 3; ++i) {
        fill(nodes[i].*entry, i);
        nodes[i].next = i < 2 ? &nodes[i + 1] : nullptr;
        e[i] = enc(xdr_entry, &(nodes[i].*entry));
    }
    const Bytes expected = link_first
                               ? cat({words({1, 1, 0}), e[2], e[1], e[0]})
                               : cat({e[0], words({1}), e[1], words({1}), e[2], words({0})});
    EXPECT_EQ(enc(xdr_node, &nodes[0]), expected);

    Node back{};
    ASSERT_TRUE(decode(xdr_node, &back, expected));
    int i = 0;
    for (Node *n = &back; n != nullptr; n = n->next, ++i) {
        ASSERT_LT(i, 3);
        EXPECT_EQ(enc(xdr_entry, &(n->*entry)), e[i]) << "node " << i;
    }
    EXPECT_EQ(i, 3);
    release(xdr_node, &back);
}

bool_t xdr_str20_entry(XDR *x, str20 *s) { return xdr_str20(x, s); }

}  // namespace

TEST(AlphaXdr, EveryChainTypeKeepsTheOrderOfItsKind)
{
    auto text = [](char *dst, size_t n, const char *what, int i) {
        std::snprintf(dst, n, "%s%d", what, i);
    };
    expect_chain_order("a_usrconf_ll", xdr_a_usrconf_ll, xdr_a_usrconf_ll_entry,
                       &a_usrconf_ll::entry, true, [&](a_usrconf_ll_entry &e, int i) {
                           text(e.key, sizeof e.key, "key", i);
                       });
    expect_chain_order("a_usrconf_new_ll", xdr_a_usrconf_new_ll, xdr_a_usrconf_new,
                       &a_usrconf_new_ll::entry, true, [&](a_usrconf_new &e, int i) {
                           e.version = 1;
                           text(e.a_usrconf_new_u.v1.key, 31, "a-thirty-character-key-", i);
                       });
    expect_chain_order("a_board_entry", xdr_a_board_entry, xdr_a_board_entry_data,
                       &a_board_entry::data, true, [&](a_board_entry_data &e, int i) {
                           text(e.text, sizeof e.text, "note", i);
                           e.time = -i;
                       });
    expect_chain_order("a_e_rec_new_ll", xdr_a_e_rec_new_ll, xdr_a_e_rec_new,
                       &a_e_rec_new_ll::entry, true, [&](a_e_rec_new &e, int i) {
                           e.version = 1;
                           e.a_e_rec_new_u.v1.nr = 100 + i;
                       });
    expect_chain_order("a_s_rec_new_ll", xdr_a_s_rec_new_ll, xdr_a_s_rec_new,
                       &a_s_rec_new_ll::entry, true, [&](a_s_rec_new &e, int i) {
                           e.version = i % 2;
                           e.a_s_rec_new_u.v0.nr = 200 + i;
                       });
    expect_chain_order("a_sendjob_ll", xdr_a_sendjob_ll, xdr_a_sendjob, &a_sendjob_ll::entry,
                       true, [&](a_sendjob &e, int i) {
                           e.version = i % 2;
                           if (e.version == 0)
                               text(e.a_sendjob_u.v0.host, 36, "host", i);
                           else
                               text(e.a_sendjob_u.v1.text, 81, "job", i);
                       });
    expect_chain_order("a_g_dok_ll", xdr_a_g_dok_ll, xdr_str20_entry, &a_g_dok_ll::name, true,
                       [&](str20 &e, int i) { text(e, sizeof e, "dok", i); });
    expect_chain_order("a_e_rec_ll", xdr_a_e_rec_ll, xdr_a_e_rec, &a_e_rec_ll::entry, false,
                       [&](a_e_rec &e, int i) { e.nr = 300 + i; });
    expect_chain_order("a_p_rec_ll", xdr_a_p_rec_ll, xdr_a_p_rec, &a_p_rec_ll::entry, false,
                       [&](a_p_rec &e, int i) { e.size = -i; });
    expect_chain_order("a_s_rec_ll", xdr_a_s_rec_ll, xdr_a_s_rec, &a_s_rec_ll::entry, false,
                       [&](a_s_rec &e, int i) { text(e.recipient, sizeof e.recipient, "to", i); });
}

// The records' fields and widths, as wire sizes: a field missing, added or of
// the wrong width shows here. Versioned and union types are given with the
// version or tag in front.
TEST(AlphaXdr, RecordsHaveTheWireSizeOfTheirFields)
{
    struct Case {
        const char *name;
        xdrproc_t fn;
        int version;  // written to the leading int when >= 0
        size_t wire;
    };
    const Case cases[] = {
        {"a_e_rec", (xdrproc_t)xdr_a_e_rec, -1, 444},
        {"a_e_rec_new", (xdrproc_t)xdr_a_e_rec_new, 1, 4 + 484},
        {"a_p_rec", (xdrproc_t)xdr_a_p_rec, -1, 188},
        {"a_s_rec", (xdrproc_t)xdr_a_s_rec, -1, 440},
        {"a_s_rec_new v0", (xdrproc_t)xdr_a_s_rec_new, 0, 4 + 440},
        {"a_s_rec_new v1", (xdrproc_t)xdr_a_s_rec_new, 1, 4 + 1652},
        {"a_user_rec", (xdrproc_t)xdr_a_user_rec, -1, 688},
        {"a_get_inf_o", (xdrproc_t)xdr_a_get_inf_o, -1, 4004},
        {"a_get_tzenv_o", (xdrproc_t)xdr_a_get_tzenv_o, -1, 980},
        {"a_query_tebu_i", (xdrproc_t)xdr_a_query_tebu_i, -1, 3472},
        {"a_put_s_stat_i", (xdrproc_t)xdr_a_put_s_stat_i, -1, 112},
        {"a_put_s_stat_new_i", (xdrproc_t)xdr_a_put_s_stat_new_i, 1, 4 + 488},
        {"a_cha_s_rec_i", (xdrproc_t)xdr_a_cha_s_rec_i, -1, 192},
        {"a_cha_s_rec_new_i", (xdrproc_t)xdr_a_cha_s_rec_new_i, 1, 4 + 196},
        {"a_send_new_i v0", (xdrproc_t)xdr_a_send_new_i, 0, 4 + 1104},
        {"a_send_new_i v1", (xdrproc_t)xdr_a_send_new_i, 1, 4 + 2316},
        {"a_sendjob v0", (xdrproc_t)xdr_a_sendjob, 0, 4 + 1240},
        {"a_sendjob v1", (xdrproc_t)xdr_a_sendjob, 1, 4 + 324},
        {"a_get_s_rec_new_ll_i", (xdrproc_t)xdr_a_get_s_rec_new_ll_i, 1, 4 + 384},
        {"a_get_sendjob_ll_i", (xdrproc_t)xdr_a_get_sendjob_ll_i, 0, 4 + 60},
        {"a_usrconf_new_ll_i", (xdrproc_t)xdr_a_usrconf_new_ll_i, 1, 4 + 176},
        {"a_init_i", (xdrproc_t)xdr_a_init_i, 0, 4 + 8},
        {"a_bif_new_i", (xdrproc_t)xdr_a_bif_new_i, 0, 4 + 52},
        {"a_cha_userid_i", (xdrproc_t)xdr_a_cha_userid_i, 0, 4 + 48},
        {"a_trigger 0", (xdrproc_t)xdr_a_trigger, 0, 8},
        {"a_trigger 2", (xdrproc_t)xdr_a_trigger, 2, 12},
        {"a_trigger 4", (xdrproc_t)xdr_a_trigger, 4, 48},
        {"a_event 1", (xdrproc_t)xdr_a_event, 1, 16},
        {"a_event 4", (xdrproc_t)xdr_a_event, 4, 16},
        {"a_board_entry_data", (xdrproc_t)xdr_a_board_entry_data, -1, 372},
        {"a_forward_i", (xdrproc_t)xdr_a_forward_i, -1, 288},
        {"a_print_dok_i", (xdrproc_t)xdr_a_print_dok_i, -1, 108},
        {"a_get_logl_i", (xdrproc_t)xdr_a_get_logl_i, -1, 184},
        {"a_cha_pw_i", (xdrproc_t)xdr_a_cha_pw_i, -1, 216},
        {"a_get_pageb_i", (xdrproc_t)xdr_a_get_pageb_i, -1, 68},
        {"a_put_pageb_i (no data)", (xdrproc_t)xdr_a_put_pageb_i, -1, 68},
        {"a_put_log_i (no text)", (xdrproc_t)xdr_a_put_log_i, -1, 56},
        {"a_tra_str_i (no data)", (xdrproc_t)xdr_a_tra_str_i, -1, 328},
        {"a_subscribe_i (tag 0)", (xdrproc_t)xdr_a_subscribe_i, -1, 24},
    };
    for (const Case &c : cases) {
        alignas(8) unsigned char obj[8192] = {};
        if (c.version >= 0)
            std::memcpy(obj, &c.version, sizeof c.version);
        Bytes b;
        ASSERT_TRUE(encode(c.fn, obj, b)) << c.name;
        EXPECT_EQ(b.size(), c.wire) << c.name;
    }
}

// Each versioned type takes exactly its versions, each union exactly its
// tags, encoding and decoding alike: anything else must neither be sent nor
// be accepted in a reply.
TEST(AlphaXdr, VersionedTypesAcceptExactlyTheirVersions)
{
    struct Case {
        const char *name;
        xdrproc_t fn;
        std::vector<int> accepted;
    };
    const Case cases[] = {
        {"a_usrconf_new_i", (xdrproc_t)xdr_a_usrconf_new_i, {1}},
        {"a_usrconf_new", (xdrproc_t)xdr_a_usrconf_new, {1}},
        {"a_usrconf_new_ll_i", (xdrproc_t)xdr_a_usrconf_new_ll_i, {1}},
        {"a_init_i", (xdrproc_t)xdr_a_init_i, {0}},
        {"a_e_rec_new", (xdrproc_t)xdr_a_e_rec_new, {1}},
        {"a_put_s_stat_new_i", (xdrproc_t)xdr_a_put_s_stat_new_i, {1}},
        {"a_bif_new_i", (xdrproc_t)xdr_a_bif_new_i, {0}},
        {"a_bif_new_o", (xdrproc_t)xdr_a_bif_new_o, {0}},
        {"a_cha_s_rec_new_i", (xdrproc_t)xdr_a_cha_s_rec_new_i, {1}},
        {"a_cha_userid_i", (xdrproc_t)xdr_a_cha_userid_i, {0}},
        {"a_get_s_rec_new_i", (xdrproc_t)xdr_a_get_s_rec_new_i, {1}},
        {"a_s_rec_new", (xdrproc_t)xdr_a_s_rec_new, {0, 1}},
        {"a_get_s_rec_new_ll_i", (xdrproc_t)xdr_a_get_s_rec_new_ll_i, {1}},
        {"a_sendjob", (xdrproc_t)xdr_a_sendjob, {0, 1}},
        {"a_get_sendjob_ll_i", (xdrproc_t)xdr_a_get_sendjob_ll_i, {0}},
        {"a_send_new_i", (xdrproc_t)xdr_a_send_new_i, {0, 1}},
        {"a_send_new_o", (xdrproc_t)xdr_a_send_new_o, {0}},
        {"a_trigger", (xdrproc_t)xdr_a_trigger, {0, 1, 2, 3, 4}},
        {"a_event", (xdrproc_t)xdr_a_event, {0, 1, 2, 3, 4}},
    };
    for (const Case &c : cases) {
        for (int v = -1; v <= 5; ++v) {
            const bool accepted =
                std::find(c.accepted.begin(), c.accepted.end(), v) != c.accepted.end();
            alignas(8) unsigned char obj[8192] = {};
            std::memcpy(obj, &v, sizeof v);
            Bytes b;
            EXPECT_EQ(encode(c.fn, obj, b), accepted) << c.name << " encoding version " << v;

            alignas(8) unsigned char back[8192] = {};
            const Bytes wire = cat({words({static_cast<uint32_t>(v)}), Bytes(4096, 0)});
            EXPECT_EQ(decode(c.fn, back, wire), accepted) << c.name << " decoding version " << v;
            release(c.fn, back);
        }
    }
}

// An answer whose embedded record carries a version the type does not read
// is refused as a whole.
TEST(AlphaXdr, AnswerWithAnUnreadableRecordVersionDoesNotDecode)
{
    const Bytes v0 = cat({words({0, 0}), Bytes(484, 0)});  // error 0, a_e_rec_new version 0
    const Bytes v1 = cat({words({0, 1}), Bytes(484, 0)});
    a_get_e_rec_new_o back{};
    EXPECT_FALSE(decode(xdr_a_get_e_rec_new_o, &back, v0));
    EXPECT_TRUE(decode(xdr_a_get_e_rec_new_o, &back, v1));
}

// A stub returns nothing for an answer that does not decode, and zeroes its
// static answer before the next call: what the failed decode allocated must
// be released by then, leaving no pointer behind.
TEST(AlphaXdr, AnswerThatFailsToDecodeKeepsNoMemory)
{
    const Bytes entry = usrconf_entry_bytes("anna", "k", "v");
    a_usrconf_ll_o u{};
    EXPECT_FALSE(decode(xdr_a_usrconf_ll_o, &u, cat({words({1, 1, 0}), entry, entry})));
    EXPECT_EQ(u.list, nullptr);  // the chain arrived, the count did not

    a_get_e_o e{};
    const Bytes rec = Bytes(444, 0);
    EXPECT_FALSE(decode(xdr_a_get_e_o, &e, cat({words({2, 1}), rec, words({1}), Bytes(100, 0)})));
    EXPECT_EQ(e.list, nullptr);

    page_dat pd{};
    EXPECT_FALSE(decode(xdr_page_dat, &pd, cat({words({100}), Bytes(40, 'x')})));
    EXPECT_EQ(pd.page_dat_val, nullptr);

    a_get_pageb_o pb{};
    EXPECT_FALSE(decode(xdr_a_get_pageb_o, &pb, cat({words({1, 8, 8}), Bytes(4, 'x')})));
    EXPECT_EQ(pb.data.page_dat_val, nullptr);
}

TEST(AlphaXdr, TriggerOfTagZeroCarriesOneShort)
{
    a_trigger t{};
    t.tag = 0;
    t.a_trigger_u.any = -2;
    EXPECT_EQ(enc(xdr_a_trigger, &t), words({0, 0xfffffffe}));

    t.tag = 5;
    Bytes b;
    EXPECT_FALSE(encode(xdr_a_trigger, &t, b));
    a_trigger back{};
    EXPECT_FALSE(decode(xdr_a_trigger, &back, words({5, 0, 0, 0})));
}

// A log line holds at most 80 bytes, also when it arrives; a page and a
// log text have no limit, the log text's count taking in its NUL.
TEST(AlphaXdr, OnlyTheLogLineHasALengthLimit)
{
    zeile back{};
    EXPECT_TRUE(decode(xdr_zeile, &back, cat({words({80}), Bytes(80, 'x')})));
    release(xdr_zeile, &back);
    EXPECT_FALSE(decode(xdr_zeile, &back, cat({words({81}), Bytes(84, 'x')})));

    char text[] = "abc";
    a_put_log_i log{"anna", 1, 2, {4, text}};
    EXPECT_EQ(enc(xdr_a_put_log_i, &log),
              cat({strn("anna", 10), words({1, 2, 4}), Bytes{'a', 'b', 'c', 0}}));

    Bytes b;
    std::vector<char> page(100001, 'p');
    page_dat pd{static_cast<u_int>(page.size()), page.data()};
    ASSERT_TRUE(encode(xdr_page_dat, &pd, b, 200000));
    EXPECT_EQ(b.size(), 4u + 100004u);
    page_dat pback{};
    ASSERT_TRUE(decode(xdr_page_dat, &pback, b));
    EXPECT_EQ(pback.page_dat_len, page.size());
    release(xdr_page_dat, &pback);
}

// rpcgen reads runs of plain fields through an inline fast path; a long
// read there must keep its sign like every other long.
TEST(AlphaXdr, NegativeLongsSurviveTheInlineFastPath)
{
    a_get_inf_o inf{};
    inf.count = -1;
    for (int i = 0; i < 1000; ++i)
        inf.values[i] = -i;
    a_get_inf_o back{};
    ASSERT_TRUE(decode(xdr_a_get_inf_o, &back, enc(xdr_a_get_inf_o, &inf)));
    EXPECT_EQ(back.count, -1);
    EXPECT_EQ(back.values[999], -999);

    a_s_rec s{};
    s.start = -7;
    s.result = -2147483647L - 1;
    a_s_rec sback{};
    ASSERT_TRUE(decode(xdr_a_s_rec, &sback, enc(xdr_a_s_rec, &s)));
    EXPECT_EQ(sback.start, -7);
    EXPECT_EQ(sback.result, -2147483647L - 1);
}

namespace {

constexpr long kLongChain = 1000000;

// Encodes and decodes a chain of kLongChain nodes of one kind; the child
// process that runs it has a 1 MiB stack, which one frame per node would
// overflow many times over.
template <class Node, class Fill>
bool round_trip_long_chain(bool_t (*xdr_node)(XDR *, Node *), size_t wire_per_node, Fill fill)
{
    std::vector<Node> nodes(kLongChain);
    for (long i = 0; i < kLongChain; ++i) {
        fill(nodes[i], i);
        nodes[i].next = i + 1 < kLongChain ? &nodes[i + 1] : nullptr;
    }
    std::vector<char> buf(kLongChain * wire_per_node);
    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
    bool ok = xdr_node(&x, nodes.data()) && xdr_getpos(&x) == buf.size();
    xdr_destroy(&x);

    Node back{};
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_DECODE);
    ok = ok && xdr_node(&x, &back);
    xdr_destroy(&x);
    long n = 0;
    for (Node *p = &back; p != nullptr; p = p->next)
        ++n;
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_node), reinterpret_cast<char *>(&back));
    return ok && n == kLongChain;
}

}  // namespace

TEST(AlphaXdr, MillionNodeChainsNeedNoDeepStack)
{
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        rlimit small{1 << 20, 1 << 20};
        if (setrlimit(RLIMIT_STACK, &small) != 0)
            _exit(2);
        const bool first = round_trip_long_chain(xdr_a_g_dok_ll, 4 + 84, [](a_g_dok_ll &n, long i) {
            std::snprintf(n.name, sizeof n.name, "%ld", i);
        });
        const bool last = round_trip_long_chain(xdr_a_p_rec_ll, 188 + 4,
                                                [](a_p_rec_ll &n, long i) { n.entry.nr = i; });
        _exit(first && last ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
