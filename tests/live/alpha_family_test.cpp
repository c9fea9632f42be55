// The alpha wrapper families against the development alpha server: what each
// wrapper sends (read back from the server's request notes), how it maps the
// answer, what it hands over, and what happens to the handle when a call
// fails or a procedure is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "a_lib.h"
#include "devservers.hpp"
#include "xdr_bytes.hpp"

using namespace xdrtest;

namespace {

// One pair of development servers for the whole test process.
class AlphaServer : public testing::Environment {
public:
    void SetUp() override
    {
        e2e::use_devservers_in_this_process();
        servers_ = std::make_unique<e2e::DevServers>();
    }
    void TearDown() override { servers_.reset(); }

    // Replaces the server's directives (read before its next request).
    void set(const std::string &directives) const { servers_->alpha_control(directives + "\n"); }

    // The requests of procedure proc noted since the last clear(), as bytes.
    std::vector<Bytes> requests(unsigned long proc) const
    {
        std::vector<Bytes> found;
        const std::string prefix = "rpc " + std::to_string(proc) + " ";
        for (const std::string &line : servers_->event_log()) {
            if (line.compare(0, prefix.size(), prefix) != 0)
                continue;
            Bytes b;
            for (size_t i = prefix.size(); i + 1 < line.size(); i += 2)
                b.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
            found.push_back(b);
        }
        return found;
    }

    void clear() const { servers_->clear_event_log(); }
    std::string path(const char *name) const { return servers_->dir() / name; }

private:
    std::unique_ptr<e2e::DevServers> servers_;
};

AlphaServer *const server = static_cast<AlphaServer *>(
    testing::AddGlobalTestEnvironment(new AlphaServer));

// Every test starts with a fresh default handle, no directives and no notes.
class Alpha : public testing::Test {
protected:
    void SetUp() override
    {
        a_close_client_lib(nullptr);
        server->set("");
        server->clear();
    }
    void TearDown() override { a_close_client_lib(nullptr); }
};

template <class T, class Fn>
Bytes wire(Fn fn, T obj)
{
    Bytes b;
    EXPECT_TRUE(encode(fn, &obj, b));
    return b;
}

template <class T, class Fn>
T decoded(Fn fn, const Bytes &b)
{
    T obj{};
    EXPECT_TRUE(decode(fn, &obj, b));
    return obj;
}

std::string str(const char *s, size_t n) { return std::string(s, strnlen(s, n)); }

}  // namespace

// --- yes/no ---------------------------------------------------------------

using AlphaYesNoFamily = Alpha;

// Each member fills its request in the order of its arguments, cutting texts
// to their fields; TRUE gives 0 and FALSE 34.
TEST_F(AlphaYesNoFamily, EveryWrapperSendsItsArgumentsInOrderAndMapsTheAnswer)
{
    struct Row {
        unsigned long proc;
        std::function<int()> call;
        Bytes expected;
    };
    const char *long_id = "annabellexyz";  // cut to "annabellex"
    const std::string long_host(40, 'h');
    a_forward_i forward{"anna", 2, 3, "", "bert", "id-of-elev", 7};
    std::memset(forward.host, 'h', 35);
    const Row rows[] = {
        {A_CP_DOK, [] { return a_cp_dok_lib(nullptr, "anna", 2, -3, 4); },
         wire(xdr_a_cp_dok_i, a_cp_dok_i{"anna", 2, -3, 4})},
        {A_CP_PAGE, [=] { return a_cp_page_lib(nullptr, long_id, 2, 3, 4, 5, 6); },
         wire(xdr_a_cp_page_i, a_cp_page_i{"annabellex", 2, 3, 4, 5, 6})},
        {A_DEL_DOK, [] { return a_del_dok_lib(nullptr, "anna", 2, 3, TRUE); },
         wire(xdr_a_del_dok_i, a_del_dok_i{"anna", 2, 3, TRUE})},
        {A_DEL_PAGE, [] { return a_del_page_lib(nullptr, "anna", 3, 4); },
         wire(xdr_a_del_page_i, a_del_page_i{"anna", 3, 4})},
        {A_INS_PAGE, [] { return a_ins_page_lib(nullptr, "anna", 3, -4); },
         wire(xdr_a_ins_page_i, a_ins_page_i{"anna", 3, -4})},
        {A_PUT_BIF, [] { return a_put_bif_lib(nullptr, "anna", 2, 3, TRUE); },
         wire(xdr_a_put_bif_i, a_put_bif_i{"anna", 2, 3, TRUE})},
        {A_FORWARD,
         [=] { return a_forward_lib(nullptr, "anna", 2, 3, long_host.c_str(), "bert", "id-of-eleven", 7); },
         wire(xdr_a_forward_i, forward)},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE("procedure " + std::to_string(r.proc));
        server->clear();
        server->set("");
        EXPECT_EQ(r.call(), 0);
        EXPECT_EQ(server->requests(r.proc), std::vector<Bytes>{r.expected});
        server->set("false " + std::to_string(r.proc));
        EXPECT_EQ(r.call(), 34);
    }
}

// The log text travels whole with its NUL, beyond any fixed width.
TEST_F(AlphaYesNoFamily, LogTextIsSentWithItsTerminator)
{
    const std::string text(300, 'L');
    EXPECT_EQ(a_put_log_lib(nullptr, "anna", 1, 2, text.c_str()), 0);
    auto reqs = server->requests(A_PUT_LOG);
    ASSERT_EQ(reqs.size(), 1u);
    auto req = decoded<a_put_log_i>(xdr_a_put_log_i, reqs[0]);
    ASSERT_EQ(req.text.opaque_string_len, 301u);
    EXPECT_EQ(std::string(req.text.opaque_string_val), text);
    EXPECT_EQ(req.text.opaque_string_val[300], '\0');
    release(xdr_a_put_log_i, &req);
}

// --- the common ending ------------------------------------------------------

using AlphaWrapperCall = Alpha;

TEST_F(AlphaWrapperCall, FailedCallForgetsTheDefaultHandleButKeepsTheCallers)
{
    ASSERT_EQ(a_cp_dok_lib(nullptr, "anna", 1, 1, 1), 0);
    ASSERT_NE(alpha_clnt_var, nullptr);
    server->set("systemerr 5");
    EXPECT_EQ(a_cp_dok_lib(nullptr, "anna", 1, 1, 1), 16);
    EXPECT_EQ(alpha_clnt_var, nullptr);

    CLIENT *own = nullptr;
    ASSERT_EQ(a_open_client_lib(&own, "127.0.0.1"), 0);
    EXPECT_EQ(a_cp_dok_lib(own, "anna", 1, 1, 1), 16);
    server->set("");
    EXPECT_EQ(a_cp_dok_lib(own, "anna", 1, 1, 1), 0);
    EXPECT_EQ(alpha_clnt_var, nullptr);  // the caller's handle did all the work
    a_close_client_lib(own);
}

// --- copy-out -------------------------------------------------------------

using AlphaCopyOutFamily = Alpha;

TEST_F(AlphaCopyOutFamily, AnswersLandInTheOutArgumentsOnlyWhenTheyCount)
{
    bool_t b = 7;
    EXPECT_EQ(a_bif_lib(nullptr, "anna", 3, &b), 0);
    EXPECT_EQ(b, TRUE);
    EXPECT_EQ(server->requests(A_BIF), std::vector<Bytes>{wire(xdr_a_bif_i, a_bif_i{"anna", 3})});
    server->set("false 10");
    EXPECT_EQ(a_bif_lib(nullptr, "anna", 3, &b), 0);  // a FALSE answer is an answer
    EXPECT_EQ(b, FALSE);

    long nr = -1;
    EXPECT_EQ(a_mk_dok_lib(nullptr, "anna", &nr), 0);
    EXPECT_EQ(nr, 4711);
    server->set("false 3");
    nr = -1;
    EXPECT_EQ(a_mk_dok_lib(nullptr, "anna", &nr), 34);
    EXPECT_EQ(nr, -1);

    server->set("");
    bool_t v = 7;
    EXPECT_EQ(a_exc_bif_lib(nullptr, "anna", 1, 2, TRUE, &v), 0);
    EXPECT_EQ(v, TRUE);
    server->set("false 76");
    v = 7;
    EXPECT_EQ(a_exc_bif_lib(nullptr, "anna", 1, 2, TRUE, &v), 34);
    EXPECT_EQ(v, 7);

    server->set("");
    EXPECT_EQ(a_exc_status_lib(nullptr, "anna", 1, 2, 3, TRUE, &v), 0);
    EXPECT_EQ(v, TRUE);
    EXPECT_EQ(server->requests(A_EXC_STATUS),
              std::vector<Bytes>{wire(xdr_a_exc_status_i, a_exc_status_i{"anna", 1, 2, 3, TRUE})});
    server->set("error 113 -7");
    v = 7;
    EXPECT_EQ(a_exc_status_lib(nullptr, "anna", 1, 2, 3, FALSE, &v), -7);
    EXPECT_EQ(v, 7);

    server->set("");
    long first = 0, level = 0;
    EXPECT_EQ(a_get_compat_lib(nullptr, &first, &level), 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(level, 10);
    server->set("compat 75 0 9");
    first = level = -1;
    EXPECT_EQ(a_get_compat_lib(nullptr, &first, &level), 32);
    EXPECT_EQ(level, -1);
}

// --- record ---------------------------------------------------------------

using AlphaRecordFamily = Alpha;

TEST_F(AlphaRecordFamily, PresentRecordsAreCopiedWholeAndAbsentOnesGiveTheirCode)
{
    a_e_rec e{};
    EXPECT_EQ(a_get_e_rec_lib(nullptr, "anna", 5, &e), 0);
    EXPECT_EQ(e.nr, 5);
    EXPECT_EQ(e.time, -5);
    EXPECT_STREQ(e.subject, "subject 5");
    EXPECT_EQ(a_get_e_rec_lib(nullptr, "anna", 0, &e), 25);  // the server's empty record
    EXPECT_EQ(e.nr, 5);

    a_p_rec p{};
    EXPECT_EQ(a_get_p_rec_lib(nullptr, "anna", 6, &p), 0);
    EXPECT_EQ(p.size, -6);
    a_s_rec s{};
    EXPECT_EQ(a_get_s_rec_lib(nullptr, "anna", 7, &s), 0);
    EXPECT_EQ(s.result, -7);
    EXPECT_STREQ(s.number, "07");
    server->set("false 18\nfalse 19");
    EXPECT_EQ(a_get_p_rec_lib(nullptr, "anna", 6, &p), 25);
    EXPECT_EQ(a_get_s_rec_lib(nullptr, "anna", 7, &s), 25);

    a_user_rec u{};
    EXPECT_EQ(a_get_user_lib(nullptr, "annabellexyz", &u), 0);
    EXPECT_STREQ(u.userid, "annabellex");
    EXPECT_EQ(u.counters[0], -5);
    EXPECT_EQ(u.counters[9], 4);
    server->set("false 30");
    EXPECT_EQ(a_get_user_lib(nullptr, "anna", &u), 6);

    char value[81] = "untouched";
    server->set("");
    EXPECT_EQ(a_get_config_lib(nullptr, "GD_HOST", 3, value), 0);
    EXPECT_STREQ(value, "GD_HOST=3");
    server->set("false 74");
    std::strcpy(value, "untouched");
    EXPECT_EQ(a_get_config_lib(nullptr, "GD_HOST", 3, value), 25);
    EXPECT_STREQ(value, "untouched");
}

TEST_F(AlphaRecordFamily, OmegaUserIsPresentWhenItsUserIdIsNotEmpty)
{
    o_user u{};
    EXPECT_EQ(a_get_o_user_lib(nullptr, "alpha.example", "anna", &u), 0);
    EXPECT_STREQ(u.alpha_host, "alpha.example");
    EXPECT_STREQ(u.alpha_user, "anna");
    EXPECT_EQ(u.f8, -1);
    EXPECT_EQ(server->requests(A_GET_O_USER),
              std::vector<Bytes>{wire(xdr_a_get_o_user_i, a_get_o_user_i{"alpha.example", "anna"})});
    server->set("false 35");
    EXPECT_EQ(a_get_o_user_lib(nullptr, "alpha.example", "anna", &u), 6);
}

// --- hand-over ------------------------------------------------------------

using AlphaHandOverFamily = Alpha;

TEST_F(AlphaHandOverFamily, EmptyAnswerGives25AndHandsNothingOver)
{
    server->set("count 85 0\ncount 86 0\ncount 87 0\ncount 142 0\ncount 139 0");
    a_get_e_o e{99, nullptr};
    a_get_p_o p{99, nullptr};
    a_get_s_o s{99, nullptr};
    a_get_e_rec_new_ll_o en{1, 99, nullptr};
    a_get_s_rec_new_ll_o sn{0, 99, nullptr};
    EXPECT_EQ(a_get_eb_lib(nullptr, 1, 2, 3, 4, &e), 25);
    EXPECT_EQ(a_get_pb_lib(nullptr, 1, 2, 3, 4, &p), 25);
    EXPECT_EQ(a_get_sb_lib(nullptr, 1, 2, 3, 4, &s), 25);
    EXPECT_EQ(a_get_e_rec_new_ll_lib(nullptr, 1, 1, 2, 3, 4, &en), 25);
    EXPECT_EQ(a_get_s_rec_new_ll_lib(nullptr, 1, 1, 2, "", "", 3, 4, &sn), 25);
    EXPECT_EQ(e.count, 99);
    EXPECT_EQ(p.count, 99);
    EXPECT_EQ(s.count, 99);
    EXPECT_EQ(en.count, 99);
    EXPECT_EQ(sn.count, 99);

    a_usrconf_ll_o u{nullptr, 99, 0};
    EXPECT_EQ(a_get_usrconf_ll_lib(nullptr, "nobody", "", 10, FALSE, &u), 25);
    EXPECT_EQ(u.count, 99);
}

namespace {

template <class Res, class Node>
std::vector<long> numbers(const Res &r, Node *Res::*list)
{
    std::vector<long> nrs;
    for (Node *n = r.*list; n != nullptr; n = n->next)
        nrs.push_back(n->entry.nr);
    return nrs;
}

// Two blocks from the same stub, the first one checked after the second
// call: it must no longer be part of the stub's reused answer.
template <class Res, class Node>
void expect_first_block_survives(int (*wrapper)(CLIENT *, long, short, long, long, Res *),
                                 void (*release_fn)(Res *), Node *Res::*list, long from)
{
    Res first{}, second{};
    ASSERT_EQ(wrapper(nullptr, 1, 2, from, 3, &first), 0);
    ASSERT_EQ(wrapper(nullptr, 1, 2, from + 10, 3, &second), 0);
    EXPECT_EQ(numbers(first, list), (std::vector<long>{from, from + 1, from + 2}));
    EXPECT_EQ(numbers(second, list), (std::vector<long>{from + 10, from + 11, from + 12}));
    EXPECT_EQ(first.count, 3);
    release_fn(&first);
    release_fn(&second);
    EXPECT_EQ(first.*list, nullptr);
}

}  // namespace

// The stub's static answer is reused by the next call; a handed-over chain
// must not be part of it any more.
TEST_F(AlphaHandOverFamily, HandedOverChainSurvivesTheNextCallOfTheSameStub)
{
    server->set("count 85 3\ncount 86 3\ncount 87 3");
    expect_first_block_survives(a_get_eb_lib, a_get_eb_free, &a_get_e_o::list, 10);
    expect_first_block_survives(a_get_pb_lib, a_get_pb_free, &a_get_p_o::list, 30);
    expect_first_block_survives(a_get_sb_lib, a_get_sb_free, &a_get_s_o::list, 50);
    EXPECT_EQ(server->requests(A_GET_EB).front(), wire(xdr_a_get_eb_i, a_get_eb_i{1, 2, 10, 3}));
}

// usrconf lists carry a code behind the chain: a nonzero code is the result
// and nothing is handed over.
TEST_F(AlphaHandOverFamily, UsrconfListHandsOverTheEntriesUnlessTheServerGivesACode)
{
    ASSERT_EQ(a_put_usrconf_lib(nullptr, "anna", "GD_A", "1"), 0);
    ASSERT_EQ(a_put_usrconf_lib(nullptr, "anna", "GD_B", "2"), 0);
    ASSERT_EQ(a_put_usrconf_lib(nullptr, "anna", "X", "3"), 0);
    a_usrconf_ll_o u{};
    ASSERT_EQ(a_get_usrconf_ll_lib(nullptr, "anna", "GD_", 10, TRUE, &u), 0);
    EXPECT_EQ(u.count, 2);
    ASSERT_NE(u.list, nullptr);
    EXPECT_STREQ(u.list->entry.key, "GD_A");
    ASSERT_NE(u.list->next, nullptr);
    EXPECT_STREQ(u.list->next->entry.value, "2");
    EXPECT_EQ(server->requests(A_GET_USRCONF_LL),
              std::vector<Bytes>{wire(xdr_a_usrconf_ll_i, a_usrconf_ll_i{"anna", "GD_", 10, TRUE})});
    a_usrconf_ll_free(&u);

    server->set("error 112 9");
    a_usrconf_ll_o v{nullptr, 99, 0};
    EXPECT_EQ(a_get_usrconf_ll_lib(nullptr, "anna", "GD_", 10, TRUE, &v), 9);
    EXPECT_EQ(v.count, 99);
    EXPECT_EQ(v.list, nullptr);
}

TEST_F(AlphaHandOverFamily, PageBlockNeedsConfirmationAndALength)
{
    a_get_pageb_o pb{};
    ASSERT_EQ(a_get_pageb_lib(nullptr, "anna", 1, 3, 4, 5, 0, 100, &pb), 0);
    EXPECT_EQ(std::string(pb.data.page_dat_val, pb.data.page_dat_len), "page 3/4");
    EXPECT_EQ(server->requests(A_GET_PAGEB),
              std::vector<Bytes>{
                  wire(xdr_a_get_pageb_i, a_get_pageb_i{"anna", 1, 3, 4, 5, 0, 100})});
    a_get_pageb_free(&pb);
    EXPECT_EQ(pb.data.page_dat_val, nullptr);

    for (const char *d : {"false 59", "count 59 0"}) {
        server->set(d);
        a_get_pageb_o none{};
        EXPECT_EQ(a_get_pageb_lib(nullptr, "anna", 1, 3, 4, 5, 0, 100, &none), 29) << d;
        EXPECT_EQ(none.data.page_dat_val, nullptr) << d;
    }
}

// Above a debug level the two list wrappers tell what they received.
TEST_F(AlphaHandOverFamily, PageBlockAnswerIsReportedAboveDebugLevelFour)
{
    struct Row {
        int level;
        const char *directives;
        std::string expected;
    };
    const Row rows[] = {
        {4, "", ""},
        {5, "", "in a_get_pageb_lib:ret = 8, ok = 1, page_dat_len = 8\n"},
        {5, "false 59\ncount 59 0", "in a_get_pageb_lib:ret = 0, ok = 0, page_dat_len = 8\n"},
    };
    for (const Row &r : rows) {
        server->set(r.directives);
        setdebuglevel(r.level);
        a_get_pageb_o pb{};
        testing::internal::CaptureStderr();
        const int rc = a_get_pageb_lib(nullptr, "anna", 1, 3, 4, 5, 0, 100, &pb);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), r.expected) << r.level;
        if (rc == 0)
            a_get_pageb_free(&pb);
    }
    setdebuglevel(0);
}

// The tgroupl block takes its request fields from scattered arguments, asks
// for 30 entries when told 0, and reports its count above debug level 9.
TEST_F(AlphaHandOverFamily, TgrouplBlockFillsItsRequestAndHandsOverTheList)
{
    server->set("count 93 2");
    o_get_tgroupl_llb_o first{}, second{};
    ASSERT_EQ(a_get_tgroupl_llb_lib(nullptr, "alpha.example", "anna", "grp", "f5", "f6", 0, &first),
              0);
    ASSERT_EQ(a_get_tgroupl_llb_lib(nullptr, "alpha.example", "bert", "grp2", "", "", 7, &second),
              0);
    o_get_tgroupl_llb_i sent{"alpha.example", "anna", "grp", FALSE, "f5", "f6", 30};
    auto reqs = server->requests(A_GET_TGROUPL_LLB);
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0], wire(xdr_o_get_tgroupl_llb_i, sent));
    EXPECT_EQ(decoded<o_get_tgroupl_llb_i>(xdr_o_get_tgroupl_llb_i, reqs[1]).f7, 7);

    ASSERT_EQ(first.count, 2);
    ASSERT_NE(first.list, nullptr);
    EXPECT_STREQ(first.list->entry.f1, "anna");
    ASSERT_NE(first.list->next, nullptr);
    EXPECT_STREQ(first.list->next->entry.f3, "m1");
    EXPECT_STREQ(second.list->entry.f1, "bert");
    a_get_tgroupl_llb_free(&first);
    a_get_tgroupl_llb_free(&second);

    for (int level : {9, 10}) {
        setdebuglevel(level);
        o_get_tgroupl_llb_o r{};
        testing::internal::CaptureStderr();
        EXPECT_EQ(a_get_tgroupl_llb_lib(nullptr, "h", "anna", "g", "", "", 0, &r), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  level > 9 ? "a_get_tgroupl_ll_lib: ret->anz = 2\n" : "");
        a_get_tgroupl_llb_free(&r);
    }
    setdebuglevel(0);

    server->set("count 93 0");
    o_get_tgroupl_llb_o none{99, nullptr};
    EXPECT_EQ(a_get_tgroupl_llb_lib(nullptr, "h", "anna", "g", "", "", 0, &none), 25);
    EXPECT_EQ(none.count, 99);
}

// --- level-chosen ---------------------------------------------------------

using AlphaLevelChosenFamily = Alpha;

// Up to level 9 only the old fax line procedure, from 10 on only the new
// one; the other wrapper refuses with 23 before asking for the record.
TEST_F(AlphaLevelChosenFamily, InterfaceLevelPicksTheFaxLineGeneration)
{
    char name[11] = {'F', 'A', 'X', '1', '\0', 'r', 'e', 's', 't', '!', '\0'};
    o_faxl old_rec{};
    o_faxl_new new_rec{};

    server->set("compat 75 1 9");
    ASSERT_EQ(a_get_faxl_lib(nullptr, name, &old_rec), 0);
    EXPECT_STREQ(old_rec.name, "FAX1");
    EXPECT_EQ(old_rec.f5, -2);
    EXPECT_EQ(old_rec.f8, -8);
    EXPECT_STREQ(old_rec.f18, "line FAX1");
    // The caller's buffer itself is the request, bytes behind the NUL too.
    Bytes whole_buffer;
    ASSERT_TRUE(encode(xdr_str10, name, whole_buffer));
    EXPECT_EQ(server->requests(A_GET_FAXL), std::vector<Bytes>{whole_buffer});
    EXPECT_EQ(a_get_faxl_new_lib(nullptr, "FAX1", &new_rec), 23);
    EXPECT_TRUE(server->requests(A_GET_FAXL_NEW).empty());

    server->clear();
    server->set("compat 75 1 10");
    EXPECT_EQ(a_get_faxl_lib(nullptr, name, &old_rec), 23);
    EXPECT_TRUE(server->requests(A_GET_FAXL).empty());
    ASSERT_EQ(a_get_faxl_new_lib(nullptr, "FAX2-and-more", &new_rec), 0);
    EXPECT_EQ(new_rec.version, 0);
    EXPECT_STREQ(new_rec.o_faxl_new_u.v0.name, "FAX2-and-m");
    EXPECT_EQ(new_rec.o_faxl_new_u.v0.f20, -20);
    o_get_faxl_new_i sent{};
    sent.version = 0;
    std::strcpy(sent.o_get_faxl_new_i_u.v0.name, "FAX2-and-m");
    EXPECT_EQ(server->requests(A_GET_FAXL_NEW),
              std::vector<Bytes>{wire(xdr_o_get_faxl_new_i, sent)});
    EXPECT_EQ(server->requests(A_GET_COMPAT).size(), 2u);  // asked before each record
}

TEST_F(AlphaLevelChosenFamily, AnswersWithoutARecordGiveTheirCodes)
{
    char name[11] = "FAX1";
    o_faxl old_rec{};
    o_faxl_new new_rec{};
    struct Row {
        const char *directives;
        int old_rc;
        int new_rc;
    };
    const Row rows[] = {
        {"compat 75 0 9", 32, 32},                  // no level reported
        {"compat 75 1 9\nfalse 45", 25, 23},        // old server, empty record
        {"compat 75 1 10\nerror 130 7", 23, 7},     // new server's own code
        {"compat 75 1 10\nversion 130 1", 23, 32},  // a version the client does not read
        {"compat 75 1 11\nsystemerr 130", 23, 16},
    };
    for (const Row &r : rows) {
        server->set(r.directives);
        EXPECT_EQ(a_get_faxl_lib(nullptr, name, &old_rec), r.old_rc) << r.directives;
        EXPECT_EQ(a_get_faxl_new_lib(nullptr, "FAX1", &new_rec), r.new_rc) << r.directives;
    }
    EXPECT_STREQ(old_rec.name, "");
    EXPECT_EQ(new_rec.version, 0);
    EXPECT_STREQ(new_rec.o_faxl_new_u.v0.name, "");
}

// --- new-only -------------------------------------------------------------

using AlphaNewOnlyFamily = Alpha;

TEST_F(AlphaNewOnlyFamily, MissingProcedureGives76AndKeepsTheDefaultHandle)
{
    server->set("noproc 142\nnoproc 139\nnoproc 136");
    a_get_e_rec_new_ll_o e{};
    a_get_s_rec_new_ll_o s{};
    EXPECT_EQ(a_get_e_rec_new_ll_lib(nullptr, 1, 1, 2, 3, 4, &e), 76);
    CLIENT *const opened = alpha_clnt_var;
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(a_get_s_rec_new_ll_lib(nullptr, 1, 1, 2, "", "", 3, 4, &s), 76);
    EXPECT_EQ(a_cha_userid_lib(nullptr, 1, "bert"), 76);
    EXPECT_EQ(alpha_clnt_var, opened);

    server->set("systemerr 142");
    EXPECT_EQ(a_get_e_rec_new_ll_lib(nullptr, 1, 1, 2, 3, 4, &e), 16);
    EXPECT_EQ(alpha_clnt_var, nullptr);
}

TEST_F(AlphaNewOnlyFamily, RecordVersionOtherThanOneIsRefusedBeforeAnythingIsSent)
{
    a_get_e_rec_new_ll_o e{};
    a_get_s_rec_new_ll_o s{};
    for (int version : {0, 2}) {
        EXPECT_EQ(a_get_e_rec_new_ll_lib(nullptr, 1, version, 2, 3, 4, &e), 23);
        EXPECT_EQ(a_get_s_rec_new_ll_lib(nullptr, 1, version, 5, "t", "p", 3, 4, &s), 23);
    }
    EXPECT_TRUE(server->requests(A_GET_E_REC_NEW_LL).empty());
    EXPECT_TRUE(server->requests(A_GET_S_REC_NEW_LL).empty());
    EXPECT_EQ(e.list, nullptr);
    EXPECT_EQ(s.list, nullptr);
}

TEST_F(AlphaNewOnlyFamily, SendJobTextsTravelOnlyForTheTextSelectors)
{
    struct Row {
        short selector;
        const char *text;
        const char *pattern;
    };
    const std::string pattern(90, 'p');  // sent cut to 80
    const std::string cut(80, 'p');
    const Row rows[] = {
        {4, "", ""}, {5, "textlonger", cut.c_str()}, {6, "textlonger", cut.c_str()}, {7, "", ""}};
    for (const Row &r : rows) {
        server->clear();
        a_get_s_rec_new_ll_o s{};
        ASSERT_EQ(a_get_s_rec_new_ll_lib(nullptr, 9, 1, r.selector, "textlongerxyz", pattern.c_str(),
                                         100, 2, &s),
                  0);
        auto reqs = server->requests(A_GET_S_REC_NEW_LL);
        ASSERT_EQ(reqs.size(), 1u);
        auto req = decoded<a_get_s_rec_new_ll_i>(xdr_a_get_s_rec_new_ll_i, reqs[0]);
        const a_get_s_rec_new_ll_i_v1 &v = req.a_get_s_rec_new_ll_i_u.v1;
        EXPECT_EQ(req.version, 1);
        EXPECT_EQ(v.nr, 9);
        EXPECT_EQ(v.selector, r.selector);
        EXPECT_EQ(str(v.text, 11), r.text) << r.selector;
        EXPECT_EQ(str(v.pattern, 81), r.pattern) << r.selector;
        EXPECT_EQ(v.from, 100);
        EXPECT_EQ(v.max, 2);

        // Both record versions come back in the handed-over chain.
        ASSERT_EQ(s.count, 2);
        ASSERT_NE(s.list, nullptr);
        EXPECT_EQ(s.list->entry.version, 0);
        EXPECT_EQ(s.list->entry.a_s_rec_new_u.v0.nr, 100);
        ASSERT_NE(s.list->next, nullptr);
        EXPECT_STREQ(s.list->next->entry.a_s_rec_new_u.v1.x_text3, "v1 101");
        a_get_s_rec_new_ll_free(&s);
    }
    server->set("error 139 5");
    a_get_s_rec_new_ll_o s{};
    EXPECT_EQ(a_get_s_rec_new_ll_lib(nullptr, 9, 1, 4, "", "", 100, 2, &s), 5);
    EXPECT_EQ(s.list, nullptr);
}

TEST_F(AlphaNewOnlyFamily, ReceivedListAsksWithAnUnversionedBlockRequest)
{
    server->set("error 142 3");  // this answer's leading short is not a code
    a_get_e_rec_new_ll_o e{};
    ASSERT_EQ(a_get_e_rec_new_ll_lib(nullptr, 8, 1, 2, 40, 2, &e), 0);
    EXPECT_EQ(server->requests(A_GET_E_REC_NEW_LL),
              std::vector<Bytes>{wire(xdr_a_get_eb_i, a_get_eb_i{8, 2, 40, 2})});
    EXPECT_EQ(e.error, 3);
    ASSERT_NE(e.list, nullptr);
    EXPECT_STREQ(e.list->entry.a_e_rec_new_u.v1.line, "line-of-twenty-40");
    a_get_e_rec_new_ll_free(&e);

    server->set("error 136 -4");
    EXPECT_EQ(a_cha_userid_lib(nullptr, 12, "bertholdxyz"), -4);
    a_cha_userid_i sent{};
    sent.version = 0;
    sent.a_cha_userid_i_u.v0 = {12, "bertholdxy"};
    EXPECT_EQ(server->requests(A_CHA_USERID), std::vector<Bytes>{wire(xdr_a_cha_userid_i, sent)});
}

// --- route ----------------------------------------------------------------

using AlphaRouteFamily = Alpha;

TEST_F(AlphaRouteFamily, RouteLookupCopiesTheTargetOrReturnsTheServersCode)
{
    char host[36] = "h", user[11] = "u", id[11] = "i";
    EXPECT_EQ(a_apply_route_new_lib(nullptr, "0301234567890", "qual", host, user, id), 0);
    EXPECT_STREQ(host, "host-0301234567");
    EXPECT_STREQ(user, "qual");
    EXPECT_STREQ(id, "0301234567");

    server->set("error 117 25");
    std::strcpy(host, "h");
    EXPECT_EQ(a_apply_route_new_lib(nullptr, "030", "", host, user, id), 25);
    EXPECT_STREQ(host, "h");
}

// --- upload ---------------------------------------------------------------

using AlphaUploadFamily = Alpha;

namespace {

struct Chunk {
    long offset;
    long length;
    bool operator==(const Chunk &o) const { return offset == o.offset && length == o.length; }
};

std::ostream &operator<<(std::ostream &os, const Chunk &c)
{
    return os << "(" << c.offset << "," << c.length << ")";
}

std::string page_of(int n)
{
    std::string s(static_cast<size_t>(n), '\0');
    for (int i = 0; i < n; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>(i * 7 % 251);
    return s;
}

// The chunks the server received; each one's bytes must be the page's bytes
// at its offset, and the fixed fields those of the call.
std::vector<Chunk> chunks_sent(const std::string &page)
{
    std::vector<Chunk> chunks;
    for (const Bytes &b : server->requests(A_PUT_PAGEB)) {
        auto req = decoded<a_put_pageb_i>(xdr_a_put_pageb_i, b);
        EXPECT_STREQ(req.userid, "anna");
        EXPECT_EQ(req.nr, 42);
        EXPECT_EQ(req.page, 3);
        EXPECT_EQ(req.kind, -1);
        EXPECT_EQ(req.data.page_dat_len, static_cast<u_int>(req.length));
        const std::string bytes = req.data.page_dat_len == 0
                                      ? std::string()
                                      : std::string(req.data.page_dat_val, req.data.page_dat_len);
        EXPECT_EQ(bytes, page.substr(static_cast<size_t>(req.offset), static_cast<size_t>(req.length)));
        chunks.push_back({req.offset, req.length});
        release(xdr_a_put_pageb_i, &req);
    }
    return chunks;
}

}  // namespace

TEST_F(AlphaUploadFamily, ChunksAdvanceByTheChunkSizeUntilTheOffsetPassesTheEnd)
{
    struct Row {
        int total;
        int chunk;
        std::vector<Chunk> expected;
    };
    const Row rows[] = {
        {0, 0, {{0, 0}}},
        {1488, 0, {{0, 1488}, {1488, 0}}},
        {2976, 0, {{0, 1488}, {1488, 1488}, {2976, 0}}},
        {3000, 0, {{0, 1488}, {1488, 1488}, {2976, 24}}},
        {3000, 1000, {{0, 1000}, {1000, 1000}, {2000, 1000}, {3000, 0}}},
        {10, 4, {{0, 4}, {4, 4}, {8, 2}}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.total) + " bytes in chunks of " + std::to_string(r.chunk));
        server->clear();
        const std::string page = page_of(r.total);
        EXPECT_EQ(a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), r.total, r.chunk), 0);
        EXPECT_EQ(chunks_sent(page), r.expected);
    }
}

TEST_F(AlphaUploadFamily, FirstRefusedChunkEndsTheUploadWith34)
{
    const std::string page = page_of(3000);
    server->set("falseat 60 1488");
    EXPECT_EQ(a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), 3000, 0), 34);
    EXPECT_EQ(chunks_sent(page), (std::vector<Chunk>{{0, 1488}, {1488, 1488}}));

    server->clear();
    server->set("false 60");
    EXPECT_EQ(a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), 3000, 0), 34);
    EXPECT_EQ(chunks_sent(page), (std::vector<Chunk>{{0, 1488}}));

    server->clear();
    server->set("systemerr 60");
    EXPECT_EQ(a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), 3000, 0), 16);
    EXPECT_EQ(alpha_clnt_var, nullptr);

    server->clear();
    server->set("");
    EXPECT_EQ(a_put_page_data_lib(nullptr, "anna", 42, 3, -1, page.data(), -1, 0), 0);
    EXPECT_TRUE(server->requests(A_PUT_PAGEB).empty());
}

TEST_F(AlphaUploadFamily, FileIsSentWholeAndAnUnreadableOneGives13)
{
    const std::string page = page_of(3000);
    const std::string file = server->path("page");
    std::ofstream(file, std::ios::binary) << page;
    EXPECT_EQ(a_put_page_lib(nullptr, "anna", 42, 3, -1, file.c_str(), 0), 0);
    EXPECT_EQ(chunks_sent(page), (std::vector<Chunk>{{0, 1488}, {1488, 1488}, {2976, 24}}));

    server->clear();
    const std::string missing = server->path("no-such-page");
    testing::internal::CaptureStderr();
    EXPECT_EQ(a_put_page_lib(nullptr, "anna", 42, 3, -1, missing.c_str(), 0), 13);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: cannot read file " + missing + "\n");
    EXPECT_TRUE(server->requests(A_PUT_PAGEB).empty());
}
