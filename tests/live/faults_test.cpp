// dialcred run as a separate process while a server it needs keeps silent, stalls, is out of
// reach or cannot write: each fault ends the run with its message within a bounded time, and the
// alpha server keeps whole entries, exactly those of the steps before the fault.
#include <thread>

#include "shared_servers.hpp"
#include "silent_port.hpp"

using namespace e2e;

// Silent servers are waited out up to the client's limits, all at once: 10 seconds for each
// directory step, the mail server's time-out for the login. Each attempt is counted.
TEST(Faults, SilentDirectoryOrMailServerIsWaitedOutUpToItsLimit)
{
    const std::string port = std::to_string(testsupport::silent_port());
    const std::string timed_out = " returns Timed out\n" + kUnknownLdap;
    const struct {
        std::string extension, key, value, out;
        double min, max;
    } cases[] = {
        {"4714", "GD_LDPRT", std::to_string(testsupport::silent_port(/*answer_binds=*/true)),
         "internal error: ldap_search_st" + timed_out, 9.5, 20},
        {"4715", "GD_LDPRT", port, "internal error: ldap_simple_bind_s" + timed_out, 9.5, 20},
        {"4711", "GD_IMH", "127.0.0.1:" + port, kWrongPassword, 24, 36},
        {"4713", "GD_IMH", "{127.0.0.1:" + port + "/pop3}", kWrongPassword, 24, 36},
    };
    Usrconf extra;
    for (const auto &c : cases)
        extra[{user_of(c.extension), c.key}] = c.value;
    DevServers s = servers(extra);
    s.alpha_control("clock =1000000\n");
    std::vector<std::thread> runs;
    for (const auto &c : cases)
        runs.emplace_back([&] {
            SCOPED_TRACE(c.value);
            const RunResult r = dialcred(s, {c.extension, "1234", kPassword});
            expect_result(r, 1, c.out);
            EXPECT_GE(r.seconds, c.min);
            EXPECT_LT(r.seconds, c.max);
        });
    for (std::thread &t : runs)
        t.join();
    for (const auto &c : cases)
        EXPECT_EQ((s.store()[{user_of(c.extension), "T" + c.extension}]), "1000000 1");
}

// Slow but within the bind's 10-second limit, the directory is waited for.
TEST(Faults, DirectoryStalledForThreeSecondsIsWaitedFor)
{
    DevServers s = servers();
    slapd().pause();
    std::thread resume([] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        slapd().resume();
    });
    const RunResult r = dialcred(s, {"4711", "1234", kPassword});
    resume.join();
    expect_result(r, 0, "Ok");
    EXPECT_GE(r.seconds, 3.0);
}

// Without rpcbind no server can be found. The machine's rpcbind serves other tests, so the
// command runs in a network namespace of its own, where loopback is up and nothing listens.
TEST(Faults, RpcbindOutOfReachFailsTheRouteLookup)
{
    const testsupport::Environment path = {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
    const std::string lo_up = "ip link set lo up";
    if (testsupport::run_command({"unshare", "--net", "sh", "-c", lo_up}, path, 10).exit_status)
        GTEST_SKIP() << "no private network namespace here: rpcbind cannot be taken away";
    DevServers s = servers();
    const Usrconf before = s.store();
    const RunResult r = dialcred(s, {"4711", "1234", kPassword}, "", path,
                                 {"unshare", "--net", "sh", "-c", lo_up + " && exec \"$0\" \"$@\""});
    expect_result(r, 1, "internal error: o_apply_route returns error EC_1\n\n");
    EXPECT_LT(r.seconds, 5.0);
    EXPECT_EQ(s.store(), before);
}

// A store that cannot be written (full disk, read-only) answers every write false and keeps each
// entry as it was, in the server's memory too, which the next run's count shows: such a server
// counts no attempt at all.
TEST(Faults, AlphaStoreThatCannotBeWrittenKeepsEveryEntryAsItWas)
{
    const std::string refused = "internal error: a_put_usrconf_lib returns EC_34\n\n";
    const struct {
        const char *counter_before;
        std::string password, out, next_count;
    } cases[] = {
        {"5 3", kPassword, refused, "1000008 4"},
        {nullptr, "falsch", kWrongPassword, "1000000 1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.next_count);
        Usrconf extra = {{{"u4711", "t4711"}, "old code"}};
        if (c.counter_before)
            extra[{"u4711", "T4711"}] = c.counter_before;
        DevServers s = servers(extra);
        const Usrconf before = s.store();
        s.alpha_control("clock =1000000\nnosave\n");
        expect_result(dialcred(s, {"4711", "1234", c.password}), 1, c.out);
        EXPECT_EQ(s.store(), before);
        s.alpha_control("clock =1000000\n");
        expect_result(dialcred(s, {"4711", "1234", "falsch"}), 1, kWrongPassword);
        EXPECT_EQ((s.store()[{"u4711", "T4711"}]), c.next_count);
        EXPECT_EQ((s.store()[{"u4711", "t4711"}]), "old code");
    }
}
