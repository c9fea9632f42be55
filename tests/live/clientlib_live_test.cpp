// The route, configuration and usrconf wrappers against the project's own
// omega and alpha servers, through real sockets and rpcbind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "a_lib.h"
#include "devservers.hpp"
#include "o_lib.h"

using e2e::DevServers;

namespace {

// Every client of this process finds the servers on loopback under the
// process's own program offset.
class LibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override { e2e::use_devservers_in_this_process(); }
};
const auto *const g_env = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

DevServers servers(bool old_alpha = false)
{
    return DevServers({{"4711", "127.0.0.1", "mueller", "id1"},
                       {"0123456789", "alpha.example", "long", "id2"}},
                      {{"PINLENMIN", "4"}},
                      {{{"mueller", "GD_LDH"}, "127.0.0.1"}}, old_alpha);
}

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

TEST(RouteLookup, FindsTheRouteOrPassesTheServersCodeOn)
{
    DevServers s = servers();
    char host[36] = "keep", user[11] = "keep", id[11] = "keep";
    ASSERT_EQ(o_apply_route_new_lib(nullptr, "4711", "", host, user, id), 0);
    EXPECT_STREQ(host, "127.0.0.1");
    EXPECT_STREQ(user, "mueller");
    EXPECT_STREQ(id, "id1");

    // The number is sent as its first 10 characters.
    ASSERT_EQ(o_apply_route_new_lib(nullptr, "0123456789ABC", "", host, user, id), 0);
    EXPECT_STREQ(user, "long");

    std::strcpy(host, "keep");
    EXPECT_EQ(o_apply_route_new_lib(nullptr, "9999", "", host, user, id), 25);
    EXPECT_STREQ(host, "keep") << "no route leaves the buffers untouched";

    s.omega_control("error 94 -7\n");
    EXPECT_EQ(o_apply_route_new_lib(nullptr, "4711", "", host, user, id), -7);
    // An answer of another version does not decode: a failed call.
    s.omega_control("version 94 1\n");
    EXPECT_EQ(o_apply_route_new_lib(nullptr, "4711", "", host, user, id), 22);
    EXPECT_EQ(omega_clnt_var, nullptr);
    s.omega_control("");
    EXPECT_EQ(o_apply_route_new_lib(nullptr, "4711", "", host, user, id), 0)
        << "the next call opens a new default handle";
}

TEST(RouteLookup, OmegaServerGoneGives22AndNoHandleGives1)
{
    DevServers s = servers();
    char host[36], user[11], id[11];
    ASSERT_EQ(o_apply_route_new_lib(nullptr, "4711", "", host, user, id), 0);
    s.omega().stop();
    EXPECT_EQ(o_apply_route_new_lib(nullptr, "4711", "", host, user, id), 22);
    EXPECT_EQ(omega_clnt_var, nullptr);
    // Nothing registered any more: the default handle cannot be created.
    EXPECT_EQ(o_apply_route_new_lib(nullptr, "4711", "", host, user, id), 1);
}

TEST(RouteTable, ReadWriteDeleteAndRefuseOtherVersions)
{
    DevServers s = servers();
    ASSERT_EQ(o_put_ron_lib(nullptr, "r9", "descr", "5555", "", "127.0.0.1", "schmidt", "id9",
                            "text", -42),
              0);
    o_route_new route{};
    ASSERT_EQ(o_get_ron_lib(nullptr, "r9", &route), 0);
    EXPECT_EQ(route.version, 0);
    EXPECT_STREQ(route.o_route_new_u.v0.target_user, "schmidt");
    EXPECT_EQ(route.o_route_new_u.v0.target_value, -42);

    s.omega_control("version 92 1\n");
    o_route_new untouched{};
    EXPECT_EQ(o_get_ron_lib(nullptr, "r9", &untouched), 32);
    EXPECT_EQ(untouched.o_route_new_u.v0.target_user[0], '\0');
    s.omega_control("");

    EXPECT_EQ(o_del_ron_lib(nullptr, "r9"), 0);
    EXPECT_EQ(o_get_ron_lib(nullptr, "r9", &route), 25);
}

TEST(Configuration, EmptyValueIsNoEntryAndKeysAreCutToTen)
{
    DevServers s = servers();
    char value[81] = "untouched";
    EXPECT_EQ(o_get_config_lib(nullptr, "NOSUCHKEY", value), 25);
    EXPECT_STREQ(value, "untouched");

    ASSERT_EQ(o_put_config_lib(nullptr, "ABCDEFGHIJKLMN", std::string(100, 'v').c_str()), 0);
    ASSERT_EQ(o_get_config_lib(nullptr, "ABCDEFGHIJ", value), 0);
    EXPECT_EQ(std::string(value), std::string(80, 'v'));
    ASSERT_EQ(o_get_config_lib(nullptr, "ABCDEFGHIJXYZ", value), 0) << "asked for the first 10";

    s.omega_control("false 48\nfalse 50\n");
    EXPECT_EQ(o_put_config_lib(nullptr, "K", "v"), 22);
    EXPECT_EQ(o_del_config_lib(nullptr, "PINLENMIN"), 25);
    s.omega_control("");
    EXPECT_EQ(o_del_config_lib(nullptr, "PINLENMIN"), 0);
    EXPECT_EQ(o_get_config_lib(nullptr, "PINLENMIN", value), 25);

    long first = 0, second = 0;
    ASSERT_EQ(o_get_compat_lib(nullptr, &first, &second), 0);
    EXPECT_NE(first, 0);
}

TEST(Usrconf, NewServerReadsWritesAndDeletesWithLongKeys)
{
    DevServers s = servers();
    const std::string key30(30, 'k');
    char value[81];
    ASSERT_EQ(a_put_usrconf_lib(nullptr, "mueller", (key30 + "cut").c_str(),
                                std::string(90, 'x').c_str()),
              0);
    auto store = s.store();
    EXPECT_EQ((store[{"mueller", key30}]), std::string(80, 'x'));
    ASSERT_EQ(a_get_usrconf_lib(nullptr, "mueller", key30.c_str(), value), 0);
    EXPECT_EQ(std::string(value), std::string(80, 'x'));

    // The server's own code for a missing entry is passed on, buffer empty.
    std::strcpy(value, "stale");
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "missing", value), 25);
    EXPECT_STREQ(value, "");
    s.alpha_control("error 144 7\n");
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", value), 7);
    EXPECT_STREQ(value, "");
    s.alpha_control("false 145\nfalse 143\n");
    EXPECT_EQ(a_put_usrconf_lib(nullptr, "mueller", "k", "v"), 34);
    EXPECT_EQ(a_del_usrconf_lib(nullptr, "mueller", key30.c_str()), 34);
    s.alpha_control("");
    EXPECT_EQ(a_del_usrconf_lib(nullptr, "mueller", key30.c_str()), 0);
    EXPECT_EQ(s.store().count({"mueller", key30}), 0u);
}

TEST(Usrconf, OldServerGetsTheOldProceduresWithTenCharacterKeys)
{
    DevServers s = servers(/*old_alpha=*/true);
    char value[81] = "stale";
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH_TOO_LONG", value), 24);
    EXPECT_STREQ(value, "");
    EXPECT_NE(alpha_clnt_var, nullptr) << "24 keeps the handle";
    ASSERT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", value), 0);
    EXPECT_STREQ(value, "127.0.0.1");
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "missing", value), 25);

    const char *key21 = "T12345678901234567890";
    ASSERT_EQ(a_put_usrconf_lib(nullptr, "mueller", key21, "1 2"), 0);
    EXPECT_EQ((s.store()[{"mueller", "T123456789"}]), "1 2");
    ASSERT_EQ(a_del_usrconf_lib(nullptr, "mueller", key21), 0);
    EXPECT_EQ(s.store().count({"mueller", "T123456789"}), 0u);
}

// A failed call through the default lets it go; a default that a_clnt
// handed out is only forgotten (the holder closes it, which the sanitizer
// build would catch as a second destroy otherwise), a caller's own handle
// is kept.
TEST(AlphaHandles, FailedCallForgetsTheDefaultAndKeepsTheCallersHandle)
{
    DevServers s = servers();
    char value[81];
    ASSERT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", value), 0);
    CLIENT *handed = nullptr;
    ASSERT_EQ(a_clnt(&handed), 0);
    ASSERT_EQ(handed, alpha_clnt_var);
    CLIENT *own = nullptr;
    ASSERT_EQ(a_open_client_lib(&own, "127.0.0.1"), 0);
    ASSERT_EQ(a_get_usrconf_lib(own, "mueller", "GD_LDH", value), 0);

    s.alpha().stop();
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", value), 16);
    EXPECT_EQ(alpha_clnt_var, nullptr);
    CLIENT *before = own;
    EXPECT_EQ(a_get_usrconf_lib(own, "mueller", "GD_LDH", value), 16);
    EXPECT_EQ(own, before);
    EXPECT_EQ(a_put_usrconf_lib(own, "mueller", "GD_LDH", "x"), 16)
        << "a second call on the dead connection fails too, without SIGPIPE";

    s.restart_alpha();
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", value), 0)
        << "a fresh default handle";
    EXPECT_NE(alpha_clnt_var, handed);
    a_close_client_lib(handed);
    a_close_client_lib(own);
    EXPECT_EQ(a_close_client_lib(nullptr), 0);
    EXPECT_EQ(a_close_client_lib(nullptr), 2);
}

TEST(AlphaHandles, ExplicitHostNeedsAHandleVariable)
{
    DevServers s = servers();
    EXPECT_EQ(a_open_client_lib(nullptr, "127.0.0.1"), 24);
    EXPECT_EQ(alpha_clnt_var, nullptr);
    CLIENT *own = nullptr;
    EXPECT_EQ(a_open_client_lib(&own, "bad..host"), 2);
    EXPECT_EQ(own, nullptr);
}

TEST(AlphaHandles, SilentServerTimesOutWith16)
{
    DevServers s = servers();
    char value[81];
    ASSERT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", value), 0);
    s.alpha_control("hang 144\n");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(a_get_usrconf_lib(nullptr, "mueller", "GD_LDH", value), 16);
    double took = seconds_since(t0);
    EXPECT_GE(took, 24.0);
    EXPECT_LT(took, 30.0);
    EXPECT_EQ(alpha_clnt_var, nullptr);
}

TEST(EventLog, CarriesLinesOfUpTo79Characters)
{
    DevServers s = servers();
    const std::string l79(79, 'a'), l80(80, 'b');
    EXPECT_EQ(a_a_log_lib(nullptr, l79.c_str()), 0);
    CLIENT *const before = alpha_clnt_var;
    EXPECT_EQ(a_a_log_lib(nullptr, l80.c_str()), 16);
    EXPECT_EQ(alpha_clnt_var, before) << "a refusal that sends nothing keeps the handle";
    EXPECT_EQ(a_a_log_lib(nullptr, "after"), 0);
    auto log = s.event_log();
    ASSERT_EQ(log.size(), 2u) << "the 80-character line was never sent";
    EXPECT_EQ(log[0], l79);
    EXPECT_EQ(log[1], "after");
}

TEST(Clock, ZeroComesBackAsAPointerToZero)
{
    DevServers s = servers();
    CLIENT *c = nullptr;
    ASSERT_EQ(a_open_client_lib(&c, "127.0.0.1"), 0);
    s.alpha_control("clock =0\n");
    long *now = a_get_jetzt_1(nullptr, c);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(*now, 0);
    s.alpha_control("clock =4000000000\n");
    now = a_get_jetzt_1(nullptr, c);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(static_cast<unsigned long>(static_cast<uint32_t>(*now)), 4000000000UL);
    s.alpha().stop();
    EXPECT_EQ(a_get_jetzt_1(nullptr, c), nullptr);
    a_close_client_lib(c);
}

// Whatever length a caller gives, a text is cut to its field before it
// enters a record.
TEST(BoundedCopies, HugeArgumentsAreCutToTheirFields)
{
    DevServers s = servers();
    const std::string huge(100000, 'x');
    char host[36], user[11], id[11], value[81];
    EXPECT_EQ(o_apply_route_new_lib(nullptr, huge.c_str(), huge.c_str(), host, user, id), 25);
    EXPECT_EQ(o_get_config_lib(nullptr, huge.c_str(), value), 25);
    ASSERT_EQ(a_put_usrconf_lib(nullptr, huge.c_str(), huge.c_str(), huge.c_str()), 0);
    auto store = s.store();
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ((store[{std::string(10, 'x'), std::string(30, 'x')}]), std::string(80, 'x'));
    ASSERT_EQ(a_get_usrconf_lib(nullptr, huge.c_str(), huge.c_str(), value), 0);
    EXPECT_EQ(std::string(value), std::string(80, 'x'));
    EXPECT_EQ(a_del_usrconf_lib(nullptr, huge.c_str(), huge.c_str()), 0);
    EXPECT_EQ(a_a_log_lib(nullptr, huge.c_str()), 16);
}
