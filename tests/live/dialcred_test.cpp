// dialcred's answers: for each way a run can end, also while a server it needs is down, keeps
// silent, stalls or cannot write, and for many runs at once, the exact bytes it prints on standard
// output and standard error, its exit status, and what it leaves on the alpha server.
#include <csignal>
#include <cstdio>
#include <thread>

#include "rpccommon.h"
#include "shared_servers.hpp"

using namespace e2e;

namespace {

const std::string kPasswordTooLong = "Das Passwort ist zu lang.\n";
const std::string kNoDirectory =
    "internal error: ldap_simple_bind_s returns Can't contact LDAP server\n" + kUnknownLdap;
const char *const kCounted = "1000008 4";  // the default T<extension> counted once more
const std::vector<std::string> kGood = {"4711", "1234", kPassword}, kStdin = {"--stdin", "4711"};
const std::vector<std::string> kWrong = {"4711", "1234", "falsch"},
                               kStdin9999 = {"--stdin", "9999"};
const std::vector<std::string> kNoRpcbind = {"unshare", "--net", "sh", "-c",
                                             "ip link set lo up && exec \"$0\" \"$@\""};

// How a message names a library's result code.
std::string ec(int code) { return "EC_" + std::to_string(code) + "\n\n"; }
std::string route_failed(int rc) { return "internal error: o_apply_route returns error " + ec(rc); }
std::string put_failed(int rc) { return "internal error: a_put_usrconf_lib returns " + ec(rc); }
std::vector<std::string> pin(const std::string &p) { return {"4711", p, kPassword}; }
std::vector<std::string> extension(const std::string &e) { return {e, "1234", kPassword}; }
Usrconf entry(const std::string &k, const std::string &v) { return {{{"u4711", k}, v}}; }
Usrconf imh(const std::string &mailbox) { return entry("GD_IMH", mailbox); }

// A peer that takes connections and requests and never answers: a listener nobody accepts from
// (the kernel completes the connections). It stays open until the test process ends.
std::uint16_t silent_port()
{
    std::uint16_t port;
    testsupport::listen_on_loopback(port);
    return port;
}

// A directory that stalls for 3 seconds, and then answers.
void stall_directory(DevServers &)
{
    slapd().pause();
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(3)), slapd().resume();
    }).detach();
}

struct Case {
    std::string out, err = "";      // exit status 0 with "Ok" and the usage message, else 1
    const char *before = "5 3";     // T<extension> before the run: an old count, long unlocked
    const char *counter = nullptr;  // T<extension> after the run; nullptr: as it was
    std::vector<std::string> args = kGood;
    std::string input = "";
    Usrconf extra = {};
    std::string alpha = "", omega = "";  // the servers' directives; the alpha clock is 1000000
    void (*prepare)(DevServers &) = nullptr;
    std::vector<std::string> wrap = {};  // a prefix that runs the command, such as unshare
    bool old_alpha = false;
    std::pair<double, double> seconds = {0, 120};  // a throttle wait; no time-out waited out
};

// Some containers allow no private network namespace; a row that needs one is skipped there.
bool wrap_works(std::vector<std::string> wrap)
{
    wrap.push_back("true");
    return testsupport::run_command(wrap, {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}}, 10)
               .exit_status == 0;
}

// Each case on servers of its own. Whatever happens, a run changes nothing on the alpha server
// but the counter and, when it prints Ok, the keypad code, which gives the password back, and the
// counter is gone; and its level-0 lines reach the alpha server's event log too.
void check(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        const bool three = c.args.size() == 3;
        const std::string ext = three ? c.args[0] : "4711";
        SCOPED_TRACE("case " + std::to_string(&c - cases.data()) + ": " + ext);
        if (!c.wrap.empty() && !wrap_works(c.wrap)) {
            std::printf("case %td skipped: %s cannot run here\n", &c - cases.data(),
                        c.wrap[0].c_str());
            continue;
        }
        Usrconf extra = c.extra;
        if (c.before)
            extra[{user_of(ext), "T" + ext}] = c.before;
        DevServers s = servers(extra, c.old_alpha);
        s.omega_control(c.omega);
        s.alpha_control("clock =1000000\n" + c.alpha);
        if (c.prepare)
            c.prepare(s);
        Usrconf expected = s.store();
        const RunResult r = dialcred(s, c.args, c.input, {}, c.wrap);
        expect_result(r, c.out.ends_with("Ok") || c.out == kUsage ? 0 : 1, c.out, c.err);
        EXPECT_GE(r.seconds, c.seconds.first);
        EXPECT_LT(r.seconds, c.seconds.second);

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

// Runs dialcred once for each argument vector, all at once.
std::vector<RunResult> run_at_once(const DevServers &s,
                                   const std::vector<std::vector<std::string>> &args)
{
    std::vector<RunResult> results(args.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < args.size(); ++i)
        threads.emplace_back([&, i] { results[i] = dialcred(s, args[i]); });
    for (std::thread &t : threads)
        t.join();
    return results;
}

}  // namespace

// Refused before the attempt is counted, so that a refusal is no free password test and no reset
// of the throttle: the count stays as it was.
TEST(Dialcred, RefusalsComeBeforeTheCounter)
{
    check({
        {.out = kUsage, .args = {}},
        {.out = kUsage, .args = kStdin, .input = "1234\r\n"},  // --stdin: a line missing
        {.out = kNoRoute, .args = extension("9999")},
        {.out = route_failed(RPCLIB_O_CALL_FAILED), .omega = "exit 94\n"},
        {.out = route_failed(RPCLIB_O_NO_CLIENT),  // killed, its registration left behind
         .prepare = [](DevServers &s) { s.omega().signal(SIGKILL), s.omega().wait_exit(9); }},
        // No rpcbind: a network namespace of its own, where loopback is up and nothing listens.
        {.out = route_failed(RPCLIB_O_NO_CLIENT), .wrap = kNoRpcbind, .seconds = {0, 5}},
        // A keypad types digits only: any other PIN stores a code no keypad can give.
        {.out = "Der Pincode muss aus Ziffern bestehen.\n", .args = pin("0000")},
        {.out = "Der Pincode muss aus Ziffern bestehen.\n", .args = pin("+1234")},
        {.out = "Der Pincode ist zu kurz, verwenden Sie mindestens 4 Ziffern.\n",
         .args = pin("123")},
        // Before, over-long inputs were refused only after the login and the counter's reset.
        {.out = "Der Pincode ist zu lang.\n", .args = pin(std::string(76, '1'))},
        {.out = kPasswordTooLong, .args = {"4711", "1234", std::string(39, 'q')}},
        {.out = kPasswordTooLong, .args = {"4711", "1234", std::string(5000, 'q')}},
        {.out = kPasswordTooLong, .args = kStdin9999, .input = "1\n" + std::string(1025, 'q')},
        {.out = kNoRoute, .args = kStdin9999, .input = "1\n" + std::string(1024, 'q') + "\r\n"},
        {.out = "internal error: no connect to server bad..host\n",
         .err = "bad..host: RPC: Unknown host\n",
         .args = extension("4799")},
        // Before, an old-generation server's 24 for T + 10 digits let the attempt through.
        {.out = "internal error: a_get_usrconf_lib returns " + ec(RPCLIB_NOT_SENT),
         .args = extension(kLong.substr(0, 10)),
         .old_alpha = true},
    });
}

TEST(Dialcred, GoodPasswordStoresACodeThatGivesThePasswordBack)
{
    check({
        {.out = "Ok", .args = pin("04294967296")},  // past 32 bits: still digits
        {.out = "Ok", .args = extension(kLong)},
        {.out = "Ok", .args = {"4716", std::string(75, '1'), kPassword38}},
        {.out = "Ok", .args = pin("123"), .omega = "exit 49\n"},  // no PINLENMIN to be had
        {.out = "Ok", .old_alpha = true},
        {.out = "Ok", .args = kStdin, .input = "1234\r\n" + kPassword + "\r\n"},
        {.out = "Ok", .args = kStdin, .input = "1234\n" + kPassword},
    });
}

// Past the counter every attempt is counted: no wait after the first, then a wait that doubles,
// and past 59 seconds a refusal that still counts.
TEST(Dialcred, RunsPastTheCounterAreCountedAndThrottled)
{
    const std::string many = " dialcred: Viele Fehlversuche f\xfcr Durchwahl 4711!\n";
    const std::string too_many = " dialcred: ZU VIELE FEHLVERSUCHE F\xfcR DURCHWAHL 4711!\n";
    check({
        {.out = kWrongPassword, .counter = kCounted, .args = {kLong, "1234", "falsch"}},
        {.out = kWrongPassword, .counter = kCounted, .args = kWrong, .old_alpha = true},
        {.out = kWrongPassword, .before = "kein Wert", .counter = "1000000 1", .args = kWrong},
        {.out = "Ok", .before = "1000001 2", .seconds = {1, 120}},
        {.out = kBlocked, .err = many, .before = "1000060 7", .counter = "1000128 8"},
        {.out = "Ok", .err = too_many, .before = "0 16"},
        {.out = "internal error: can't get alpha timestamp (ignored)\nOk", .alpha = "clock =0\n"},
    });
}

// An alpha server that refuses or dies keeps whole entries, those the steps before wrote:
// nothing is rolled back. Before, a server gone mid-run killed the command by SIGPIPE.
TEST(Dialcred, AlphaServerFaultsKeepWhatTheStepsBeforeWrote)
{
    check({
        {.out = put_failed(RPCLIB_REFUSED), .before = nullptr, .alpha = "false 145\n"},
        {.out = kNoDirectory, .counter = kCounted, .alpha = "exit 144 GD_LDBAS\n"},
        {.out = put_failed(RPCLIB_A_CALL_FAILED), .counter = kCounted, .alpha = "exit 143 T\n"},
    });
}

// A store that cannot be written (full disk) answers every write false and keeps each entry as
// it was, in the server's memory too, as the next run's count shows.
TEST(Dialcred, AlphaStoreThatCannotBeWrittenKeepsEveryEntryAsItWas)
{
    DevServers s = servers({{{"u4711", "T4711"}, "5 3"}, {{"u4711", "t4711"}, "old code"}});
    const Usrconf before = s.store();
    s.alpha_control("clock =1000000\nnosave\n");
    expect_result(dialcred(s, kGood), 1, put_failed(RPCLIB_REFUSED));
    expect_result(dialcred(s, kWrong), 1, kWrongPassword);
    EXPECT_EQ(s.store(), before);
    s.alpha_control("clock =1000000\n");
    expect_result(dialcred(s, kWrong), 1, kWrongPassword);
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "1000008 4");
}

// The directory names the mailbox user, or the extension is unknown to it. One that is down ends
// the run at once, a silent one within its 10 seconds, and a slow one is waited for.
TEST(Dialcred, DirectoryNamesTheMailboxUser)
{
    const auto port = [](std::uint16_t p) { return entry("GD_LDPRT", std::to_string(p)); };
    const std::uint16_t dead = testsupport::free_tcp_port();
    const std::string timed_out = "internal error: ldap_simple_bind_s returns Timed out\n" +
                                  kUnknownLdap;
    check({
        {.out = "internal error: GD_LDFIL must hold exactly one %s\n" + kUnknownLdap,
         .counter = kCounted,
         .extra = entry("GD_LDFIL", "(|(cn=%s)(sn=%s))")},
        {.out = kUnknownLdap, .counter = kCounted, .args = extension("4715")},  // not there
        {.out = kUnknownLdap, .counter = kCounted, .args = extension("4712")},  // no uid
        {.out = kUnknownLdap, .counter = kCounted, .args = extension("4714")},  // too long a uid
        {.out = "Ok", .args = extension("4713")},  // the first of two entries
        {.out = kNoDirectory, .counter = kCounted, .extra = port(dead), .seconds = {0, 8}},
        {.out = timed_out, .counter = kCounted, .extra = port(silent_port()), .seconds = {9.5, 20}},
        {.out = "Ok", .prepare = stall_directory, .seconds = {3, 120}},
    });
}

// The mail server proves the password, by IMAP or POP3: one that is down refuses at once, a silent
// one within its 25 seconds.
TEST(Dialcred, MailServerProvesThePassword)
{
    const std::string at = "{127.0.0.1:";
    const std::string dead = at + std::to_string(testsupport::free_tcp_port()) + "}",
                      silent = at + std::to_string(silent_port()) + "}";
    check({
        {.out = kWrongPassword, .counter = kCounted, .extra = imh(dead), .seconds = {0, 8}},
        {.out = kWrongPassword, .counter = kCounted, .extra = imh(silent), .seconds = {24, 36}},
        {.out = "Ok", .extra = imh(at + std::to_string(dovecot().pop3_port()) + "/pop3}")},
    });
}

// TLS when the mailbox specification asks for it, the certificate checked unless it says
// otherwise. Every other case asks for nothing and stays plain, although the server offers
// STARTTLS.
TEST(Dialcred, MailServerTakesTlsOnRequest)
{
    const std::string imap = "{127.0.0.1:" + std::to_string(dovecot().imap_port());
    const std::string imaps = "{127.0.0.1:" + std::to_string(dovecot().imaps_port());
    check({
        {.out = "Ok", .extra = imh(imaps + "/imap/ssl/novalidate-cert}")},
        {.out = kWrongPassword, .counter = kCounted, .extra = imh(imaps + "/imap/ssl}")},
        // Before, STARTTLS could never work.
        {.out = "Ok", .extra = imh(imap + "/imap/tls/novalidate-cert}")},
        {.out = kWrongPassword, .counter = kCounted, .extra = imh(imap + "/imap/tls}")},
    });
}

TEST(Load, FiftyExtensionsAtOnceEachStoreTheirOwnCode)
{
    DevServers s = servers();
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < 50; ++i)
        args.push_back({subscriber(i), std::to_string(1000 + i), "Pw" + subscriber(i)});
    Usrconf expected = s.store();
    const std::vector<RunResult> results = run_at_once(s, args);
    Usrconf store = s.store();
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(args[i][0]);
        expect_result(results[i], 0, "Ok");
        const std::pair<std::string, std::string> code{user_of(args[i][0]), "t" + args[i][0]};
        EXPECT_EQ(decoded_password(args[i][1], store[code]), args[i][2]);
        expected[code] = store[code];
    }
    EXPECT_EQ(store, expected) << "no counter left, nothing else touched";
}

// Runs for one extension take turns (the attempt lock), and every one is counted: four wrong
// passwords at once leave the count 4 (before, it could end lower), thirteen more the count at
// its cap of 16, and only the one past it says so; then ten good ones leave no counter and the
// code of one of them. The clock stands just below 2^32, where every unlock time wraps round, so
// no run sleeps, and each waits for those before it well inside the lock's 60 seconds.
TEST(Load, RunsForOneExtensionAtOnceLeaveAWholeCounterAndADecodableCode)
{
    DevServers s = servers();
    s.alpha_control("clock =4294967295\n");
    const std::string notice = "dialcred: ZU VIELE FEHLVERSUCHE F\xfcR DURCHWAHL 5007!";
    const std::pair<std::string, std::string> counter{"v5007", "T5007"}, code{"v5007", "t5007"};
    const std::vector<std::string> wrong = {"5007", "1000", "falsch"};
    for (const RunResult &r : run_at_once(s, std::vector(4, wrong)))
        expect_result(r, 1, kWrongPassword);
    EXPECT_EQ(s.store()[counter], "7 4");
    int notices = 0;
    for (const RunResult &r : run_at_once(s, std::vector(13, wrong))) {
        expect_result(r, 1, kWrongPassword, r.err.empty() ? "" : " " + notice + "\n");
        notices += !r.err.empty();
    }
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(s.store()[counter], "32767 16");

    std::vector<std::vector<std::string>> good;
    for (int i = 0; i < 10; ++i)
        good.push_back({"5007", std::to_string(1000 + i), "Pw5007"});
    for (const RunResult &r : run_at_once(s, good))
        expect_result(r, 0, "Ok", r.err.empty() ? "" : " " + notice + "\n");
    EXPECT_EQ(s.store().count(counter), 0u);
    int decodes_with = 0;
    for (const auto &run : good)
        decodes_with += decoded_password(run[1], s.store()[code]) == run[2];
    EXPECT_EQ(decodes_with, 1);
    EXPECT_EQ(s.event_log(), std::vector<std::string>(2, notice)) << "1 + the first good run";
}
