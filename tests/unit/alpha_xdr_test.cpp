// Wire form of the alpha records: signs and counted lengths by hand, then
// tables of lengths and versions.
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "a_lib.h"
#include "xdr_bytes.hpp"

using namespace xdrtest;

// rpcgen reads runs of plain fields through an inline fast path; a long
// read there must keep its sign like every other long.
TEST(AlphaXdr, NegativeLongsSurviveTheInlineFastPath)
{
    a_get_inf_o inf{}, inf_back{};
    inf.values[999] = -2147483647L - 1;
    a_s_rec s{}, s_back{};
    s.next_try = -7;
    Bytes b, c;
    ASSERT_TRUE(encode(xdr_a_get_inf_o, &inf, b) && decode(xdr_a_get_inf_o, &inf_back, b) &&
                encode(xdr_a_s_rec, &s, c) && decode(xdr_a_s_rec, &s_back, c));
    EXPECT_EQ(inf_back.values[999], -2147483647L - 1);
    EXPECT_EQ(s_back.next_try, -7);
}

// A log line holds at most 80 bytes (81 are refused, sent or received); a log
// text's count takes in its NUL; a page has no limit, and its bytes, read in
// steps of 64 KiB, come back whole at and across a step.
TEST(AlphaXdr, OnlyTheLogLineHasALengthLimit)
{
    std::string text(81, 'x');
    zeile line{80, text.data()}, longer{81, text.data()}, line_back{};
    char log_text[] = "abc";
    a_put_log_i log{"anna", 1, 2, {4, log_text}};
    Bytes b;
    EXPECT_TRUE(encode(xdr_zeile, &line, b) && decode(xdr_zeile, &line_back, b));
    release(xdr_zeile, &line_back);
    EXPECT_FALSE(encode(xdr_zeile, &longer, b));
    EXPECT_FALSE(decode(xdr_zeile, &line_back, cat({words({81}), Bytes(84, 'x')})));
    ASSERT_TRUE(encode(xdr_a_put_log_i, &log, b));
    EXPECT_EQ(b, cat({strn("anna", 10), words({1, 2, 4}), Bytes{'a', 'b', 'c', 0}}));
    for (u_int len : {0u, 1u, 65535u, 65536u, 65537u, 200003u}) {
        Bytes page(len);
        std::iota(page.begin(), page.end(), uint8_t(1));
        const Bytes wire = cat({words({len}), page, Bytes((4 - len % 4) % 4, 0)});
        page_dat pd{len, reinterpret_cast<char *>(page.data())}, back{};
        ASSERT_TRUE(encode(xdr_page_dat, &pd, b, wire.size() + 4) &&
                    decode(xdr_page_dat, &back, wire));
        EXPECT_EQ(b, wire) << len;
        EXPECT_EQ(Bytes(back.page_dat_val, back.page_dat_val + back.page_dat_len), page) << len;
        release(xdr_page_dat, &back);
    }
}

TEST(AlphaXdr, EveryRecordHasItsWireLengthAndAcceptsExactlyItsVersions)
{
    expect_wire(
        false,
        "a_e_rec 444  a_p_rec 188  a_s_rec 440  a_user_rec 688  a_get_inf_o 4004  "
        "a_get_tzenv_o 980  a_query_tebu_i 3472  a_put_s_stat_i 112  a_cha_s_rec_i 192  "
        "a_board_entry_data 372  a_forward_i 288  a_print_dok_i 108  a_get_logl_i 184  "
        "a_cha_pw_i 216  a_get_pageb_i 68  a_put_pageb_i 68  a_put_log_i 56  a_tra_str_i 328  "
        "a_subscribe_i 24  a_usrconf_i 88  a_put_usrconf_i 412  a_get_usrconf_new_o 328  "
        "a_usrconf_ll_o 12");
    expect_wire(
        true,
        "a_usrconf_new_i 0,172  a_usrconf_new 0,496  a_usrconf_new_ll_i 0,180  a_init_i 12  "
        "a_e_rec_new 0,488  a_put_s_stat_new_i 0,492  a_bif_new_i 56  a_bif_new_o 12  "
        "a_cha_s_rec_new_i 0,200  a_cha_userid_i 52  a_get_s_rec_new_i 0,52  "
        "a_s_rec_new 444,1656  a_get_s_rec_new_ll_i 0,388  a_sendjob 1244,328  "
        "a_get_sendjob_ll_i 64  a_send_new_i 1108,2320  a_send_new_o 12  a_trigger 8,8,12,8,48  "
        "a_event 8,16,12,8,16");
}
