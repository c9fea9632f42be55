// The omega and alpha client libraries against the development servers, through
// real sockets and rpcbind: what each wrapper family sends (read back from the
// alpha server's request notes), what it makes of the answer, what it hands
// over, what it refuses before sending, and what becomes of the handles.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "a_lib.h"
#include "devservers.hpp"
#include "o_lib.h"
#include "otools.h"
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

// A call's code and what it left behind, as one line. Arguments are evaluated
// in no fixed order: a value the call changes is passed as a variable, not an
// expression.
template <class... V>
std::string got(int rc, const V &...values)
{
    std::ostringstream out;
    out << rc;
    ((out << ' ' << values), ...);
    return out.str();
}

const char *held(const CLIENT *c) { return c != nullptr ? "held" : "forgotten"; }

// One step: the servers' directives for it, the calls and what they gave, and
// (when proc is set) the alpha requests of proc it made.
struct Step {
    std::string directives;
    std::function<std::string()> call;
    std::string expected;
    unsigned long proc = 0;
    std::vector<Bytes> sent = {};
};

class ClientLibrary : public testing::Test {
protected:
    explicit ClientLibrary(bool old_alpha = false)
        : servers_({{"4711", "127.0.0.1", "mueller", "id1"}, {"0123456789", "alpha.example", "long", "id2"}},
                   {{"PINLENMIN", "4"}}, {{{"mueller", "GD_LDH"}, "127.0.0.1"}}, old_alpha)
    {
        e2e::use_devservers_in_this_process();
    }
    ~ClientLibrary() override
    {
        o_close_client_lib(nullptr);
        a_close_client_lib(nullptr);
    }

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
            servers_.omega_control(steps[i].directives + "\n");
            servers_.alpha_control(steps[i].directives + "\n");
            servers_.clear_event_log();
            EXPECT_EQ(steps[i].call(), steps[i].expected);
            EXPECT_TRUE(steps[i].proc == 0 || requests(steps[i].proc) == steps[i].sent) << "requests";
        }
    }

    e2e::DevServers servers_;
};

class OldAlphaServer : public ClientLibrary {
protected:
    OldAlphaServer() : ClientLibrary(true) {}
};

}  // namespace

// Each yes/no member fills its request in the order of its arguments, cutting
// texts to their fields (the log text travels whole with its NUL); TRUE gives
// 0, FALSE 34.
TEST_F(ClientLibrary, YesNoWrappersSendTheirArgumentsInOrderAndGive34ForFalse)
{
    static const std::string log(300, 'L'), host(40, 'h');
    a_forward_i forward{"anna", 2, 3, "", "bert", "id-of-elev", 7};
    std::memset(forward.host, 'h', 35);
    const std::vector<std::tuple<unsigned long, int (*)(), Bytes>> rows = {
        {A_CP_PAGE, [] { return a_cp_page_lib(nullptr, "annabellexyz", 2, 3, 4, 5, 6); },
         wire(xdr_a_cp_page_i, a_cp_page_i{"annabellex", 2, 3, 4, 5, 6})},
        {A_INS_PAGE, [] { return a_ins_page_lib(nullptr, "anna", 3, -4); },
         wire(xdr_a_ins_page_i, a_ins_page_i{"anna", 3, -4})},
        {A_FORWARD,
         [] { return a_forward_lib(nullptr, "anna", 2, 3, host.c_str(), "bert", "id-of-eleven", 7); },
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

// Copy-out, record, route and configuration wrappers write their out arguments
// only when the answer counts: an absent record, a refusal or an answer in a
// version the client does not read gives its code and leaves them alone.
TEST_F(ClientLibrary, OutArgumentsAreWrittenOnlyWhenTheAnswerCounts)
{
    auto bif = [] { bool_t b = 7; return got(a_bif_lib(nullptr, "anna", 3, &b), b); };
    auto mk_dok = [] { long nr = -1; return got(a_mk_dok_lib(nullptr, "anna", &nr), nr); };
    auto status = [] {
        bool_t v = 7;
        return got(a_exc_status_lib(nullptr, "anna", 1, 2, 3, TRUE, &v), v);
    };
    auto e_rec = [](long nr) {
        a_e_rec e{};
        e.nr = 99;
        return got(a_get_e_rec_lib(nullptr, "anna", nr, &e), e.nr, e.subject);
    };
    auto user = [] {
        a_user_rec u{};
        return got(a_get_user_lib(nullptr, "annabellexyz", &u), u.userid, u.counters[9]);
    };
    auto route = [](bool omega, const char *number) {
        char host[36] = "h", alpha_user[11] = "u", id[11] = "i";
        const int rc = omega ? o_apply_route_new_lib(nullptr, number, "", host, alpha_user, id)
                             : a_apply_route_new_lib(nullptr, number, "qual", host, alpha_user, id);
        return got(rc, host, alpha_user, id, held(omega_clnt_var));
    };
    auto config = [](const char *key) {
        char v[81] = "untouched";
        const int rc = o_get_config_lib(nullptr, key, v);
        return got(rc, std::strlen(v), v[0]);
    };
    auto omega_user = [] {
        o_user u{};
        return got(a_get_o_user_lib(nullptr, "alpha.example", "anna", &u), u.alpha_user);
    };
    auto ron = [] {
        o_route_new r{};
        const int rc = o_get_ron_lib(nullptr, "r9", &r);
        return got(rc, r.o_route_new_u.v0.target_user, r.o_route_new_u.v0.target_value);
    };
    run({
        {"", bif, "0 1", A_BIF, {wire(xdr_a_bif_i, a_bif_i{"anna", 3})}},
        {"false 10", bif, "0 0"},  // a FALSE answer is an answer
        {"false 3", mk_dok, "34 -1"},
        {"error 113 -7", status, "-7 7", A_EXC_STATUS,
         {wire(xdr_a_exc_status_i, a_exc_status_i{"anna", 1, 2, 3, TRUE})}},
        {"", [=] { return e_rec(5); }, "0 5 subject 5"},
        {"", [=] { return e_rec(0); }, "25 99 "},  // the server's empty record
        {"", user, "0 annabellex 4"},
        {"false 30", user, "6  0"},
        {"", omega_user, "0 anna", A_GET_O_USER,
         {wire(xdr_a_get_o_user_i, a_get_o_user_i{"alpha.example", "anna"})}},
        {"false 35", omega_user, "6 "},  // present only when its user id is not empty
        {"", [=] { return route(false, "0301234567890"); }, "0 host-0301234567 qual 0301234567 forgotten"},
        {"error 117 25", [=] { return route(false, "030"); }, "25 h u i forgotten"},
        {"", [=] { return route(true, "4711"); }, "0 127.0.0.1 mueller id1 held"},
        {"", [=] { return route(true, "9999"); }, "25 h u i held"},
        {"error 94 -7", [=] { return route(true, "4711"); }, "-7 h u i held"},
        {"version 94 1", [=] { return route(true, "4711"); }, "22 h u i forgotten"},
        {"", [=] {
             const int rc = o_put_ron_lib(nullptr, "r9", "descr", "5555", "", "127.0.0.1", "schmidt", "id9",
                                          "text", -42);
             return got(rc) + " " + ron();
         }, "0 0 schmidt -42"},
        {"version 92 1", ron, "32  0"},
        {"", [=] {
             const int rc = o_del_ron_lib(nullptr, "r9");
             return got(rc) + " " + ron();
         }, "0 25  0"},
        {"", [=] { return config("NOSUCHKEY"); }, "25 9 u"},
        {"", [=] {  // key and value cut to their fields
             const int rc = o_put_config_lib(nullptr, "ABCDEFGHIJKLMN", std::string(100, 'v').c_str());
             return got(rc) + " " + config("ABCDEFGHIJXYZ");
         }, "0 0 80 v"},
        // Under `false P` a change is not made; the configuration's put gives 22 then.
        {"false 48\nfalse 50", [] {
             return got(o_put_config_lib(nullptr, "K", "v"), o_del_config_lib(nullptr, "PINLENMIN"));
         }, "22 25"},
        {"", [=] { return config("K") + ", " + config("PINLENMIN"); }, "25 9 u, 0 1 4"},
    });
}

// Two blocks from one stub, the first read after the second call: the stub's
// static answer is reused by the next call, a handed-over chain must not be.
template <class Res>
std::string two_blocks(int (*wrapper)(CLIENT *, long, short, long, long, Res *), void (*release)(Res *))
{
    Res first{}, second{};
    const int rc = wrapper(nullptr, 1, 2, 10, 3, &first);
    std::string numbers = got(rc, wrapper(nullptr, 1, 2, 20, 3, &second));
    for (const Res *r : {&first, &second})
        for (auto *n = r->list; n != nullptr; n = n->next)
            numbers += " " + std::to_string(n->entry.nr);
    release(&first);
    release(&second);
    return numbers + (first.list == nullptr ? " released" : "");
}

// Hand-over wrappers give the caller the answer's chain, which outlives the next
// call until freed; an empty answer or a code of the server's hands nothing
// over and leaves the caller's record as it was.
TEST_F(ClientLibrary, HandOverWrappersGiveTheChainAwayOrNothing)
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
        std::string data(p.data.page_dat_val != nullptr ? p.data.page_dat_val : "", p.data.page_dat_len);
        a_get_pageb_free(&p);
        return got(rc, data);
    };
    auto empty = [] {
        a_get_e_o e{99, nullptr};
        a_get_s_rec_new_ll_o s{0, 99, nullptr};
        o_faxg_ll sentinel{};
        o_get_faxg_ll_o g{99, &sentinel};
        const int rc = o_get_faxg_ll_lib(nullptr, &g);
        return got(a_get_eb_lib(nullptr, 1, 2, 3, 4, &e), e.count,
                   a_get_s_rec_new_ll_lib(nullptr, 1, 1, 2, "", "", 3, 4, &s), s.count, rc, g.count,
                   g.list == &sentinel);
    };
    auto faxg = [] {
        o_get_faxg_ll_o first{}, second{};
        std::string names =
            got(o_get_faxg_ll_lib(nullptr, &first), o_get_faxg_ll_lib(nullptr, &second), first.count);
        for (auto *n = first.list; n != nullptr; n = n->next)
            names += std::string(" ") + n->entry.name;
        o_get_faxg_ll_free(&first);
        o_get_faxg_ll_free(&second);
        return names + (first.list == nullptr ? " released" : "");
    };
    auto tgroupl = [] {
        o_get_tgroupl_llb_o t{};
        const int rc = a_get_tgroupl_llb_lib(nullptr, "alpha.example", "anna", "grp", "f5", "f6", 0, &t);
        const std::string first =
            t.list && t.list->next ? std::string(t.list->entry.f1) + " " + t.list->next->entry.f3 : "none";
        a_get_tgroupl_llb_free(&t);
        return got(rc, t.count, first);
    };
    run({
        {"", [] {
             return got(a_put_usrconf_lib(nullptr, "anna", "GD_A", "1"),
                        a_put_usrconf_lib(nullptr, "anna", "GD_B", "2"), a_put_usrconf_lib(nullptr, "anna", "X", "3"));
         }, "0 0 0"},
        {"", usrconf, "0 2 GD_A=1 GD_B=2", A_GET_USRCONF_LL,
         {wire(xdr_a_usrconf_ll_i, a_usrconf_ll_i{"anna", "GD_", 10, TRUE})}},
        {"error 112 9", usrconf, "9 99"},
        {"count 85 3", [] { return two_blocks(a_get_eb_lib, a_get_eb_free); }, "0 0 10 11 12 20 21 22 released",
         A_GET_EB, {wire(xdr_a_get_eb_i, a_get_eb_i{1, 2, 10, 3}), wire(xdr_a_get_eb_i, a_get_eb_i{1, 2, 20, 3})}},
        {"count 85 0\ncount 139 0", empty, "25 99 25 99 0 99 1"},  // an empty fax group list is no error
        {"", [] {
             std::string rc;
             for (const char *name : {"one", "two", "three"}) {
                 o_faxg g{};
                 my_strncpy(g.name, name, 10);
                 rc += got(o_put_faxg_lib(nullptr, &g));
             }
             return rc;
         }, "000"},
        {"", faxg, "0 0 3 one two three released"},
        {"count 9 0", faxg, "0 0 0 released"},  // a count of 0 over a chain: nothing handed over
        // Presence flags with nothing behind them: a failed call, the default
        // forgotten, and nothing of the decode left behind (the sanitizer build checks).
        {"hostile 9 1000", [=] { const std::string r = faxg(); return r + " " + held(omega_clnt_var); },
         "22 22 0 released forgotten"},
        {"", pageb, "0 page 3/4", A_GET_PAGEB, {wire(xdr_a_get_pageb_i, a_get_pageb_i{"anna", 1, 3, 4, 5, 0, 100})}},
        {"false 59", pageb, "29 "},    // a page needs confirmation
        {"count 59 0", pageb, "29 "},  // and a length
        // The tgroupl block takes its request from scattered arguments and asks for 30 when told 0.
        {"count 93 2", tgroupl, "0 2 anna m1", A_GET_TGROUPL_LLB,
         {wire(xdr_o_get_tgroupl_llb_i, o_get_tgroupl_llb_i{"alpha.example", "anna", "grp", FALSE, "f5", "f6", 30})}},
    });
}

// Versioned records: the interface level picks the fax line generation (the
// other wrapper gives 23 before asking), a version the client does not read
// gives 32, a record version other than the one the server takes is refused
// before anything is sent (24, 23), and only a list's first element decides.
TEST_F(ClientLibrary, RecordVersionsAreCheckedBeforeSendingAndOnArrival)
{
    static char name[11] = {'F', 'A', 'X', '1', '\0', 'r', 'e', 's', 't', '!', '\0'};
    auto old_line = [] { o_faxl r{}; return got(a_get_faxl_lib(nullptr, name, &r), r.name, r.f8); };
    auto new_line = [] {
        o_faxl_new r{};
        return got(a_get_faxl_new_lib(nullptr, "FAX2-and-more", &r), r.o_faxl_new_u.v0.name);
    };
    Bytes whole_buffer;  // the old wrapper sends the caller's buffer itself, bytes behind the NUL too
    ASSERT_TRUE(xdrtest::encode(xdr_str10, name, whole_buffer));
    o_get_faxl_new_i sent{};
    std::strcpy(sent.o_get_faxl_new_i_u.v0.name, "FAX2-and-m");
    auto faxl_new = [](const char *n, int version) {
        o_faxl_new r{};
        r.version = version;
        my_strncpy(version == 0 ? r.o_faxl_new_u.v0.name : r.o_faxl_new_u.v1.name, n, 10);
        return r;
    };
    auto get_new = [] {
        o_faxl_new r{};
        return got(o_get_faxl_new_lib(nullptr, "n1", &r), r.o_faxl_new_u.v0.name);
    };
    auto list_new = [] {
        long request = 0;
        o_get_faxl_new_ll_o l{5, nullptr, 3};
        std::string rc = got(o_get_faxl_new_ll_lib(nullptr, &request, &l), l.count, l.error);
        for (auto *n = l.list; n != nullptr; n = n->next)
            rc += " " + std::to_string(n->entry.version);
        o_get_faxl_new_ll_free(&l);
        return rc;
    };
    static const o_faxl_new v0 = faxl_new("n1", 0), v1 = faxl_new("n2", 1);
    run({
        {"compat 75 1 9", old_line, "0 FAX1 -8", A_GET_FAXL, {whole_buffer}},
        {"compat 75 1 9", new_line, "23 ", A_GET_FAXL_NEW, {}},
        {"compat 75 1 10", old_line, "23  0", A_GET_FAXL, {}},
        {"compat 75 1 10", new_line, "0 FAX2-and-m", A_GET_FAXL_NEW, {wire(xdr_o_get_faxl_new_i, sent)}},
        {"compat 75 0 9", [=] { return old_line() + ", " + new_line(); }, "32  0, 32 "},  // no level
        {"compat 75 1 10\nversion 130 1", new_line, "32 "},
        {"", list_new, "0 0 0"},  // even an empty chain is handed over
        {"error 104 12", list_new, "12 5 3"},
        // The server would end at once if a version-1 record reached it.
        {"exit 102", [] { return got(o_put_faxl_new_lib(nullptr, &v1)); }, "24"},
        {"", [=] { const std::string r = got(o_put_faxl_new_lib(nullptr, &v0)); return r + " " + get_new(); },
         "0 0 n1"},
        {"version 103 1", get_new, "32 "},
        // The raw stub stores a version-1 record the wrapper would not send.
        {"", [=] {
             const std::string before = list_new();  // and the default handle again
             const std::string r = got(*o_put_faxl_new_1(const_cast<o_faxl_new *>(&v1), omega_clnt_var));
             return before + ", " + r + " " + list_new();
         }, "0 1 0 0, 0 0 2 0 0 1"},
        {"version 104 1", list_new, "32 5 3"},  // a version-1 first element decides
        {"error 102 7\nerror 105 -9",
         [] { return got(o_put_faxl_new_lib(nullptr, &v0), o_del_faxl_new_lib(nullptr, "n1")); }, "7 -9"},
        {"", [] {
             a_get_e_rec_new_ll_o e{};
             a_get_s_rec_new_ll_o s{};
             return got(a_get_e_rec_new_ll_lib(nullptr, 1, 0, 2, 3, 4, &e),
                        a_get_s_rec_new_ll_lib(nullptr, 1, 2, 5, "t", "p", 3, 4, &s));
         }, "23 23", A_GET_E_REC_NEW_LL, {}},
    });
}

// Get, put and delete of a fax group or line: a name is asked for with its
// first ten characters, a missing one gives 25 and leaves the caller's record,
// a second delete gives 34, and under `false P` the put is refused (34) and
// nothing is stored.
template <class Rec>
std::vector<Step> fax_table_steps(unsigned long put, int (*get)(CLIENT *, const char *, Rec *),
                                  int (*store)(CLIENT *, const Rec *), int (*del)(CLIENT *, const char *))
{
    auto fetch = [get](const char *name) {
        Rec r{};
        std::strcpy(r.name, "marker");
        const int rc = get(nullptr, name, &r);
        return got(rc, r.name, r.f5);
    };
    auto stored = [=](const char *name, const char *asked) {
        Rec r{};
        my_strncpy(r.name, name, 10);
        r.f5 = -5;
        const int rc = store(nullptr, &r);
        return got(rc) + " " + fetch(asked);
    };
    return {
        {"", [=] { return stored("0123456789", "0123456789-and-more"); }, "0 0 0123456789 -5"},
        {"", [=] { return fetch("nosuch"); }, "25 marker 0"},
        {"", [=] {
             const int first = del(nullptr, "0123456789");
             const int second = del(nullptr, "0123456789");
             return got(first, second) + " " + fetch("0123456789");
         }, "0 34 25 marker 0"},
        {"false " + std::to_string(put), [=] { return stored("alpha", "alpha"); }, "34 25 marker 0"},
    };
}

TEST_F(ClientLibrary, FaxTablesGetPutAndDeleteAnswerWithTheirCodes)
{
    std::vector<Step> steps = fax_table_steps(O_PUT_FAXG, o_get_faxg_lib, o_put_faxg_lib, o_del_faxg_lib);
    for (Step &step : fax_table_steps(O_PUT_FAXL, o_get_faxl_lib, o_put_faxl_lib, o_del_faxl_lib))
        steps.push_back(step);
    run(steps);
}

// The new-only list wrappers ask with an unversioned block request, where the
// answer's leading short is no code; the send job texts travel only for the
// text selectors; a user id change is cut to its field.
TEST_F(ClientLibrary, NewOnlyWrappersSendWhatTheServerTakes)
{
    auto e_list = [] {
        a_get_e_rec_new_ll_o e{};
        const int rc = a_get_e_rec_new_ll_lib(nullptr, 8, 1, 2, 40, 2, &e);
        const std::string line = e.list ? e.list->entry.a_e_rec_new_u.v1.line : "none";
        a_get_e_rec_new_ll_free(&e);
        return got(rc, e.error, line);
    };
    auto s_list = [](short selector) {
        a_get_s_rec_new_ll_o s{};
        const std::string pattern(90, 'p');
        const int rc = a_get_s_rec_new_ll_lib(nullptr, 9, 1, selector, "textlongerxyz", pattern.c_str(), 100, 2, &s);
        std::string out = got(rc, s.count);
        if (s.list != nullptr && s.list->next != nullptr)  // both record versions come back
            out += " " + std::to_string(s.list->entry.version) + " " + s.list->next->entry.a_s_rec_new_u.v1.x_text3;
        a_get_s_rec_new_ll_free(&s);
        return out;
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
    run({
        {"error 142 3", e_list, "0 3 line-of-twenty-40", A_GET_E_REC_NEW_LL,
         {wire(xdr_a_get_eb_i, a_get_eb_i{8, 2, 40, 2})}},
        {"", [=] { return s_list(5); }, "0 2 0 v1 101", A_GET_S_REC_NEW_LL,
         s_sent(5, "textlonger", std::string(80, 'p'))},
        {"", [=] { return s_list(7); }, "0 2 0 v1 101", A_GET_S_REC_NEW_LL, s_sent(7, "", "")},
        {"error 139 5", [=] { return s_list(4); }, "5 0"},
        {"error 136 -4", [] { return got(a_cha_userid_lib(nullptr, 12, "bertholdxyz")); }, "-4", A_CHA_USERID,
         {wire(xdr_a_cha_userid_i, cha)}},
    });
}

// A page goes up in chunks of its chunk size (1488 when told 0) until the
// offset passes its end; each chunk carries the page's bytes at its offset,
// and the first refused chunk ends the upload.
TEST_F(ClientLibrary, PageUploadAdvancesByTheChunkSizeUntilTheOffsetPassesTheEnd)
{
    static std::string page(3000, '\0');
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>(i * 7 % 251);
    static const std::string file = (servers_.dir() / "page").string(),
                             missing = (servers_.dir() / "no-such-page").string();
    std::ofstream(file, std::ios::binary) << page;
    auto chunks = [](std::vector<std::pair<long, long>> at) {
        std::vector<Bytes> sent;
        for (auto [offset, n] : at)
            sent.push_back(wire(xdr_a_put_pageb_i, a_put_pageb_i{"anna", 42, 3, -1, offset, n,
                                                                 {static_cast<u_int>(n), page.data() + offset}}));
        return sent;
    };
    auto upload = [](int total, int chunk) {
        return [=] {
            const int rc = a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), total, chunk);
            return got(rc, held(alpha_clnt_var));
        };
    };
    run({
        {"", upload(2976, 0), "0 held", A_PUT_PAGEB, chunks({{0, 1488}, {1488, 1488}, {2976, 0}})},
        {"", upload(10, 4), "0 held", A_PUT_PAGEB, chunks({{0, 4}, {4, 4}, {8, 2}})},
        {"", upload(-1, 0), "0 held", A_PUT_PAGEB, {}},
        {"falseat 60 1488", upload(3000, 0), "34 held", A_PUT_PAGEB, chunks({{0, 1488}, {1488, 1488}})},
        {"systemerr 60", upload(3000, 0), "16 forgotten"},
        {"", [] { return got(a_put_page_lib(nullptr, "anna", 42, 3, -1, file.c_str(), 0)); }, "0",
         A_PUT_PAGEB, chunks({{0, 1488}, {1488, 1488}, {2976, 24}})},
        {"", [] {
             testing::internal::CaptureStderr();
             const int rc = a_put_page_lib(nullptr, "anna", 42, 3, -1, missing.c_str(), 0);
             return got(rc, testing::internal::GetCapturedStderr());
         }, "13 Error: cannot read file " + missing + "\n", A_PUT_PAGEB, {}},
    });
}

// A failed call through the default lets it go; a default that a_clnt handed
// out is only forgotten (its holder closes it: the sanitizer build would catch
// a second destroy), a caller's own handle is kept and fails again without
// SIGPIPE; a refusal that sends nothing (76, an 80-character log line, an
// explicit host without a handle variable) keeps the default.
TEST_F(ClientLibrary, FailedCallsForgetTheDefaultAndKeepTheCallersHandle)
{
    char v[81];
    CLIENT *handed = nullptr, *own = nullptr;
    ASSERT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", v), 0);
    ASSERT_EQ(a_clnt(&handed), 0);
    ASSERT_EQ(a_open_client_lib(&own, "127.0.0.1"), 0);
    EXPECT_EQ(a_open_client_lib(nullptr, "127.0.0.1"), 24);
    CLIENT *bad = nullptr;
    EXPECT_EQ(a_open_client_lib(&bad, "bad..host"), 2);
    EXPECT_EQ(bad, nullptr);
    run({
        {"noproc 136", [] {
             const int rc = a_cha_userid_lib(nullptr, 1, "bert");
             return got(rc, held(alpha_clnt_var));
         }, "76 held"},
        {"", [] {
             const int rc79 = a_a_log_lib(nullptr, std::string(79, 'a').c_str());
             const int rc80 = a_a_log_lib(nullptr, std::string(80, 'b').c_str());
             return got(rc79, rc80, held(alpha_clnt_var));
         }, "0 16 held"},
    });
    EXPECT_EQ(servers_.event_log(), std::vector<std::string>{std::string(79, 'a')}) << "80 characters are not sent";
    EXPECT_EQ(alpha_clnt_var, handed);
    servers_.alpha().stop();
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", v), 16);
    EXPECT_EQ(alpha_clnt_var, nullptr);
    EXPECT_EQ(a_get_usrconf_lib(own, "mueller", "GD_LDH", v), 16);
    EXPECT_EQ(a_put_usrconf_lib(own, "mueller", "GD_LDH", "x"), 16) << "a second call on the dead connection";
    EXPECT_EQ(a_get_jetzt_1(nullptr, own), nullptr);
    servers_.restart_alpha();
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", v), 0) << "a fresh default handle";
    EXPECT_NE(alpha_clnt_var, handed);
    a_close_client_lib(handed);
    a_close_client_lib(own);
    EXPECT_EQ(a_close_client_lib(nullptr), 0);
    EXPECT_EQ(a_close_client_lib(nullptr), 2);

    // The omega server gone: the call fails (22), and with nothing registered
    // any more the default handle cannot be created (1).
    ASSERT_EQ(o_get_config_lib(nullptr, "PINLENMIN", v), 0);
    servers_.omega().stop();
    EXPECT_EQ(o_get_config_lib(nullptr, "PINLENMIN", v), 22);
    EXPECT_EQ(omega_clnt_var, nullptr);
    EXPECT_EQ(o_get_config_lib(nullptr, "PINLENMIN", v), 1);
}

// usrconf keys of up to 30 characters on a new server; the server's own code
// for a missing entry is passed on with the buffer emptied; the clock stub
// hands back zero and times past 2^31 as they are; whatever length a caller
// gives, a text is cut to its field before it enters a record.
TEST_F(ClientLibrary, UsrconfKeysClockTimesAndHugeArgumentsKeepToTheirFields)
{
    static const std::string key30(30, 'k'), huge(100000, 'x');
    auto get = [](const char *user, const char *key) {
        char v[81] = "stale";
        const int rc = a_get_usrconf_lib(nullptr, user, key, v);
        return got(rc, std::strlen(v));
    };
    CLIENT *c = nullptr;
    ASSERT_EQ(a_open_client_lib(&c, "127.0.0.1"), 0);
    run({
        {"", [=] {
             const int rc = a_put_usrconf_lib(nullptr, "mueller", (key30 + "cut").c_str(), huge.c_str());
             return got(rc) + " " + get("mueller", key30.c_str());
         }, "0 0 80"},
        {"", [=] { return get("mueller", "missing"); }, "25 0"},
        {"error 144 7", [=] { return get("mueller", "GD_LDH"); }, "7 0"},
        {"false 145\nfalse 143",
         [] { return got(a_put_usrconf_lib(nullptr, "mueller", "k", "v"), a_del_usrconf_lib(nullptr, "mueller", key30.c_str())); },
         "34 34"},
        {"", [=] {
             const int rc = a_del_usrconf_lib(nullptr, "mueller", key30.c_str());
             return got(rc) + " " + get("mueller", key30.c_str());
         }, "0 25 0"},
        {"clock =0", [c] { long *now = a_get_jetzt_1(nullptr, c); return got(now != nullptr, now ? *now : -1); }, "1 0"},
        {"clock =4000000000", [c] {
             long *now = a_get_jetzt_1(nullptr, c);
             return got(now != nullptr, static_cast<uint32_t>(now ? *now : 0));
         }, "1 4000000000"},
        {"", [=] {
             char host[36], user[11], id[11], v[81];
             const char *x = huge.c_str();
             std::string r = got(o_apply_route_new_lib(nullptr, x, x, host, user, id), o_get_config_lib(nullptr, x, v),
                                 a_a_log_lib(nullptr, x), a_put_usrconf_lib(nullptr, x, x, x));
             r += " " + get(x, x);
             return r + " " + got(a_del_usrconf_lib(nullptr, x, x));
         }, "25 25 16 0 0 80 0"},
    });
    a_close_client_lib(c);
}

// An old-generation server gets the old usrconf procedures with keys of ten
// characters; a longer key is refused before sending (24), keeping the handle.
TEST_F(OldAlphaServer, UsrconfUsesTheOldProceduresWithTenCharacterKeys)
{
    auto get = [](const char *key) {
        char v[81] = "stale";
        const int rc = a_get_usrconf_lib(nullptr, "mueller", key, v);
        return got(rc, v, held(alpha_clnt_var));
    };
    run({
        {"", [=] { return get("GD_LDH_TOO_LONG"); }, "24  held"},
        {"", [=] { return get("GD_LDH"); }, "0 127.0.0.1 held"},
        {"", [=] { return get("missing"); }, "25  held"},
        {"", [] { return got(a_put_usrconf_lib(nullptr, "mueller", "T12345678901234567890", "1 2")); }, "0"},
    });
    EXPECT_EQ((servers_.store()[{"mueller", "T123456789"}]), "1 2");
    EXPECT_EQ(a_del_usrconf_lib(nullptr, "mueller", "T12345678901234567890"), 0);
    EXPECT_EQ(servers_.store().count({"mueller", "T123456789"}), 0u);
}
