// dialcred's answers: for each way a run can end, also while a server it needs is down, keeps
// silent, stalls or cannot write, the exact bytes it prints on standard output and standard
// error, its exit status, and what it leaves on the alpha server.
#include <csignal>
#include <thread>

#include "shared_servers.hpp"
#include "silent_port.hpp"

using namespace e2e;

namespace {

const std::string kNotDigits = "Der Pincode muss aus Ziffern bestehen.\n";
const std::string kPinTooLong = "Der Pincode ist zu lang.\n";
const std::string kPasswordTooLong = "Das Passwort ist zu lang.\n";
const std::string kNoDirectory =
    "internal error: ldap_simple_bind_s returns Can't contact LDAP server\n" + kUnknownLdap;
const std::string kRouteFailed = "internal error: o_apply_route returns error EC_";
const std::string kStoreFailed = "internal error: a_put_usrconf_lib returns EC_";
const std::string kNoClock = "internal error: can't get alpha timestamp (ignored)\n";
const char *const kCounted = "1000000 1";
const std::vector<std::string> kWrong = {"4711", "1234", "falsch"};
const std::vector<std::string> kStdin = {"--stdin", "4711"}, kStdinNoRoute = {"--stdin", "9999"};

std::vector<std::string> pin(const std::string &p) { return {"4711", p, kPassword}; }
std::vector<std::string> password(const std::string &p) { return {"4711", "1234", p}; }
std::vector<std::string> extension(const std::string &e) { return {e, "1234", kPassword}; }
Usrconf entry(const std::string &key, const std::string &value)
{
    return {{{"u4711", key}, value}};
}

struct Case {
    std::string out;  // exit status 0 for "Ok" and the usage message, 1 for all else
    std::string err = "";
    const char *counter = nullptr;  // T<extension> after the run; nullptr: as it was
    std::vector<std::string> args = {"4711", "1234", kPassword};
    std::string input = "";
    Usrconf extra = {};
    std::string alpha = "", omega = "";  // the servers' directives; the alpha clock is 1000000
    void (*prepare)(DevServers &) = nullptr;
    const char *pinlenmin = "4";
    bool old_alpha = false;
    double min_seconds = 0, max_seconds = 120;  // a throttle wait; no time-out waited out
};

// Each case on servers of its own, with the entries of preset. Whatever happens, a run changes
// nothing on the alpha server but the counter and, when it prints Ok, the keypad code, which
// gives the password back, and the counter is gone; and its level-0 lines reach the alpha
// server's event log too.
void check(const std::vector<Case> &cases, const Usrconf &preset = {})
{
    for (const Case &c : cases) {
        const bool three = c.args.size() == 3;
        const std::string ext = three ? c.args[0] : "4711";
        SCOPED_TRACE("case " + std::to_string(&c - cases.data()) + ": " + ext);
        Usrconf extra = c.extra;
        extra.insert(preset.begin(), preset.end());
        DevServers s = servers(extra, c.old_alpha, {{"PINLENMIN", c.pinlenmin}});
        s.omega_control(c.omega);
        s.alpha_control("clock =1000000\n" + c.alpha);
        if (c.prepare)
            c.prepare(s);
        Usrconf expected = s.store();
        const RunResult r = dialcred(s, c.args, c.input);
        expect_result(r, c.out.ends_with("Ok") || c.out == kUsage ? 0 : 1, c.out, c.err);
        EXPECT_GE(r.seconds, c.min_seconds);
        EXPECT_LT(r.seconds, c.max_seconds);

        const std::pair<std::string, std::string> counter{user_of(ext), "T" + ext},
            code{user_of(ext), "t" + ext};
        Usrconf after = s.store();
        if (c.counter)
            expected[counter] = c.counter;
        if (r.out.ends_with("Ok")) {
            EXPECT_EQ(decoded_password(three ? c.args[1] : "1234", after[code]),
                      three ? c.args[2] : kPassword);
            expected[code] = after[code];
            expected.erase(counter);
        }
        EXPECT_EQ(after, expected);

        std::vector<std::string> logged;
        if (c.err.starts_with(" dialcred: "))
            logged.push_back(c.err.substr(1, c.err.size() - 2));
        EXPECT_EQ(s.event_log(), logged);
    }
}

}  // namespace

// Refused before the attempt is counted: an earlier count stays as it was.
TEST(Dialcred, UsageRouteAndPinRefusalsComeBeforeTheCounter)
{
    check({
              {.out = kUsage, .args = {}},
              {.out = kUsage, .args = {"4711", "1234", kPassword, "x"}},
              {.out = kUsage, .args = {"--stdin"}},
              {.out = kNoRoute, .args = extension("9999")},
              {.out = kRouteFailed + "7\n\n", .omega = "error 94 7\n"},
              {.out = kRouteFailed + "22\n\n", .omega = "exit 94\n"},
              {.out = kRouteFailed + "1\n\n", .prepare = [](DevServers &s) { s.omega().stop(); }},
              {.out = kRouteFailed + "1\n\n",  // killed, its registration left behind
               .prepare = [](DevServers &s) { s.omega().signal(SIGKILL), s.omega().wait_exit(9); }},
              // A keypad types digits only: any other PIN stores a code no keypad can give.
              {.out = kNotDigits, .args = pin("0000")},
              {.out = kNotDigits, .args = pin("")},
              {.out = kNotDigits, .args = pin(" 1234")},
              {.out = kNotDigits, .args = pin("1234 ")},
              {.out = kNotDigits, .args = pin("+1234")},
              {.out = kNotDigits, .args = pin("1abc")},
              {.out = "Der Pincode ist zu kurz, verwenden Sie mindestens 4 Ziffern.\n",
               .args = pin("123")},
              {.out = "Der Pincode ist zu kurz, verwenden Sie mindestens -2 Ziffern.\n",
               .args = pin("123456"), .pinlenmin = "-2"},
          },
          entry("T4711", "5 3"));
}

// Over-long inputs are no free password test and no reset of the throttle, and a counter the
// server cannot hold cannot count: all refused before the counter.
TEST(Dialcred, OverlongInputsAndUncountableAttemptsAreRefusedBeforeTheCounter)
{
    check({
              {.out = kPinTooLong, .args = pin(std::string(76, '1'))},
              {.out = kPasswordTooLong, .args = password(std::string(39, 'q'))},
              {.out = kPasswordTooLong, .args = password(std::string(5000, 'q'))},
              // A code of 83 characters.
              {.out = kPasswordTooLong, .args = password(std::string(20, '\xe9'))},
              {.out = "internal error: no connect to server bad..host\n",
               .err = "bad..host: RPC: Unknown host\n", .args = extension("4799")},
              // An old-generation server cannot read T + 10 digits.
              {.out = "internal error: a_get_usrconf_lib returns EC_24\n\n",
               .args = extension(kLong.substr(0, 10)), .old_alpha = true},
              // --stdin: lines of at most 1,024 bytes; 9999 has no route.
              {.out = kUsage, .args = kStdin},
              {.out = kUsage, .args = kStdin, .input = "1234\r\n"},
              {.out = kPinTooLong, .args = kStdinNoRoute,
               .input = std::string(1025, '1') + "\n" + kPassword + "\n"},
              {.out = kPasswordTooLong, .args = kStdinNoRoute,
               .input = "1234\n" + std::string(1025, 'q') + "\n"},
              {.out = kNoRoute, .args = kStdinNoRoute,
               .input = "1234\n" + std::string(1024, 'q') + "\r\n"},
          },
          entry("T4711", "5 3"));
}

TEST(Dialcred, GoodPasswordStoresACodeThatGivesThePasswordBack)
{
    check({
        {.out = "Ok", .extra = entry("T4711", "5 3")},
        {.out = "Ok", .args = extension(kLong)},
        {.out = "Ok", .args = pin("0123")},
        {.out = "Ok", .args = pin("4294967296")},
        {.out = "Ok", .args = {"4716", std::string(75, '1'), kPassword38}},
        {.out = "Ok", .args = pin("1"), .pinlenmin = ""},
        {.out = "Ok", .args = pin("123"), .omega = "exit 49\n"},
        {.out = "Ok", .old_alpha = true},
        {.out = "Ok", .args = kStdin, .input = "1234\n" + kPassword + "\n"},
        {.out = "Ok", .args = kStdin, .input = "1234\r\n" + kPassword + "\r\n"},
        {.out = "Ok", .args = kStdin, .input = "1234\n" + kPassword},
    });
}

// Past the counter every attempt is counted, slowed down, and refused past a limit.
TEST(Dialcred, RunsPastTheCounterAreCountedAndThrottled)
{
    check({
        {.out = kWrongPassword, .counter = kCounted, .args = kWrong},
        {.out = kWrongPassword, .counter = kCounted, .args = {kLong, "1234", "falsch"}},
        {.out = kWrongPassword, .counter = kCounted, .args = kWrong, .old_alpha = true},
        // No wait after the first attempt, then a wait that doubles, and past 59 seconds a
        // refusal that still counts.
        {.out = kWrongPassword, .counter = "1000002 2", .args = kWrong,
         .extra = entry("T4711", kCounted)},
        {.out = kWrongPassword, .counter = "1000005 3", .args = kWrong,
         .extra = entry("T4711", "1000002 2"), .alpha = "clock =1000001\n", .min_seconds = 1},
        {.out = kWrongPassword, .counter = "1000008 4", .args = kWrong,
         .extra = entry("T4711", "1000000 3")},
        {.out = kBlocked, .err = " dialcred: Viele Fehlversuche f\xfcr Durchwahl 4711!\n",
         .counter = "1000128 8", .args = kWrong, .extra = entry("T4711", "1000060 7")},
        {.out = kWrongPassword, .err = " dialcred: ZU VIELE FEHLVERSUCHE F\xfcR DURCHWAHL 4711!\n",
         .counter = "1032768 16", .args = kWrong, .extra = entry("T4711", "0 16")},
        {.out = kWrongPassword, .counter = kCounted, .args = kWrong,
         .extra = entry("T4711", "kein Wert")},
        {.out = kNoClock + "Ok", .alpha = "clock =0\n"},
    });
}

// A fault of the alpha server keeps whole entries, those the steps before it wrote: nothing is
// rolled back.
TEST(Dialcred, AlphaServerFaultsKeepWhatTheStepsBeforeWrote)
{
    const Usrconf old = entry("t4711", "old code");
    check({
        {.out = kStoreFailed + "34\n\n", .extra = old, .alpha = "false 145\n"},
        // The alpha server ends, without an answer, at the request for a key.
        {.out = kNoClock + kNoDirectory, .extra = old, .alpha = "exit 144 T\n"},
        {.out = kNoDirectory, .counter = kCounted, .extra = old, .alpha = "exit 144 GD_LDBAS\n"},
        {.out = kStoreFailed + "16\n\n", .counter = kCounted, .extra = old,
         .alpha = "exit 143 T\n"},
        {.out = kStoreFailed + "16\n\n", .extra = old, .alpha = "exit 145 t\n"},
    });
}

// The directory names the mailbox user, or the extension is unknown to it; a directory that is
// down ends the run at once.
TEST(Dialcred, DirectoryNamesTheMailboxUser)
{
    Usrconf bind = entry("GD_LDU", testsupport::Slapd::kRootDn);
    bind.merge(entry("GD_LDP", "falsch"));
    check({
        {.out = "internal error: ldap_simple_bind_s returns Invalid credentials\n" + kUnknownLdap,
         .counter = kCounted, .extra = bind},
        {.out = "internal error: GD_LDFIL must hold exactly one %s\n" + kUnknownLdap,
         .counter = kCounted, .extra = entry("GD_LDFIL", "(|(cn=%s)(sn=%s))")},
        {.out = kUnknownLdap, .counter = kCounted, .args = extension("4715")},  // not there
        {.out = kUnknownLdap, .counter = kCounted, .args = extension("4712")},  // no uid
        {.out = kUnknownLdap, .counter = kCounted, .args = extension("4714")},  // too long a uid
        {.out = "Ok", .args = extension("4713")},  // the first of two entries
        {.out = "Ok",
         .extra = entry("GD_LDFIL", "(&(objectClass=inetOrgPerson)(facsimileTelephoneNumber=%s))")},
        {.out = kNoDirectory, .counter = kCounted,
         .extra = entry("GD_LDPRT", std::to_string(testsupport::free_tcp_port())),
         .max_seconds = 8},
    });
}

// The mail server proves the password, by IMAP or POP3; one that is down refuses at once.
TEST(Dialcred, MailServerProvesThePassword)
{
    const std::string pop3 = "{127.0.0.1:" + std::to_string(dovecot().pop3_port()) + "/pop3}";
    const auto imh = [](const std::string &spec) { return entry("GD_IMH", spec); };
    check({
        {.out = kWrongPassword, .counter = kCounted,
         .extra = imh("127.0.0.1:" + std::to_string(testsupport::free_tcp_port())),
         .max_seconds = 8},
        {.out = kWrongPassword, .counter = kCounted, .args = kWrong, .extra = imh(pop3)},
        {.out = "Ok", .extra = imh(pop3)},
    });
}

// TLS when the mailbox specification asks for it, the certificate checked unless it says
// otherwise; a plain login when it asks for nothing, also where the server offers STARTTLS.
TEST(Dialcred, MailServerTakesTlsOnRequest)
{
    const std::string imap = "{127.0.0.1:" + std::to_string(dovecot().imap_port());
    const std::string imaps = "{127.0.0.1:" + std::to_string(dovecot().imaps_port());
    const auto imh = [](const std::string &spec) { return entry("GD_IMH", spec); };
    check({
        {.out = "Ok", .extra = imh(imaps + "/imap/ssl/novalidate-cert}")},
        {.out = kWrongPassword, .counter = kCounted, .extra = imh(imaps + "/imap/ssl}")},
        {.out = "Ok", .extra = imh(imap + "/imap/tls/novalidate-cert}")},
        {.out = kWrongPassword, .counter = kCounted, .extra = imh(imap + "/imap/tls}")},
        {.out = "Ok", .extra = imh(imap + "}")},
        {.out = "Ok", .extra = imh(imap.substr(1))},
    });
}

// Silent servers are waited out up to the client's limits: 10 seconds for each directory step.
// A directory slow within them is waited for.
TEST(Faults, SilentDirectoryIsWaitedOutUpToItsLimit)
{
    const std::string timed_out = " returns Timed out\n" + kUnknownLdap;
    check({
        {.out = "internal error: ldap_search_st" + timed_out, .counter = kCounted,
         .extra = entry("GD_LDPRT", std::to_string(testsupport::silent_port(/*binds=*/true))),
         .min_seconds = 9.5, .max_seconds = 20},
        {.out = "internal error: ldap_simple_bind_s" + timed_out, .counter = kCounted,
         .extra = entry("GD_LDPRT", std::to_string(testsupport::silent_port())),
         .min_seconds = 9.5, .max_seconds = 20},
        {.out = "Ok",
         .prepare = [](DevServers &) {
             slapd().pause();
             std::thread([] {
                 std::this_thread::sleep_for(std::chrono::seconds(3));
                 slapd().resume();
             }).detach();
         },
         .min_seconds = 3},
    });
}

// The mail login is bounded by its own time-out, for IMAP and for POP3.
TEST(Faults, SilentMailServerIsWaitedOutUpToItsLimit)
{
    const std::string silent = "127.0.0.1:" + std::to_string(testsupport::silent_port());
    check({
        {.out = kWrongPassword, .counter = kCounted, .extra = entry("GD_IMH", silent),
         .min_seconds = 24, .max_seconds = 36},
        {.out = kWrongPassword, .counter = kCounted,
         .extra = entry("GD_IMH", "{" + silent + "/pop3}"), .min_seconds = 24, .max_seconds = 36},
    });
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
    const std::string exec_after = lo_up + " && exec \"$0\" \"$@\"";
    const RunResult r = dialcred(s, {"4711", "1234", kPassword}, "", path,
                                 {"unshare", "--net", "sh", "-c", exec_after});
    expect_result(r, 1, "internal error: o_apply_route returns error EC_1\n\n");
    EXPECT_LT(r.seconds, 5.0);
    EXPECT_EQ(s.store(), before);
}

// A store that cannot be written (full disk, read-only) answers every write false and keeps each
// entry as it was, in the server's memory too, which the next runs' counts show: such a server
// counts no attempt, neither in an existing counter (4711) nor in a new one (4712).
TEST(Faults, AlphaStoreThatCannotBeWrittenKeepsEveryEntryAsItWas)
{
    DevServers s = servers({{{"u4711", "T4711"}, "5 3"}, {{"u4711", "t4711"}, "old code"}});
    const Usrconf before = s.store();
    s.alpha_control("clock =1000000\nnosave\n");
    expect_result(dialcred(s, {"4711", "1234", kPassword}), 1, kStoreFailed + "34\n\n");
    expect_result(dialcred(s, {"4711", "1234", "falsch"}), 1, kWrongPassword);
    expect_result(dialcred(s, {"4712", "1234", kPassword}), 1, kUnknownLdap);
    EXPECT_EQ(s.store(), before);
    s.alpha_control("clock =1000000\n");
    expect_result(dialcred(s, {"4711", "1234", "falsch"}), 1, kWrongPassword);
    expect_result(dialcred(s, {"4712", "1234", kPassword}), 1, kUnknownLdap);
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "1000008 4");
    EXPECT_EQ((s.store()[{"u4712", "T4712"}]), "1000000 1");
}
