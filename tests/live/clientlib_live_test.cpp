// One wrapper of each family of both client libraries against the development servers: what it
// sends, what it makes of the answer, and what becomes of the handles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "a_lib.h"
#include "devservers.hpp"
#include "o_lib.h"
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

// A result code by its name, any other number as it is.
std::string code(int rc)
{
    static const std::map<int, std::string> names{
#define NAMED(c) {RPCLIB_##c, #c},
        NAMED(OK) NAMED(NOT_SENT) NAMED(NO_ENTRY) NAMED(REFUSED) NAMED(EMPTY_ANSWER)
            NAMED(A_CALL_FAILED) NAMED(O_CALL_FAILED) NAMED(A_WRONG_LEVEL) NAMED(A_FILE_UNREADABLE)
                NAMED(A_NO_NEW_PROCEDURE)
#undef NAMED
    };
    const auto it = names.find(rc);
    return it != names.end() ? it->second : std::to_string(rc);
}

// A call's code and what it left behind, as one line. Arguments are evaluated in no fixed order:
// a value the call changes is passed as a variable, not an expression.
template <class... V>
std::string got(int rc, const V &...values)
{
    std::ostringstream out;
    out << code(rc);
    ((out << ' ' << values), ...);
    return out.str();
}

const char *held(const CLIENT *c) { return c != nullptr ? "held" : "forgotten"; }

// The servers' directives, the calls, what they gave, and (when proc is set) the requests of proc.
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
        : servers_({{"4711", "127.0.0.1", "mueller", "id1"}}, {{"PINLENMIN", "4"}},
                   {{{"mueller", "GD_LDH"}, "127.0.0.1"}}, old_alpha)
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
            EXPECT_TRUE(steps[i].proc == 0 || requests(steps[i].proc) == steps[i].sent);
        }
    }

    e2e::DevServers servers_;
};

class OldAlphaServer : public ClientLibrary {
protected:
    OldAlphaServer() : ClientLibrary(true) {}
};

}  // namespace

// Texts are cut to their fields; a route answer in a version the client does not read is none.
TEST_F(ClientLibrary, WrappersWriteTheirOutArgumentsOnlyWhenTheAnswerCounts)
{
    auto page = [] { return got(a_cp_page_lib(nullptr, "annabellexyz", 2, 3, 4, 5, 6)); };
    const Bytes page_sent = wire(xdr_a_cp_page_i, a_cp_page_i{"annabellex", 2, 3, 4, 5, 6});
    auto status = [] {
        bool_t v = 7;
        return got(a_exc_status_lib(nullptr, "anna", 1, 2, 3, TRUE, &v), v);
    };
    auto e_rec = [](long nr) {
        a_e_rec e{};
        e.nr = 99;
        return got(a_get_e_rec_lib(nullptr, "anna", nr, &e), e.nr, e.subject);
    };
    auto route = [](const char *number) {
        char host[36] = "h", alpha_user[11] = "u", id[11] = "i";
        const int rc = o_apply_route_new_lib(nullptr, number, "", host, alpha_user, id);
        return got(rc, host, alpha_user, id, held(omega_clnt_var));
    };
    run({
        {"", page, "OK", A_CP_PAGE, {page_sent}},
        {"false " + std::to_string(A_CP_PAGE), page, "REFUSED"},
        {"error 113 -7", status, "-7 7"},
        {"", [=] { return e_rec(5); }, "OK 5 subject 5"},
        {"", [=] { return e_rec(0); }, "NO_ENTRY 99 "},  // the server's empty record
        {"", [=] { return route("4711"); }, "OK 127.0.0.1 mueller id1 held"},
        {"", [=] { return route("9999"); }, "NO_ENTRY h u i held"},
        {"version 94 1", [=] { return route("4711"); }, "O_CALL_FAILED h u i forgotten"},
    });
}

// The first block is read after the second call: the stub's static answer is reused, a chain
// handed over must not be.
TEST_F(ClientLibrary, HandOverWrappersGiveTheChainAwayOrNothing)
{
    auto two_blocks = [] {
        a_get_e_o first{}, second{};
        const int rc = a_get_eb_lib(nullptr, 1, 2, 10, 3, &first);
        std::string numbers = got(rc, code(a_get_eb_lib(nullptr, 1, 2, 20, 3, &second)));
        for (const a_get_e_o *r : {&first, &second})
            for (auto *n = r->list; n != nullptr; n = n->next)
                numbers += " " + std::to_string(n->entry.nr);
        a_get_eb_free(&first);
        a_get_eb_free(&second);
        return numbers + (first.list == nullptr ? " released" : "");
    };
    const std::vector<Bytes> sent{wire(xdr_a_get_eb_i, a_get_eb_i{1, 2, 10, 3}),
                                  wire(xdr_a_get_eb_i, a_get_eb_i{1, 2, 20, 3})};
    auto empty = [] {
        a_get_e_o e{99, nullptr};
        return got(a_get_eb_lib(nullptr, 1, 2, 3, 4, &e), e.count);
    };
    run({
        {"count 85 3", two_blocks, "OK OK 10 11 12 20 21 22 released", A_GET_EB, sent},
        {"count 85 0", empty, "NO_ENTRY 99"},
    });
}

// The interface level picks the fax line wrapper; the new-only list's request is unversioned, and
// the leading short of its answer is no code.
TEST_F(ClientLibrary, RecordVersionsAreCheckedBeforeSendingAndOnArrival)
{
    static char name[11] = {'F', 'A', 'X', '1', '\0', 'r', 'e', 's', 't', '!', '\0'};
    auto old_line = [] {
        o_faxl r{};
        return got(a_get_faxl_lib(nullptr, name, &r), r.name, r.f8);
    };
    auto new_line = [] {
        o_faxl_new r{};
        return got(a_get_faxl_new_lib(nullptr, "FAX2-and-more", &r), r.o_faxl_new_u.v0.name);
    };
    Bytes whole;  // the old wrapper sends the caller's buffer itself, bytes behind the NUL too
    ASSERT_TRUE(xdrtest::encode(xdr_str10, name, whole));
    auto e_list = [](short version) {
        return [=] {
            a_get_e_rec_new_ll_o e{};
            const int rc = a_get_e_rec_new_ll_lib(nullptr, 8, version, 2, 40, 2, &e);
            const std::string line = e.list ? e.list->entry.a_e_rec_new_u.v1.line : "none";
            a_get_e_rec_new_ll_free(&e);
            return got(rc, e.error, line);
        };
    };
    const Bytes block = wire(xdr_a_get_eb_i, a_get_eb_i{8, 2, 40, 2});
    static o_faxl_new v1{};
    v1.version = 1;
    run({
        {"compat 75 1 9", old_line, "OK FAX1 -8", A_GET_FAXL, {whole}},
        {"compat 75 1 9", new_line, "A_WRONG_LEVEL ", A_GET_FAXL_NEW, {}},
        {"compat 75 1 10", new_line, "OK FAX2-and-m"},
        {"compat 75 1 10\nversion 130 1", new_line, "EMPTY_ANSWER "},
        // The server would end at once if a version-1 record reached it.
        {"exit 102", [] { return got(o_put_faxl_new_lib(nullptr, &v1)); }, "NOT_SENT"},
        {"error 142 3", e_list(1), "OK 3 line-of-twenty-40", A_GET_E_REC_NEW_LL, {block}},
        {"", e_list(0), "A_WRONG_LEVEL 0 none", A_GET_E_REC_NEW_LL, {}},
    });
}

// Chunks of 1488 bytes when told 0, until the offset passes the end.
TEST_F(ClientLibrary, PageUploadAdvancesByTheChunkSizeUntilTheOffsetPassesTheEnd)
{
    static std::string page(3000, '\0');
    for (size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<char>(i * 7 % 251);
    static const std::string missing = (servers_.dir() / "no-such-page").string();
    const std::string message = "Error: cannot read file " + missing + "\n";
    auto chunks = [](int n) {
        std::vector<Bytes> sent;
        for (long offset = 0, size = 1488; n-- > 0;
             offset += size, size = std::min(size, 2976 - offset))
            sent.push_back(
                wire(xdr_a_put_pageb_i,
                     a_put_pageb_i{
                         "anna", 42, 3, -1, offset, size, {u_int(size), page.data() + offset}}));
        return sent;
    };
    auto upload = [](int total) {
        return [=] {
            return got(a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), total, 0));
        };
    };
    auto unreadable = [] {
        testing::internal::CaptureStderr();
        const int rc = a_put_page_lib(nullptr, "anna", 42, 3, -1, missing.c_str(), 0);
        return got(rc, testing::internal::GetCapturedStderr());
    };
    run({
        {"", upload(2976), "OK", A_PUT_PAGEB, chunks(3)},
        {"falseat 60 1488", upload(3000), "REFUSED", A_PUT_PAGEB, chunks(2)},
        {"", unreadable, "A_FILE_UNREADABLE " + message, A_PUT_PAGEB, {}},
    });
}

// A default that a_clnt handed out is only forgotten (the sanitizer build would catch a second
// destroy); before, a refusal that sent nothing dropped the default.
TEST_F(ClientLibrary, FailedCallsForgetTheDefaultAndKeepTheCallersHandle)
{
    char v[81];
    CLIENT *handed = nullptr, *own = nullptr;
    ASSERT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", v), RPCLIB_OK);
    ASSERT_EQ(a_clnt(&handed), RPCLIB_OK);
    ASSERT_EQ(a_open_client_lib(&own, "127.0.0.1"), RPCLIB_OK);
    servers_.alpha_control("noproc 136\n");
    EXPECT_EQ(a_cha_userid_lib(nullptr, 1, "bert"), RPCLIB_A_NO_NEW_PROCEDURE);
    servers_.clear_event_log();
    EXPECT_EQ(a_a_log_lib(nullptr, std::string(79, 'a').c_str()), RPCLIB_OK);
    EXPECT_EQ(a_a_log_lib(nullptr, std::string(80, 'b').c_str()), RPCLIB_A_CALL_FAILED);
    EXPECT_EQ(servers_.event_log(), std::vector<std::string>{std::string(79, 'a')}) << "not sent";
    EXPECT_EQ(alpha_clnt_var, handed);
    servers_.alpha().stop();
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", v), RPCLIB_A_CALL_FAILED);
    EXPECT_EQ(alpha_clnt_var, nullptr);
    EXPECT_EQ(a_get_usrconf_lib(own, "mueller", "GD_LDH", v), RPCLIB_A_CALL_FAILED);
    EXPECT_EQ(a_put_usrconf_lib(own, "mueller", "GD_LDH", "x"), RPCLIB_A_CALL_FAILED) << "again";
    servers_.restart_alpha();
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", v), RPCLIB_OK) << "a new default";
    EXPECT_NE(alpha_clnt_var, handed);
    a_close_client_lib(handed);
    a_close_client_lib(own);
    EXPECT_EQ(a_close_client_lib(nullptr), RPCLIB_OK);
    EXPECT_EQ(a_close_client_lib(nullptr), RPCLIB_A_NO_CLIENT);

    ASSERT_EQ(o_get_config_lib(nullptr, "PINLENMIN", v), RPCLIB_OK);
    servers_.omega().stop();
    EXPECT_EQ(o_get_config_lib(nullptr, "PINLENMIN", v), RPCLIB_O_CALL_FAILED);
    EXPECT_EQ(omega_clnt_var, nullptr);
    EXPECT_EQ(o_get_config_lib(nullptr, "PINLENMIN", v), RPCLIB_O_NO_CLIENT);
}

// Whatever length a caller gives, a text is cut to its field before it enters a record.
TEST_F(ClientLibrary, UsrconfKeysClockTimesAndHugeArgumentsKeepToTheirFields)
{
    static const std::string key30(30, 'k'), huge(100000, 'x');
    auto get = [](const char *user, const char *key) {
        char v[81] = "stale";
        const int rc = a_get_usrconf_lib(nullptr, user, key, v);
        return got(rc, std::strlen(v));
    };
    auto put = [=](const std::string &key) {
        const int rc = a_put_usrconf_lib(nullptr, "mueller", key.c_str(), huge.c_str());
        return got(rc) + " " + get("mueller", key30.c_str());
    };
    CLIENT *c = nullptr;
    ASSERT_EQ(a_open_client_lib(&c, "127.0.0.1"), RPCLIB_OK);
    auto clock = [c] {
        long *now = a_get_jetzt_1(nullptr, c);
        return now != nullptr ? std::to_string(static_cast<uint32_t>(*now)) : "none";
    };
    auto everything_huge = [=] {
        char host[36], user[11], id[11], v[81];
        const char *x = huge.c_str();
        const int rc = o_apply_route_new_lib(nullptr, x, x, host, user, id);
        const int stored = a_put_usrconf_lib(nullptr, x, x, x);
        return got(rc, code(o_get_config_lib(nullptr, x, v)), code(a_a_log_lib(nullptr, x)),
                   code(stored), get(x, x));
    };
    run({
        {"false 145", [=] { return put(key30); }, "REFUSED NO_ENTRY 0"},  // nothing stored
        {"", [=] { return put(key30 + "cut"); }, "OK OK 80"},
        {"clock =0", clock, "0"},
        {"clock =4000000000", clock, "4000000000"},
        {"", everything_huge, "NO_ENTRY NO_ENTRY A_CALL_FAILED OK OK 80"},
    });
    a_close_client_lib(c);
}

// Before, a key too long for the old read dropped the handle.
TEST_F(OldAlphaServer, UsrconfUsesTheOldProceduresWithTenCharacterKeys)
{
    auto get = [](const char *key) {
        char v[81] = "stale";
        const int rc = a_get_usrconf_lib(nullptr, "mueller", key, v);
        return got(rc, v, held(alpha_clnt_var));
    };
    run({
        {"", [=] { return get("GD_LDH_TOO_LONG"); }, "NOT_SENT  held"},
        {"", [=] { return get("GD_LDH"); }, "OK 127.0.0.1 held"},
        {"",
         [] { return got(a_put_usrconf_lib(nullptr, "mueller", "T12345678901234567890", "1 2")); },
         "OK"},
    });
    EXPECT_EQ((servers_.store()[{"mueller", "T123456789"}]), "1 2");
}
