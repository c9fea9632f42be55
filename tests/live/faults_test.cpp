// dialcred run as a separate process while one of the servers it needs is
// down, dies in the middle of the run, stalls, or cannot write: each fault
// gives its message and exit status 1, and the alpha server keeps only whole
// entries, exactly those the procedure promises up to the step that failed.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devservers.hpp"
#include "dovecot.hpp"
#include "pinpw2t.h"
#include "process.hpp"
#include "shared_servers.hpp"
#include "slapd.hpp"

using e2e::DevServers;
using testsupport::RunResult;

namespace {

using Usrconf = std::map<std::pair<std::string, std::string>, std::string>;

const std::string kUser = "u4711";
const std::string kExtension = "4711";
const std::string kPin = "1234";
const std::string kPassword = "Geheim42";
const std::string kCounterKey = "T4711";
const std::string kCodeKey = "t4711";
// The alpha server's clock stands still, so that counter values are exact.
const long kNow = 5000000;
const std::string kCounted = "5000000 1";

const std::string kWrongPassword = "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n\n";
const std::string kUnknownLdap = "Die Durchwahl ist unbekannt (LDAP).\n";
const std::string kStoreFailed16 = "internal error: a_put_usrconf_lib returns EC_16\n\n";
const std::string kStoreFailed34 = "internal error: a_put_usrconf_lib returns EC_34\n\n";
const std::string kNoRoute = "internal error: o_apply_route returns error EC_";

std::string ldif()
{
    return testsupport::ldif_base() + testsupport::ldif_person("mmueller", {kExtension});
}

testsupport::DovecotOptions mailbox() { return {{{"mmueller", kPassword}}}; }

// The directory and mail server every test shares, unless it needs one of
// its own to stop.
const auto *const g_env =
    ::testing::AddGlobalTestEnvironment(new e2e::DirectoryAndMail(ldif, mailbox));

// The alpha server's directives: its clock held at kNow, and more.
void alpha_directives(const DevServers &s, const std::string &more = "")
{
    s.alpha_control("clock =" + std::to_string(kNow) + "\n" + more);
}

// A keypad code stored by an earlier success, with another PIN.
const std::string &old_code()
{
    static const std::string code = pinpw2t("5678", kPassword.c_str());
    return code;
}

// The alpha user's settings pointing at the given servers, and the keypad
// code of an earlier success.
Usrconf initial_entries(const testsupport::Slapd &slapd, const testsupport::Dovecot &dovecot)
{
    return {{{kUser, "GD_IMH"}, "127.0.0.1:" + std::to_string(dovecot.imap_port())},
            {{kUser, "GD_LDH"}, "127.0.0.1"},
            {{kUser, "GD_LDPRT"}, std::to_string(slapd.port())},
            {{kUser, "GD_LDBAS"}, testsupport::Slapd::kSuffix},
            {{kUser, kCodeKey}, old_code()}};
}

DevServers servers(const Usrconf &entries)
{
    return DevServers({{kExtension, "127.0.0.1", kUser}}, {{"PINLENMIN", "4"}}, entries);
}

DevServers servers() { return servers(initial_entries(e2e::slapd(), e2e::dovecot())); }

RunResult dialcred(const DevServers &s, const std::string &pin = kPin,
                   const std::string &password = kPassword, double timeout = 60)
{
    return testsupport::run_command({DIALCRED_BINARY, kExtension, pin, password},
                                    s.environment(), timeout);
}

using e2e::expect_refused;

// The entries a run left: the initial ones, with the counter and the keypad
// code as given (nullopt: no entry).
Usrconf with(Usrconf entries, const std::optional<std::string> &counter,
             const std::optional<std::string> &code)
{
    entries.erase({kUser, kCounterKey});
    entries.erase({kUser, kCodeKey});
    if (counter)
        entries[{kUser, kCounterKey}] = *counter;
    if (code)
        entries[{kUser, kCodeKey}] = *code;
    return entries;
}

using e2e::decoded_password;

}  // namespace

// Down before the run, or dying at the route call: nothing is counted.
TEST(Faults, OmegaServerOutOfServiceFailsTheRouteBeforeAnythingIsCounted)
{
    struct Case {
        const char *fault;
        void (*make)(DevServers &);
        int code;
    };
    const Case cases[] = {
        {"stopped (unregistered)", [](DevServers &s) { s.omega().stop(); }, 1},
        {"killed (its registration left behind)",
         [](DevServers &s) {
             s.omega().signal(SIGKILL);
             s.omega().wait_exit(10);
         },
         1},
        {"dies at the route call", [](DevServers &s) { s.omega_control("exit 94\n"); }, 22},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        DevServers s = servers();
        alpha_directives(s);
        const Usrconf before = s.store();
        c.make(s);
        expect_refused(dialcred(s), kNoRoute + std::to_string(c.code) + "\n\n");
        EXPECT_EQ(s.store(), before);
        EXPECT_TRUE(s.event_log().empty());
    }
}

// The minimum PIN length is read once; a failed read means no minimum, so a
// PIN below it is taken.
TEST(Faults, OmegaServerDyingAtTheConfigurationReadLeavesNoMinimum)
{
    DevServers s = servers();
    alpha_directives(s);
    s.omega_control("exit 49\n");
    RunResult r = dialcred(s, "123");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Ok");
    EXPECT_EQ(r.err, "");
    auto store = s.store();
    EXPECT_EQ(store.count({kUser, kCounterKey}), 0u);
    EXPECT_EQ(decoded_password("123", store[{kUser, kCodeKey}]), kPassword);
}

// Without rpcbind no server can be found. The machine's rpcbind serves other
// tests, so the command runs in a network namespace of its own, where
// loopback is up and nothing listens.
TEST(Faults, RpcbindOutOfReachFailsTheRouteLookup)
{
    testsupport::Environment env = {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}};
    RunResult probe = testsupport::run_command(
        {"unshare", "--net", "sh", "-c", "ip link set lo up"}, env, 10);
    if (probe.exit_status != 0)
        GTEST_SKIP() << "no private network namespace here (unshare --net: " << probe.err
                     << "); rpcbind cannot be taken away from this command alone";

    DevServers s = servers();
    alpha_directives(s);
    const Usrconf before = s.store();
    env = s.environment();
    env["PATH"] = "/usr/sbin:/usr/bin:/sbin:/bin";
    RunResult r = testsupport::run_command(
        {"unshare", "--net", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"",
         DIALCRED_BINARY, kExtension, kPin, kPassword},
        env, 60);
    expect_refused(r, kNoRoute + "1\n\n");
    EXPECT_LT(r.seconds, 5.0);
    EXPECT_EQ(s.store(), before);
}

// The alpha server ends (without answering) when a given request arrives.
// Entries are saved whole or not at all, and nothing is rolled back: each
// case keeps what the steps before the fault wrote.
TEST(Faults, AlphaServerDyingMidwayLeavesOnlyTheEntriesOfTheStepsBefore)
{
    const std::string cannot_reach_directory =
        "internal error: ldap_simple_bind_s returns Can't contact LDAP server\n" + kUnknownLdap;
    struct Case {
        const char *point;
        const char *directive;
        std::string out;
        std::optional<std::string> counter;  // the counter left; the code stays the old one
    };
    const Case cases[] = {
        // Nothing is written: the clock and the write-back fail too, and the
        // directory settings fall back to their defaults (port 389 here).
        {"at the counter read", "exit 144 T",
         "internal error: can't get alpha timestamp (ignored)\n" + cannot_reach_directory,
         std::nullopt},
        {"at the directory read", "exit 144 GD_LDBAS", cannot_reach_directory, kCounted},
        // The delete never happened, and the store fails on the dead server.
        {"at the counter delete", "exit 143 T", kStoreFailed16, kCounted},
        {"at the keypad code store", "exit 145 t", kStoreFailed16, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.point);
        DevServers s = servers();
        const Usrconf before = s.store();
        alpha_directives(s, std::string(c.directive) + "\n");
        expect_refused(dialcred(s), c.out);
        EXPECT_TRUE(s.alpha().wait_exit(5)) << "the fault was reached";
        EXPECT_EQ(s.store(), with(before, c.counter, old_code()));
    }
}

// The directory is the third server of the run: slow but within the bind's
// 10-second limit, the run succeeds; stalled, it waits out the limit; down,
// it ends the run at once.
TEST(Faults, DirectoryServerIsWaitedForUpToItsLimitThenTheExtensionIsUnknown)
{
    testsupport::Slapd slapd(testsupport::SlapdOptions{ldif()});
    DevServers s = servers(initial_entries(slapd, e2e::dovecot()));
    alpha_directives(s);
    {
        SCOPED_TRACE("stalled for 3 s");
        slapd.pause();
        std::thread resume([&slapd] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            slapd.resume();
        });
        RunResult r = dialcred(s);
        resume.join();
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out, "Ok");
        EXPECT_GE(r.seconds, 3.0);
        EXPECT_EQ(decoded_password(kPin, s.store()[{kUser, kCodeKey}]), kPassword);
    }
    const Usrconf after_success = s.store();
    const std::string code = after_success.at({kUser, kCodeKey});
    {
        SCOPED_TRACE("stalled throughout");
        slapd.pause();
        RunResult r = dialcred(s);
        slapd.resume();
        expect_refused(r, "internal error: ldap_simple_bind_s returns Timed out\n" + kUnknownLdap);
        EXPECT_GE(r.seconds, 9.5);
        EXPECT_LT(r.seconds, 20.0);
        EXPECT_EQ(s.store(), with(after_success, kCounted, code));
    }
    {
        SCOPED_TRACE("down");
        slapd.stop();
        RunResult r = dialcred(s);
        expect_refused(r, "internal error: ldap_simple_bind_s returns Can't contact LDAP server\n" +
                              kUnknownLdap);
        EXPECT_LT(r.seconds, 5.0);
        EXPECT_EQ(s.store(), with(after_success, "5000002 2", code));
    }
}

TEST(Faults, MailServerDownIsAWrongPasswordAndIsCounted)
{
    testsupport::Dovecot dovecot(mailbox());
    DevServers s = servers(initial_entries(e2e::slapd(), dovecot));
    alpha_directives(s);
    const Usrconf before = s.store();
    dovecot.stop();
    RunResult r = dialcred(s);
    expect_refused(r, kWrongPassword);
    EXPECT_LT(r.seconds, 5.0);
    EXPECT_EQ(s.store(), with(before, kCounted, old_code()));
}

// A store that cannot be written (full disk, read-only): every write is
// answered false, and the store keeps each entry as it was, also in the
// server's memory, which the next run's count shows. Such a server counts no
// attempt at all.
TEST(Faults, AlphaStoreThatCannotBeWrittenKeepsEveryEntryAsItWas)
{
    struct Case {
        const char *situation;
        std::optional<std::string> counter_before;
        std::string password;
        std::string out;
        std::string next_count;  // what a later wrong password finds and counts
    };
    const Case cases[] = {
        {"good password, no counter", std::nullopt, kPassword, kStoreFailed34, "5000000 1"},
        {"good password, a counter", "5 3", kPassword, kStoreFailed34, "5000008 4"},
        {"wrong password", std::nullopt, "falsch", kWrongPassword, "5000000 1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.situation);
        Usrconf entries = initial_entries(e2e::slapd(), e2e::dovecot());
        if (c.counter_before)
            entries[{kUser, kCounterKey}] = *c.counter_before;
        DevServers s = servers(entries);
        const Usrconf before = s.store();
        alpha_directives(s, "nosave\n");
        expect_refused(dialcred(s, kPin, c.password), c.out);
        EXPECT_EQ(s.store(), before);

        alpha_directives(s);
        expect_refused(dialcred(s, kPin, "falsch"), kWrongPassword);
        EXPECT_EQ((s.store()[{kUser, kCounterKey}]), c.next_count);
        EXPECT_EQ((s.store()[{kUser, kCodeKey}]), old_code());
    }
}
