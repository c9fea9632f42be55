// Wire bytes of the common types and of the route, configuration and
// usrconf records, compared with bytes written out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "a_lib.h"
#include "o_lib.h"
#include "xdr_bytes.hpp"

using namespace xdrtest;

TEST(CommonXdr, FixedWidthStringsTakeOneUnitPerCharacter)
{
    str10 s{};
    std::strcpy(s, "abc");
    Bytes b;
    ASSERT_TRUE(encode(xdr_str10, s, b));
    EXPECT_EQ(b.size(), 44u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 16), words({97, 98, 99, 0}));

    str10 empty{};
    ASSERT_TRUE(encode(xdr_str10, empty, b));
    EXPECT_EQ(b, Bytes(44, 0));

    // A byte above 0x7f travels unsigned, in the last byte of its unit.
    str80 umlaut{};
    std::strcpy(umlaut, "\xfc");
    ASSERT_TRUE(encode(xdr_str80, umlaut, b));
    EXPECT_EQ(b.size(), 324u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), words({0xfc}));

    str80 back{};
    ASSERT_TRUE(decode(xdr_str80, back, b));
    EXPECT_STREQ(back, "\xfc");
}

TEST(CommonXdr, EverySizedTypeHasItsWireLength)
{
    struct Case {
        const char *name;
        xdrproc_t fn;
        size_t chars;
        size_t wire;
    };
    const Case cases[] = {
        {"str20", (xdrproc_t)xdr_str20, 21, 84},       {"str30", (xdrproc_t)xdr_str30, 31, 124},
        {"str35", (xdrproc_t)xdr_str35, 36, 144},      {"str60", (xdrproc_t)xdr_str60, 61, 244},
        {"mailaddrtype", (xdrproc_t)xdr_mailaddrtype, 81, 324},
        {"fntyp", (xdrproc_t)xdr_fntyp, 15, 60},
    };
    for (const Case &c : cases) {
        char buf[128] = {};
        Bytes b;
        ASSERT_TRUE(encode(c.fn, buf, b)) << c.name;
        EXPECT_EQ(b.size(), c.wire) << c.name;
        EXPECT_EQ(c.chars * 4, c.wire) << c.name;
    }
}

TEST(CommonXdr, PermsetCompatAndOpaqueStringArePadded)
{
    permsettype p = {'\x01', '\x7f', '\xff'};
    Bytes b;
    ASSERT_TRUE(encode(xdr_permsettype, p, b));
    EXPECT_EQ(b, (Bytes{0x01, 0x7f, 0xff, 0x00}));

    compat_o c{1, -5};
    ASSERT_TRUE(encode(xdr_compat_o, &c, b));
    EXPECT_EQ(b, words({1, 0xfffffffb}));
    compat_o back{};
    ASSERT_TRUE(decode(xdr_compat_o, &back, b));
    EXPECT_EQ(back.second, -5) << "a negative long keeps its sign";

    char five[] = "hello";
    opaque_string o{5, five};
    ASSERT_TRUE(encode(xdr_opaque_string, &o, b));
    EXPECT_EQ(b, cat({words({5}), Bytes{'h', 'e', 'l', 'l', 'o', 0, 0, 0}}));
    opaque_string none{0, nullptr};
    ASSERT_TRUE(encode(xdr_opaque_string, &none, b));
    EXPECT_EQ(b, words({0}));
}

// Lists: every presence flag first, then the entries from the last node to
// the first.
TEST(CommonXdr, Str10ListSendsFlagsThenEntriesLastToFirst)
{
    str10_ll third{nullptr, "third"}, second{&third, "second"}, first{&second, "first"};
    struct Holder {
        str10_ll *list;
    } h{&first};
    auto holder_xdr = [](XDR *x, Holder *p) -> bool_t {
        return xdr_pointer(x, reinterpret_cast<char **>(&p->list), sizeof(str10_ll),
                           (xdrproc_t)xdr_str10_ll);
    };
    Bytes b;
    ASSERT_TRUE(encode(+holder_xdr, &h, b));
    EXPECT_EQ(b, cat({words({1, 1, 1, 0}), strn("third", 10), strn("second", 10),
                      strn("first", 10)}));

    Holder back{};
    ASSERT_TRUE(decode(+holder_xdr, &back, b));
    ASSERT_NE(back.list, nullptr);
    ASSERT_NE(back.list->next, nullptr);
    ASSERT_NE(back.list->next->next, nullptr);
    EXPECT_STREQ(back.list->value, "first");
    EXPECT_STREQ(back.list->next->value, "second");
    EXPECT_STREQ(back.list->next->next->value, "third");
    EXPECT_EQ(back.list->next->next->next, nullptr);
    release(+holder_xdr, &back);
    EXPECT_EQ(back.list, nullptr);

    Holder empty{nullptr};
    ASSERT_TRUE(encode(+holder_xdr, &empty, b));
    EXPECT_EQ(b, words({0}));

    // Flags with nothing behind them: refused, and nothing is left allocated
    // (the sanitizer build checks the latter).
    Holder hostile{};
    EXPECT_FALSE(decode(+holder_xdr, &hostile, words({1, 1, 1, 1, 0})));
    release(+holder_xdr, &hostile);
}

TEST(CommonXdr, TextListCarriesRawBytes)
{
    text_ll node{};
    std::memcpy(node.text, "line", 4);
    Bytes b;
    ASSERT_TRUE(encode(xdr_text_ll, &node, b));
    Bytes expected = words({0});
    Bytes text(104, 0);
    std::memcpy(text.data(), "line", 4);
    EXPECT_EQ(b, cat({expected, text}));
}

TEST(OmegaXdr, RouteRecordsHaveTheirSizesAndRefuseOtherVersions)
{
    o_apply_route_new_i req{};
    req.version = 0;
    std::strcpy(req.o_apply_route_new_i_u.v0.number, "4711");
    Bytes b;
    ASSERT_TRUE(encode(xdr_o_apply_route_new_i, &req, b));
    EXPECT_EQ(b.size(), 132u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), words({0, '4'}));
    req.version = 1;
    ASSERT_TRUE(encode(xdr_o_apply_route_new_i, &req, b));
    EXPECT_EQ(b.size(), 172u);
    req.version = 2;
    EXPECT_FALSE(encode(xdr_o_apply_route_new_i, &req, b));

    o_apply_route_new_o ans{};
    ans.o_apply_route_new_o_u.v0.target_value = -5;
    ans.o_apply_route_new_o_u.v0.error = -2;
    ASSERT_TRUE(encode(xdr_o_apply_route_new_o, &ans, b));
    ASSERT_EQ(b.size(), 388u);
    EXPECT_EQ(Bytes(b.begin() + 380, b.end()), words({0xfffffffb, 0xfffffffe}));
    o_apply_route_new_o back{};
    ASSERT_TRUE(decode(xdr_o_apply_route_new_o, &back, b));
    EXPECT_EQ(back.o_apply_route_new_o_u.v0.error, -2);
    EXPECT_EQ(back.o_apply_route_new_o_u.v0.target_value, -5);
    b[3] = 1;  // an answer of version 1 does not decode
    EXPECT_FALSE(decode(xdr_o_apply_route_new_o, &back, b));

    o_route_new route{};
    ASSERT_TRUE(encode(xdr_o_route_new, &route, b));
    EXPECT_EQ(b.size(), 680u);
    route.version = 1;
    ASSERT_TRUE(encode(xdr_o_route_new, &route, b));
    EXPECT_EQ(b.size(), 720u);

    o_config cfg{};
    ASSERT_TRUE(encode(xdr_o_config, &cfg, b));
    EXPECT_EQ(b.size(), 372u);
}

TEST(AlphaXdr, UsrconfRecordsHaveTheirSizesAndAcceptOnlyVersionOne)
{
    Bytes b;
    a_usrconf_i old{};
    ASSERT_TRUE(encode(xdr_a_usrconf_i, &old, b));
    EXPECT_EQ(b.size(), 88u);
    a_put_usrconf_i put{};
    ASSERT_TRUE(encode(xdr_a_put_usrconf_i, &put, b));
    EXPECT_EQ(b.size(), 412u);
    a_get_usrconf_new_o got{};
    ASSERT_TRUE(encode(xdr_a_get_usrconf_new_o, &got, b));
    EXPECT_EQ(b.size(), 328u);

    a_usrconf_new_i key{};
    a_usrconf_new entry{};
    for (int version : {0, 2}) {
        key.version = version;
        entry.version = version;
        EXPECT_FALSE(encode(xdr_a_usrconf_new_i, &key, b)) << version;
        EXPECT_FALSE(encode(xdr_a_usrconf_new, &entry, b)) << version;
        EXPECT_FALSE(decode(xdr_a_usrconf_new_i, &key, words({static_cast<uint32_t>(version)})));
    }
    key.version = 1;
    entry.version = 1;
    ASSERT_TRUE(encode(xdr_a_usrconf_new_i, &key, b));
    EXPECT_EQ(b.size(), 172u);
    ASSERT_TRUE(encode(xdr_a_usrconf_new, &entry, b));
    EXPECT_EQ(b.size(), 496u);
}

TEST(AlphaXdr, LogLineHoldsAtMostEightyBytes)
{
    std::string text(79, 'x');
    zeile z{80, text.data()};
    Bytes b;
    ASSERT_TRUE(encode(xdr_zeile, &z, b));
    EXPECT_EQ(b.size(), 84u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), words({80}));
    std::string longer(80, 'x');
    zeile z81{81, longer.data()};
    EXPECT_FALSE(encode(xdr_zeile, &z81, b));
}
