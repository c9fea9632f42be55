// The alpha wrapper families against the development alpha server: what each
// wrapper sends (read back from the server's request notes), what it makes of
// the answer, what it hands over, and what it refuses before sending.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "a_lib.h"
#include "devservers.hpp"
#include "xdr_bytes.hpp"

using xdrtest::Bytes;

namespace {

template <class T, class Fn>
Bytes wire(Fn fn, T obj)
{
    Bytes b;
    EXPECT_TRUE(xdrtest::encode(fn, &obj, b));
    return b;
}

// A call's code and what it left behind, as one line.
template <class... V>
std::string got(int rc, const V &...values)
{
    std::ostringstream out;
    out << rc;
    ((out << ' ' << values), ...);
    return out.str();
}

// One step of a test: the server's directives for it, the calls and what they
// gave, and (when proc is set) the requests of proc it made.
struct Step {
    std::string directives;
    std::function<std::string()> call;
    std::string expected;
    unsigned long proc = 0;
    std::vector<Bytes> sent = {};
};

class Alpha : public testing::Test {
protected:
    Alpha() { e2e::use_devservers_in_this_process(); }
    ~Alpha() override { a_close_client_lib(nullptr); }

    std::vector<Bytes> requests(unsigned long proc) const
    {
        std::vector<Bytes> found;
        const std::string prefix = "rpc " + std::to_string(proc) + " ";
        for (const std::string &line : servers_.event_log()) {
            if (!line.starts_with(prefix))
                continue;
            Bytes &b = found.emplace_back();
            for (size_t i = prefix.size(); i + 1 < line.size(); i += 2)
                b.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
        }
        return found;
    }

    void run(const std::vector<Step> &steps) const
    {
        for (size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i) + " under \"" + steps[i].directives + "\"");
            servers_.alpha_control(steps[i].directives + "\n");
            servers_.clear_event_log();
            EXPECT_EQ(steps[i].call(), steps[i].expected);
            EXPECT_TRUE(steps[i].proc == 0 || requests(steps[i].proc) == steps[i].sent) << "other requests";
        }
    }

    e2e::DevServers servers_;
};

}  // namespace

// Each yes/no member fills its request in the order of its arguments, cutting
// texts to their fields (the log text travels whole with its NUL); TRUE gives 0,
// FALSE 34.
TEST_F(Alpha, YesNoWrappersSendTheirArgumentsInOrderAndGive34ForFalse)
{
    static const std::string log(300, 'L'), host(40, 'h');
    a_forward_i forward{"anna", 2, 3, "", "bert", "id-of-elev", 7};
    std::memset(forward.host, 'h', 35);
    const std::vector<std::tuple<unsigned long, int (*)(), Bytes>> rows = {
        {A_CP_PAGE, [] { return a_cp_page_lib(nullptr, "annabellexyz", 2, 3, 4, 5, 6); },
         wire(xdr_a_cp_page_i, a_cp_page_i{"annabellex", 2, 3, 4, 5, 6})},
        {A_DEL_DOK, [] { return a_del_dok_lib(nullptr, "anna", 2, 3, TRUE); },
         wire(xdr_a_del_dok_i, a_del_dok_i{"anna", 2, 3, TRUE})},
        {A_INS_PAGE, [] { return a_ins_page_lib(nullptr, "anna", 3, -4); },
         wire(xdr_a_ins_page_i, a_ins_page_i{"anna", 3, -4})},
        {A_FORWARD, [] { return a_forward_lib(nullptr, "anna", 2, 3, host.c_str(), "bert", "id-of-eleven", 7); },
         wire(xdr_a_forward_i, forward)},
        {A_PUT_LOG, [] { return a_put_log_lib(nullptr, "anna", 1, 2, log.c_str()); },
         wire(xdr_a_put_log_i, a_put_log_i{"anna", 1, 2, {301, const_cast<char *>(log.c_str())}})},
    };
    std::vector<Step> steps;
    for (const auto &[proc, call, request] : rows) {
        steps.push_back({"", [call] { return got(call()); }, "0", proc, {request}});
        steps.push_back({"false " + std::to_string(proc), [call] { return got(call()); }, "34"});
    }
    run(steps);
}

// Copy-out, record and route wrappers write their out arguments only when the
// answer counts: an absent record or a refusal gives its code and leaves them.
TEST_F(Alpha, OutArgumentsAreWrittenOnlyWhenTheAnswerCounts)
{
    auto bif = [] { bool_t b = 7; return got(a_bif_lib(nullptr, "anna", 3, &b), b); };
    auto mk_dok = [] { long nr = -1; return got(a_mk_dok_lib(nullptr, "anna", &nr), nr); };
    auto status = [] { bool_t v = 7; return got(a_exc_status_lib(nullptr, "anna", 1, 2, 3, TRUE, &v), v); };
    auto compat = [] { long first = -1, level = -1; return got(a_get_compat_lib(nullptr, &first, &level), level); };
    auto e_rec = [](long nr) {
        a_e_rec e{};
        e.nr = 99;
        return got(a_get_e_rec_lib(nullptr, "anna", nr, &e), e.nr, e.time, e.subject);
    };
    auto user = [] { a_user_rec u{}; return got(a_get_user_lib(nullptr, "annabellexyz", &u), u.userid, u.counters[9]); };
    auto omega_user = [] { o_user u{}; return got(a_get_o_user_lib(nullptr, "alpha.example", "anna", &u), u.alpha_user); };
    auto route = [] {
        char host[36] = "h", alpha_user[11] = "u", id[11] = "i";
        return got(a_apply_route_new_lib(nullptr, "0301234567890", "qual", host, alpha_user, id), host, alpha_user, id);
    };
    run({
        {"", bif, "0 1", A_BIF, {wire(xdr_a_bif_i, a_bif_i{"anna", 3})}},
        {"false 10", bif, "0 0"},  // a FALSE answer is an answer
        {"", mk_dok, "0 4711"},
        {"false 3", mk_dok, "34 -1"},
        {"", status, "0 1", A_EXC_STATUS, {wire(xdr_a_exc_status_i, a_exc_status_i{"anna", 1, 2, 3, TRUE})}},
        {"error 113 -7", status, "-7 7"},
        {"", compat, "0 10"},
        {"compat 75 0 9", compat, "32 -1"},
        {"", [=] { return e_rec(5); }, "0 5 -5 subject 5"},
        {"", [=] { return e_rec(0); }, "25 99 0 "},  // the server's empty record
        {"", user, "0 annabellex 4"},
        {"false 30", user, "6  0"},
        {"", omega_user, "0 anna", A_GET_O_USER, {wire(xdr_a_get_o_user_i, a_get_o_user_i{"alpha.example", "anna"})}},
        {"false 35", omega_user, "6 "},  // present when its user id is not empty
        {"", route, "0 host-0301234567 qual 0301234567"},
        {"error 117 25", route, "25 h u i"},
    });
}

// Two blocks from one stub, the first read after the second call: the stub's
// static answer is reused by the next call, a handed-over chain must not be.
template <class Res, class Node>
std::string two_blocks(int (*wrapper)(CLIENT *, long, short, long, long, Res *), void (*release)(Res *),
                       Node *Res::*list)
{
    Res first{}, second{};
    std::string numbers = got(wrapper(nullptr, 1, 2, 10, 3, &first) + wrapper(nullptr, 1, 2, 20, 3, &second));
    for (const Res *r : {&first, &second})
        for (Node *n = r->*list; n != nullptr; n = n->next)
            numbers += " " + std::to_string(n->entry.nr);
    release(&first);
    release(&second);
    return numbers + (first.*list == nullptr ? " released" : "");
}

// Hand-over wrappers give the caller the answer's chain, which outlives the
// next call until freed; an empty answer gives 25, a code of the server's is
// the result, and neither hands anything over.
TEST_F(Alpha, HandOverWrappersGiveTheChainAwayOrNothing)
{
    auto usrconf = [] {
        a_usrconf_ll_o u{nullptr, 99, 0};
        std::string rc = got(a_get_usrconf_ll_lib(nullptr, "anna", "GD_", 10, TRUE, &u), u.count);
        for (auto *n = u.list; n != nullptr; n = n->next)
            rc += std::string(" ") + n->entry.key + "=" + n->entry.value;
        a_usrconf_ll_free(&u);
        return rc;
    };
    auto pageb = [] {
        a_get_pageb_o p{};
        const int rc = a_get_pageb_lib(nullptr, "anna", 1, 3, 4, 5, 0, 100, &p);
        const std::string data = p.data.page_dat_val ? std::string(p.data.page_dat_val, p.data.page_dat_len) : "none";
        a_get_pageb_free(&p);
        return got(rc, data);
    };
    auto empty = [] {
        a_get_e_o e{99, nullptr};
        a_get_s_rec_new_ll_o s{0, 99, nullptr};
        o_get_tgroupl_llb_o t{99, nullptr};
        return got(a_get_eb_lib(nullptr, 1, 2, 3, 4, &e), e.count, a_get_s_rec_new_ll_lib(nullptr, 1, 1, 2, "", "", 3, 4, &s),
                   s.count, a_get_tgroupl_llb_lib(nullptr, "h", "anna", "g", "", "", 0, &t), t.count);
    };
    auto tgroupl = [] {
        o_get_tgroupl_llb_o t{};
        const int rc = a_get_tgroupl_llb_lib(nullptr, "alpha.example", "anna", "grp", "f5", "f6", 0, &t);
        const std::string first = t.list ? std::string(t.list->entry.f1) + " " + t.list->next->entry.f3 : "none";
        a_get_tgroupl_llb_free(&t);
        return got(rc, t.count, first);
    };
    run({
        {"", [] { return got(a_put_usrconf_lib(nullptr, "anna", "GD_A", "1"), a_put_usrconf_lib(nullptr, "anna", "GD_B", "2"),
                             a_put_usrconf_lib(nullptr, "anna", "X", "3")); }, "0 0 0"},
        {"", usrconf, "0 2 GD_A=1 GD_B=2", A_GET_USRCONF_LL,
         {wire(xdr_a_usrconf_ll_i, a_usrconf_ll_i{"anna", "GD_", 10, TRUE})}},
        {"error 112 9", usrconf, "9 99"},
        {"count 85 3", [] { return two_blocks(a_get_eb_lib, a_get_eb_free, &a_get_e_o::list); },
         "0 10 11 12 20 21 22 released", A_GET_EB,
         {wire(xdr_a_get_eb_i, a_get_eb_i{1, 2, 10, 3}), wire(xdr_a_get_eb_i, a_get_eb_i{1, 2, 20, 3})}},
        {"count 86 3", [] { return two_blocks(a_get_pb_lib, a_get_pb_free, &a_get_p_o::list); },
         "0 10 11 12 20 21 22 released"},
        {"count 87 3", [] { return two_blocks(a_get_sb_lib, a_get_sb_free, &a_get_s_o::list); },
         "0 10 11 12 20 21 22 released"},
        {"count 85 0\ncount 139 0\ncount 93 0", empty, "25 99 25 99 25 99"},
        {"", pageb, "0 page 3/4", A_GET_PAGEB, {wire(xdr_a_get_pageb_i, a_get_pageb_i{"anna", 1, 3, 4, 5, 0, 100})}},
        {"false 59", pageb, "29 none"},    // a page needs confirmation
        {"count 59 0", pageb, "29 none"},  // and a length
        // The tgroupl block takes its request from scattered arguments and asks for 30 when told 0.
        {"count 93 2", tgroupl, "0 2 anna m1", A_GET_TGROUPL_LLB,
         {wire(xdr_o_get_tgroupl_llb_i, o_get_tgroupl_llb_i{"alpha.example", "anna", "grp", FALSE, "f5", "f6", 30})}},
    });
}

// Up to interface level 9 only the old fax line procedure, from 10 on only the
// new one: the other wrapper gives 23 before asking for the record. The old
// one sends the caller's buffer itself, bytes behind the NUL too.
TEST_F(Alpha, InterfaceLevelPicksTheFaxLineGeneration)
{
    static char name[11] = {'F', 'A', 'X', '1', '\0', 'r', 'e', 's', 't', '!', '\0'};
    auto old_line = [] { o_faxl r{}; return got(a_get_faxl_lib(nullptr, name, &r), r.name, r.f8, r.f18); };
    auto new_line = [] {
        o_faxl_new r{};
        return got(a_get_faxl_new_lib(nullptr, "FAX2-and-more", &r), r.version, r.o_faxl_new_u.v0.name,
                   r.o_faxl_new_u.v0.f20);
    };
    Bytes whole_buffer;
    ASSERT_TRUE(xdrtest::encode(xdr_str10, name, whole_buffer));
    o_get_faxl_new_i sent{};
    std::strcpy(sent.o_get_faxl_new_i_u.v0.name, "FAX2-and-m");
    run({
        {"compat 75 1 9", old_line, "0 FAX1 -8 line FAX1", A_GET_FAXL, {whole_buffer}},
        {"compat 75 1 9", new_line, "23 0  0", A_GET_FAXL_NEW, {}},
        {"compat 75 1 10", old_line, "23  0 ", A_GET_FAXL, {}},
        {"compat 75 1 10", new_line, "0 0 FAX2-and-m -20", A_GET_FAXL_NEW, {wire(xdr_o_get_faxl_new_i, sent)}},
        {"compat 75 0 9", [=] { return old_line() + ", " + new_line(); }, "32  0 , 32 0  0"},  // no level reported
        {"compat 75 1 9\nfalse 45", old_line, "25  0 "},  // an empty record
        {"compat 75 1 10\nerror 130 7", new_line, "7 0  0"},
        {"compat 75 1 10\nversion 130 1", new_line, "32 0  0"},  // a version the client does not read
        {"compat 75 1 11\nsystemerr 130", new_line, "16 0  0"},
    });
}

// The new-only wrappers: a missing procedure gives 76 and keeps the default
// handle (a failed call forgets it), a record version other than 1 is refused
// before anything is sent, the send job texts travel only for the text
// selectors, and a list's leading short is no code.
TEST_F(Alpha, NewOnlyWrappersRefuseWhatTheServerCannotTake)
{
    auto e_list = [](int version) {
        a_get_e_rec_new_ll_o e{};
        const int rc = a_get_e_rec_new_ll_lib(nullptr, 8, version, 2, 40, 2, &e);
        const std::string line = e.list ? e.list->entry.a_e_rec_new_u.v1.line : "none";
        a_get_e_rec_new_ll_free(&e);
        return got(rc, e.error, line, alpha_clnt_var != nullptr ? "held" : "forgotten");
    };
    auto s_list = [](short selector) {
        a_get_s_rec_new_ll_o s{};
        const std::string pattern(90, 'p');  // sent cut to 80
        std::string rc = got(a_get_s_rec_new_ll_lib(nullptr, 9, 1, selector, "textlongerxyz", pattern.c_str(), 100, 2, &s),
                             s.count);
        if (s.list != nullptr)  // both record versions come back
            rc += " " + std::to_string(s.list->entry.version) + " " + s.list->next->entry.a_s_rec_new_u.v1.x_text3;
        a_get_s_rec_new_ll_free(&s);
        return rc;
    };
    auto s_sent = [](short selector, const char *text, const std::string &pattern) {
        a_get_s_rec_new_ll_i i{1, {}};
        i.a_get_s_rec_new_ll_i_u.v1 = {9, selector, "", "", 100, 2};
        std::strcpy(i.a_get_s_rec_new_ll_i_u.v1.text, text);
        std::strcpy(i.a_get_s_rec_new_ll_i_u.v1.pattern, pattern.c_str());
        return std::vector<Bytes>{wire(xdr_a_get_s_rec_new_ll_i, i)};
    };
    a_cha_userid_i cha{};
    cha.a_cha_userid_i_u.v0 = {12, "bertholdxy"};
    const std::string cut(80, 'p');
    run({
        {"noproc 142", [=] { return e_list(1); }, "76 0 none held"},
        {"noproc 136", [] { return got(a_cha_userid_lib(nullptr, 1, "bert"), alpha_clnt_var != nullptr); }, "76 1"},
        {"systemerr 142", [=] { return e_list(1); }, "16 0 none forgotten"},
        {"", [=] { return e_list(0) + ", " + e_list(2); }, "23 0 none held, 23 0 none held",
         A_GET_E_REC_NEW_LL, {}},
        {"", [=] { return s_list(5); }, "0 2 0 v1 101", A_GET_S_REC_NEW_LL, s_sent(5, "textlonger", cut)},
        {"", [=] { return s_list(6); }, "0 2 0 v1 101", A_GET_S_REC_NEW_LL, s_sent(6, "textlonger", cut)},
        {"", [=] { return s_list(7); }, "0 2 0 v1 101", A_GET_S_REC_NEW_LL, s_sent(7, "", "")},
        {"error 139 5", [=] { return s_list(4); }, "5 0"},
        {"error 142 3", [=] { return e_list(1); }, "0 3 line-of-twenty-40 held", A_GET_E_REC_NEW_LL,
         {wire(xdr_a_get_eb_i, a_get_eb_i{8, 2, 40, 2})}},  // asked with an unversioned block request
        {"error 136 -4", [] { return got(a_cha_userid_lib(nullptr, 12, "bertholdxyz")); }, "-4", A_CHA_USERID,
         {wire(xdr_a_cha_userid_i, cha)}},
    });
}

// A page goes up in chunks of its chunk size (1488 when told 0) until the
// offset passes its end; each chunk carries the page's bytes at its offset.
TEST_F(Alpha, PageUploadAdvancesByTheChunkSizeUntilTheOffsetPassesTheEnd)
{
    auto page_of = [](int n) {
        std::string s(static_cast<size_t>(n), '\0');
        for (int i = 0; i < n; ++i)
            s[static_cast<size_t>(i)] = static_cast<char>(i * 7 % 251);
        return s;
    };
    static const std::string page = page_of(3000), file = (servers_.dir() / "page").string();
    std::ofstream(file, std::ios::binary) << page;
    auto chunks = [](std::vector<std::pair<long, long>> at) {
        std::vector<Bytes> sent;
        for (auto [offset, length] : at)
            sent.push_back(wire(xdr_a_put_pageb_i, a_put_pageb_i{"anna", 42, 3, -1, offset, length,
                                                                 {static_cast<u_int>(length), const_cast<char *>(page.data() + offset)}}));
        return sent;
    };
    auto upload = [](int total, int chunk) {
        return [=] {
            const int rc = a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), total, chunk);
            return got(rc, alpha_clnt_var != nullptr ? "held" : "forgotten");
        };
    };
    const std::string missing = (servers_.dir() / "no-such-page").string();
    run({
        {"", upload(0, 0), "0 held", A_PUT_PAGEB, chunks({{0, 0}})},
        {"", upload(2976, 0), "0 held", A_PUT_PAGEB, chunks({{0, 1488}, {1488, 1488}, {2976, 0}})},
        {"", upload(3000, 1000), "0 held", A_PUT_PAGEB, chunks({{0, 1000}, {1000, 1000}, {2000, 1000}, {3000, 0}})},
        {"", upload(10, 4), "0 held", A_PUT_PAGEB, chunks({{0, 4}, {4, 4}, {8, 2}})},
        {"", upload(-1, 0), "0 held", A_PUT_PAGEB, {}},
        {"falseat 60 1488", upload(3000, 0), "34 held", A_PUT_PAGEB, chunks({{0, 1488}, {1488, 1488}})},  // the first refused chunk ends it
        {"systemerr 60", upload(3000, 0), "16 forgotten"},
        {"", [] { return got(a_put_page_lib(nullptr, "anna", 42, 3, -1, file.c_str(), 0)); }, "0", A_PUT_PAGEB,
         chunks({{0, 1488}, {1488, 1488}, {2976, 24}})},
        {"", [missing] {
             testing::internal::CaptureStderr();
             const int rc = a_put_page_lib(nullptr, "anna", 42, 3, -1, missing.c_str(), 0);
             return got(rc, testing::internal::GetCapturedStderr());
         }, "13 Error: cannot read file " + missing + "\n", A_PUT_PAGEB, {}},
    });
}
