// The fax group and fax line wrapper families against the development omega
// server: codes, copies, hand-over of lists and the version rules, each case
// on a freshly started server with its own data and behaviour directives.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "devservers.hpp"
#include "o_lib.h"

namespace {

// Freshly started development servers for one test.
class Omegad {
public:
    Omegad() { e2e::use_devservers_in_this_process(); }
    ~Omegad() { o_close_client_lib(nullptr); }

    void start() { servers_.emplace(); }
    void stop() { servers_->omega().stop(); }
    // Behaviour directives, read by the server before every request.
    void directives(const std::string &lines) { servers_->omega_control(lines); }

private:
    std::optional<e2e::DevServers> servers_;
};

// The two unversioned families side by side, so that every check runs over
// both.
#define FAMILY_CALLS(t)                                                                 \
    using Rec = o_##t;                                                                  \
    using List = o_get_##t##_ll_o;                                                      \
    using Node = o_##t##_ll;                                                            \
    static int get(const char *name, Rec *r) { return o_get_##t##_lib(nullptr, name, r); } \
    static int put(const Rec *r) { return o_put_##t##_lib(nullptr, r); }                \
    static int del(const char *name) { return o_del_##t##_lib(nullptr, name); }         \
    static void release(List *l) { o_get_##t##_ll_free(l); }

struct Faxg {
    FAMILY_CALLS(faxg)
    static constexpr int kPut = O_PUT_FAXG;
    static int list(List *l) { return o_get_faxg_ll_lib(nullptr, l); }
    static Rec make(const char *name)
    {
        Rec r{};
        my_strncpy(r.name, name, 10);
        std::strcpy(r.descr, "Faxgruppe");
        r.f3 = 3;
        r.f5 = -1;
        return r;
    }
};

struct Faxl {
    FAMILY_CALLS(faxl)
    static constexpr int kPut = O_PUT_FAXL;
    static int list(List *l)
    {
        long request = 5;
        return o_get_faxl_ll_lib(nullptr, &request, l);
    }
    static Rec make(const char *name)
    {
        Rec r{};
        my_strncpy(r.name, name, 10);
        std::strcpy(r.f18, "Leitung");
        r.f5 = -5;
        r.f10 = 0x7fffffff;
        return r;
    }
};

template <class Family>
class UnversionedFamily : public ::testing::Test {
protected:
    Omegad server_;
};

using Families = ::testing::Types<Faxg, Faxl>;
TYPED_TEST_SUITE(UnversionedFamily, Families);

template <class List>
size_t chain_length(const List &l)
{
    size_t n = 0;
    for (auto *p = l.list; p != nullptr; p = p->next)
        ++n;
    return n;
}

}  // namespace

TYPED_TEST(UnversionedFamily, GetPutAndDeleteAnswerWithTheirCodes)
{
    using F = TypeParam;
    this->server_.start();
    const typename F::Rec rec = F::make("alpha");
    EXPECT_EQ(F::put(&rec), 0);

    typename F::Rec got{};
    EXPECT_EQ(F::get("alpha", &got), 0);
    EXPECT_EQ(std::memcmp(&got, &rec, sizeof rec), 0);
    // A name is asked for with its first ten characters.
    const typename F::Rec longer = F::make("0123456789");
    EXPECT_EQ(F::put(&longer), 0);
    EXPECT_EQ(F::get("0123456789-and-more", &got), 0);
    EXPECT_STREQ(got.name, "0123456789");

    typename F::Rec untouched = F::make("marker");
    EXPECT_EQ(F::get("nosuch", &untouched), 25);
    EXPECT_STREQ(untouched.name, "marker");

    EXPECT_EQ(F::del("alpha"), 0);
    EXPECT_EQ(F::del("alpha"), 34);
    EXPECT_EQ(F::get("alpha", &got), 25);

    this->server_.directives("false " + std::to_string(F::kPut) + "\n");
    EXPECT_EQ(F::put(&rec), 34);
    EXPECT_EQ(F::get("alpha", &got), 25);
}

TYPED_TEST(UnversionedFamily, EmptyListLeavesTheCallersRecordAsItWas)
{
    using F = TypeParam;
    this->server_.start();
    typename F::Node sentinel{};
    typename F::List l{};
    l.count = 77;
    l.list = &sentinel;
    EXPECT_EQ(F::list(&l), 0);
    EXPECT_EQ(l.count, 77);
    EXPECT_EQ(l.list, &sentinel);

    // A count of 0 over a chain: nothing handed over, the chain released.
    const typename F::Rec rec = F::make("x");
    ASSERT_EQ(F::put(&rec), 0);
    this->server_.directives("count " + std::to_string(F::kPut + 2) + " 0\n");
    EXPECT_EQ(F::list(&l), 0);
    EXPECT_EQ(l.list, &sentinel);
}

TYPED_TEST(UnversionedFamily, HandedOverChainOutlivesTheNextCallUntilFreed)
{
    using F = TypeParam;
    this->server_.start();
    for (const char *name : {"one", "two", "three"}) {
        const typename F::Rec rec = F::make(name);
        ASSERT_EQ(F::put(&rec), 0);
    }
    typename F::List first{}, second{};
    ASSERT_EQ(F::list(&first), 0);
    ASSERT_EQ(F::list(&second), 0);
    EXPECT_NE(first.list, second.list);
    ASSERT_EQ(first.count, 3);
    ASSERT_EQ(chain_length(first), 3u);
    EXPECT_STREQ(first.list->entry.name, "one");
    EXPECT_STREQ(first.list->next->next->entry.name, "three");
    const typename F::Rec expect = F::make("two");
    EXPECT_EQ(std::memcmp(&first.list->next->entry, &expect, sizeof expect), 0);
    F::release(&first);
    EXPECT_EQ(first.list, nullptr);
    EXPECT_EQ(chain_length(second), 3u);
    F::release(&second);
}

// An answer whose presence flags have nothing behind them fails to decode:
// the call failed (22), the default handle is forgotten, and nothing the
// decode allocated is left behind (the sanitizer build checks that).
TYPED_TEST(UnversionedFamily, HostileListAnswerIsAFailedCallThatLeaksNothing)
{
    using F = TypeParam;
    this->server_.start();
    this->server_.directives("hostile " + std::to_string(F::kPut + 2) + " 1000\n");
    typename F::List l{};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(F::list(&l), 22);
        EXPECT_EQ(omega_clnt_var, nullptr);
        EXPECT_EQ(l.list, nullptr);
    }
    this->server_.directives("");
    EXPECT_EQ(F::list(&l), 0);  // a new default connection
}

TYPED_TEST(UnversionedFamily, StoppedServerGivesTwentyTwo)
{
    using F = TypeParam;
    this->server_.start();
    typename F::Rec got{};
    EXPECT_EQ(F::get("x", &got), 25);
    this->server_.stop();
    EXPECT_EQ(F::get("x", &got), 22);
    EXPECT_EQ(omega_clnt_var, nullptr);
}

// --- Versioned fax lines ------------------------------------------------------

namespace {

o_faxl_new faxl_new(const char *name, int version)
{
    o_faxl_new r{};
    r.version = version;
    if (version == 1) {
        my_strncpy(r.o_faxl_new_u.v1.name, name, 10);
        std::strcpy(r.o_faxl_new_u.v1.f19, "twenty-character-19");
        std::strcpy(r.o_faxl_new_u.v1.f34, "thirty-four");
    } else {
        my_strncpy(r.o_faxl_new_u.v0.name, name, 10);
        std::strcpy(r.o_faxl_new_u.v0.f19, "nineteen");
        r.o_faxl_new_u.v0.f20 = -20;
        r.o_faxl_new_u.v0.f8 = -1;
    }
    return r;
}

class FaxlNewFamily : public ::testing::Test {
protected:
    Omegad server_;
};

}  // namespace

TEST_F(FaxlNewFamily, GetPutAndDeleteReturnTheServersValues)
{
    server_.start();
    const o_faxl_new rec = faxl_new("n1", 0);
    EXPECT_EQ(o_put_faxl_new_lib(nullptr, &rec), 0);
    o_faxl_new got{};
    EXPECT_EQ(o_get_faxl_new_lib(nullptr, "n1", &got), 0);
    EXPECT_EQ(std::memcmp(&got, &rec, sizeof rec), 0);

    o_faxl_new untouched = faxl_new("marker", 0);
    EXPECT_EQ(o_get_faxl_new_lib(nullptr, "nosuch", &untouched), 25);
    EXPECT_STREQ(untouched.o_faxl_new_u.v0.name, "marker");

    // Answered in version 1: refused, nothing copied.
    server_.directives("version 103 1\n");
    EXPECT_EQ(o_get_faxl_new_lib(nullptr, "n1", &untouched), 32);
    EXPECT_STREQ(untouched.o_faxl_new_u.v0.name, "marker");
    // Answered in a version that does not decode: a failed call.
    server_.directives("version 103 2\n");
    EXPECT_EQ(o_get_faxl_new_lib(nullptr, "n1", &untouched), 22);

    EXPECT_EQ(o_del_faxl_new_lib(nullptr, "n1"), 0);
    EXPECT_EQ(o_del_faxl_new_lib(nullptr, "n1"), 25);
    // Other status values pass through with their sign.
    server_.directives("error 102 7\nerror 105 -9\n");
    EXPECT_EQ(o_put_faxl_new_lib(nullptr, &rec), 7);
    EXPECT_EQ(o_del_faxl_new_lib(nullptr, "n1"), -9);
}

// The server would end at once if the record reached it.
TEST_F(FaxlNewFamily, VersionOneRecordIsNotSentButDumpedAtDebugLevelFive)
{
    server_.start();
    server_.directives("exit 102\n");
    const o_faxl_new v1 = faxl_new("n1", 1);

    testing::internal::CaptureStderr();
    EXPECT_EQ(o_put_faxl_new_lib(nullptr, &v1), 24);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    setdebuglevel(5);
    testing::internal::CaptureStderr();
    EXPECT_EQ(o_put_faxl_new_lib(nullptr, &v1), 24);
    const std::string dump = testing::internal::GetCapturedStderr();
    setdebuglevel(0);
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    fprint_o_faxl_new(f, &v1, " ");
    std::fclose(f);
    EXPECT_EQ(dump, std::string(buf, len));
    std::free(buf);

    o_faxl_new got{};
    EXPECT_EQ(o_get_faxl_new_lib(nullptr, "n1", &got), 25);  // still up, nothing stored
}

TEST_F(FaxlNewFamily, ListHandsOverEvenAnEmptyChain)
{
    server_.start();
    o_faxl_new_ll sentinel{};
    o_get_faxl_new_ll_o l{};
    l.count = 5;
    l.list = &sentinel;
    l.error = 3;
    long request = 0;
    EXPECT_EQ(o_get_faxl_new_ll_lib(nullptr, &request, &l), 0);
    EXPECT_EQ(l.count, 0);
    EXPECT_EQ(l.list, nullptr);
    EXPECT_EQ(l.error, 0);

    server_.directives("error 104 12\n");
    l.list = &sentinel;
    EXPECT_EQ(o_get_faxl_new_ll_lib(nullptr, &request, &l), 12);
    EXPECT_EQ(l.list, &sentinel);
}

TEST_F(FaxlNewFamily, OnlyTheFirstElementsVersionDecides)
{
    server_.start();
    const o_faxl_new a = faxl_new("a", 0), b = faxl_new("b", 1), c = faxl_new("c", 0);
    ASSERT_EQ(o_put_faxl_new_lib(nullptr, &a), 0);
    // The wrapper sends version 0 only; the raw stub stores a version-1 one.
    short *status = o_put_faxl_new_1(const_cast<o_faxl_new *>(&b), omega_clnt_var);
    ASSERT_NE(status, nullptr);
    ASSERT_EQ(*status, 0);
    ASSERT_EQ(o_put_faxl_new_lib(nullptr, &c), 0);

    long request = 0;
    o_get_faxl_new_ll_o first{}, second{};
    ASSERT_EQ(o_get_faxl_new_ll_lib(nullptr, &request, &first), 0);
    ASSERT_EQ(first.count, 3);
    ASSERT_EQ(chain_length(first), 3u);
    EXPECT_EQ(first.list->next->entry.version, 1);
    EXPECT_STREQ(first.list->next->entry.o_faxl_new_u.v1.f34, "thirty-four");

    // A version-1 first element: refused whatever follows, nothing handed over.
    server_.directives("version 104 1\n");
    EXPECT_EQ(o_get_faxl_new_ll_lib(nullptr, &request, &second), 32);
    EXPECT_EQ(second.list, nullptr);
    EXPECT_EQ(second.count, 0);

    // The chain handed over first is still the caller's.
    server_.directives("");
    ASSERT_EQ(o_get_faxl_new_ll_lib(nullptr, &request, &second), 0);
    EXPECT_STREQ(first.list->entry.o_faxl_new_u.v0.name, "a");
    EXPECT_STREQ(first.list->next->next->entry.o_faxl_new_u.v0.name, "c");
    o_get_faxl_new_ll_free(&first);
    o_get_faxl_new_ll_free(&second);
    EXPECT_EQ(second.list, nullptr);
}
