// dialcred run as a separate process, the way a host runs it, against the
// project's omega and alpha servers, a private slapd and a private dovecot:
// its standard output bytes, standard error, exit status, and the entries it
// leaves on the alpha server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "devservers.hpp"
#include "fake_ldap.hpp"
#include "process.hpp"
#include "shared_servers.hpp"
#include "silent_port.hpp"

using e2e::DevServers;
using testsupport::RunResult;

namespace {

const std::string kUsage = "Sie m\xfcssen alle drei Felder ausf\xfcllen.\n";
const std::string kWrongPassword = "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n\n";
const std::string kUnknownLdap = "Die Durchwahl ist unbekannt (LDAP).\n";
const std::string kBlocked = "Der Zugriff ist blockiert, versuchen Sie es sp\xe4ter.\n";

const std::string kPassword = "Geheim42";
const std::string kPassword38(38, 'p');

std::string directory_entries()
{
    using namespace testsupport;
    std::string ldif = ldif_base();
    ldif += ldif_person("mmueller", {"4711"});
    ldif += ldif_person_without_uid("ohne uid", {"4712"});
    ldif += ldif_person("anna13", {"4713"});
    ldif += ldif_person("berta13", {"4713"});
    ldif += ldif_person(std::string(320, 'u'), {"4714"}, "longuid");
    ldif += ldif_person("lang38", {"4716"});
    return ldif;
}

testsupport::DovecotOptions mailboxes()
{
    return {{{"mmueller", kPassword}, {"anna13", kPassword}, {"lang38", kPassword38}}};
}

const auto *const g_env = ::testing::AddGlobalTestEnvironment(
    new e2e::DirectoryAndMail(directory_entries, mailboxes));

using Usrconf = std::map<std::pair<std::string, std::string>, std::string>;

// The directory and mail settings of an alpha user, pointing at the private
// servers.
Usrconf settings(const std::string &user, const std::string &imap = "")
{
    return {{{user, "GD_IMH"},
             imap.empty() ? "127.0.0.1:" + std::to_string(e2e::dovecot().imap_port()) : imap},
            {{user, "GD_LDH"}, "127.0.0.1"},
            {{user, "GD_LDPRT"}, std::to_string(e2e::slapd().port())},
            {{user, "GD_LDBAS"}, testsupport::Slapd::kSuffix}};
}

std::vector<e2e::Route> routes()
{
    std::vector<e2e::Route> r;
    for (const char *n : {"4711", "4712", "4713", "4714", "4715", "4716"})
        r.push_back({n, "127.0.0.1", std::string("u") + n});
    return r;
}

Usrconf all_settings()
{
    Usrconf all;
    for (const auto &r : routes()) {
        Usrconf s = settings(r.user);
        all.insert(s.begin(), s.end());
    }
    return all;
}

DevServers standard_servers(const Usrconf &extra = {}, bool old_alpha = false,
                            std::map<std::string, std::string> config = {{"PINLENMIN", "4"}})
{
    Usrconf usrconf = all_settings();
    for (const auto &[k, v] : extra)
        usrconf[k] = v;
    return DevServers(routes(), config, usrconf, old_alpha);
}

RunResult dialcred(const DevServers &s, const std::vector<std::string> &args,
                   double timeout = 60)
{
    std::vector<std::string> argv = {DIALCRED_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::run_command(argv, s.environment(), timeout);
}

using e2e::decoded_password;

using e2e::expect_refused;

}  // namespace

TEST(Dialcred, WrongNumberOfArgumentsPrintsTheUsageAndExitsZero)
{
    DevServers s = standard_servers();
    for (const auto &args : std::vector<std::vector<std::string>>{
             {}, {"4711"}, {"4711", "1234"}, {"4711", "1234", kPassword, "extra"}}) {
        RunResult r = dialcred(s, args);
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(s.store().count({"u4711", "T4711"}) == 0) << "no server was asked to count";
}

TEST(Dialcred, GoodPasswordStoresAKeypadCodeThatGivesThePasswordBack)
{
    DevServers s = standard_servers({{{"u4711", "T4711"}, "5 3"}});
    RunResult r = dialcred(s, {"4711", "1234", kPassword});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Ok");
    EXPECT_EQ(r.err, "");
    auto store = s.store();
    ASSERT_EQ(store.count({"u4711", "t4711"}), 1u);
    EXPECT_EQ(decoded_password("1234", store[{"u4711", "t4711"}]), kPassword);
    EXPECT_EQ(store.count({"u4711", "T4711"}), 0u) << "a good password resets the counter";
    EXPECT_TRUE(s.event_log().empty());
}

TEST(Dialcred, RouteFailuresAreReportedBeforeAnythingIsCounted)
{
    DevServers s = standard_servers();
    expect_refused(dialcred(s, {"9999", "1234", kPassword}),
                   "Die Durchwahl ist unbekannt (route).\n\n");
    s.omega_control("error 94 7\n");
    expect_refused(dialcred(s, {"4711", "1234", kPassword}),
                   "internal error: o_apply_route returns error EC_7\n\n");
    s.omega().stop();
    expect_refused(dialcred(s, {"4711", "1234", kPassword}),
                   "internal error: o_apply_route returns error EC_1\n\n");
    EXPECT_EQ(s.store().count({"u4711", "T4711"}), 0u);
}

// A keypad types digits only: a PIN with anything else (a sign, a blank, a
// letter) would store a code that decodes with no typed PIN, over the
// user's working one. Refused before anything is counted.
TEST(Dialcred, PinMustBeDigitsNotAllZerosOfTheMinimumLength)
{
    struct Case {
        const char *pin;
        const char *out;  // nullptr: accepted
    };
    const std::string too_short =
        "Der Pincode ist zu kurz, verwenden Sie mindestens 4 Ziffern.\n";
    const char *const not_digits = "Der Pincode muss aus Ziffern bestehen.\n";
    const Case cases[] = {
        {"0000", not_digits}, {"abcd", not_digits},  {"", not_digits},
        {" 1234", not_digits}, {"1234 ", not_digits}, {"+1234", not_digits},
        {"-1234", not_digits}, {"1abc", not_digits},  {"12ab", not_digits},
        {"123", too_short.c_str()},
        {"0123", nullptr},
        {"4294967296", nullptr},  // not mistaken for 0 by an overflow
    };
    DevServers s = standard_servers({{{"u4711", "t4711"}, "old code"}});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pin);
        RunResult r = dialcred(s, {"4711", c.pin, kPassword});
        if (c.out != nullptr) {
            expect_refused(r, c.out);
            EXPECT_EQ((s.store()[{"u4711", "t4711"}]), "old code");
            EXPECT_EQ(s.store().count({"u4711", "T4711"}), 0u);
        } else {
            EXPECT_EQ(r.out, "Ok");
            EXPECT_EQ(decoded_password(c.pin, s.store()[{"u4711", "t4711"}]), kPassword);
        }
    }
}

TEST(Dialcred, PinLengthMinimumComesFromTheOmegaConfiguration)
{
    {
        DevServers s = standard_servers({}, false, {{"PINLENMIN", "-2"}});
        expect_refused(dialcred(s, {"4711", "123456", kPassword}),
                       "Der Pincode ist zu kurz, verwenden Sie mindestens -2 Ziffern.\n");
    }
    for (const char *no_minimum : {"", "abc"}) {
        DevServers s = standard_servers({}, false, {{"PINLENMIN", no_minimum}});
        EXPECT_EQ(dialcred(s, {"4711", "1", kPassword}).out, "Ok") << no_minimum;
    }
}

TEST(Dialcred, UnreachableAlphaServerIsAnInternalError)
{
    std::vector<e2e::Route> r = {{"4711", "bad..host", "u4711"}};
    DevServers s(r, {}, {});
    RunResult res = dialcred(s, {"4711", "1234", kPassword});
    expect_refused(res, "internal error: no connect to server bad..host\n",
                   "bad..host: RPC: Unknown host\n");
    EXPECT_TRUE(s.event_log().empty());
}

TEST(Dialcred, WrongPasswordIsRefusedAndCounted)
{
    DevServers s = standard_servers();
    s.alpha_control("clock =1000000\n");
    expect_refused(dialcred(s, {"4711", "1234", "falsch"}), kWrongPassword);
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "1000000 1");
    EXPECT_EQ(s.store().count({"u4711", "t4711"}), 0u);
}

// The throttle, driven by the alpha server's clock rather than real sleeps.
TEST(Dialcred, RepeatedAttemptsAreDelayedThenRefused)
{
    DevServers s = standard_servers();
    auto attempt = [&](long clock) {
        s.alpha_control("clock =" + std::to_string(clock) + "\n");
        return dialcred(s, {"4711", "1234", "falsch"});
    };
    auto counter = [&] { return s.store()[{"u4711", "T4711"}]; };
    const long t0 = 1000000;

    expect_refused(attempt(t0), kWrongPassword);
    EXPECT_EQ(counter(), "1000000 1");
    expect_refused(attempt(t0), kWrongPassword);
    EXPECT_EQ(counter(), "1000002 2") << "no wait after the first attempt";

    RunResult third = attempt(t0 + 1);
    expect_refused(third, kWrongPassword);
    EXPECT_GE(third.seconds, 1.0) << "one second early: it waits";
    EXPECT_EQ(counter(), "1000005 3");

    long clock = t0 + 5;
    for (int count = 4; count <= 7; ++count) {
        expect_refused(attempt(clock), kWrongPassword);
        EXPECT_EQ(counter(), std::to_string(clock + (1L << (count - 1))) + " " +
                                 std::to_string(count));
        clock += 1L << (count - 1);
    }
    // The seventh set a 64-second delay; two seconds later the wait would be
    // 62 seconds: refused, and still counted.
    long seventh = clock - 64;
    RunResult eighth = attempt(seventh + 2);
    const std::string notice = "Viele Fehlversuche f\xfcr Durchwahl 4711!";
    expect_refused(eighth, kBlocked, " dialcred: " + notice + "\n");
    EXPECT_LT(eighth.seconds, 5.0);
    EXPECT_EQ(counter(), std::to_string(seventh + 2 + 128) + " 8");
    ASSERT_FALSE(s.event_log().empty());
    EXPECT_EQ(s.event_log().back(), "dialcred: " + notice);

    // A good password after the wait resets it.
    s.alpha_control("clock =" + std::to_string(seventh + 2 + 128) + "\n");
    EXPECT_EQ(dialcred(s, {"4711", "1234", kPassword}).out, "Ok");
    EXPECT_EQ(s.store().count({"u4711", "T4711"}), 0u);
}

TEST(Dialcred, CountIsHeldAtSixteenAndLogged)
{
    DevServers s = standard_servers({{{"u4711", "T4711"}, "0 16"}});
    s.alpha_control("clock =2000000\n");
    const std::string notice = "ZU VIELE FEHLVERSUCHE F\xfcR DURCHWAHL 4711!";
    expect_refused(dialcred(s, {"4711", "1234", "falsch"}), kWrongPassword,
                   " dialcred: " + notice + "\n");
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "2032768 16");
    EXPECT_EQ(s.event_log(), std::vector<std::string>{"dialcred: " + notice});
}

TEST(Dialcred, UnreadableCounterOrClockDoesNotBlock)
{
    DevServers s = standard_servers({{{"u4711", "T4711"}, "kein Wert"}});
    s.alpha_control("clock =3000000\n");
    expect_refused(dialcred(s, {"4711", "1234", "falsch"}), kWrongPassword);
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "3000000 1") << "rewritten in proper form";

    s.alpha_control("clock =0\n");
    RunResult r = dialcred(s, {"4711", "1234", kPassword});
    EXPECT_EQ(r.out, "internal error: can't get alpha timestamp (ignored)\nOk");
    EXPECT_EQ(r.exit_status, 0);
}

TEST(Dialcred, DirectoryErrorsAreReportedThenTheExtensionIsUnknown)
{
    DevServers s = standard_servers({{{"u4711", "GD_LDU"}, testsupport::Slapd::kRootDn},
                                     {{"u4711", "GD_LDP"}, "falsch"},
                                     {{"u4716", "GD_LDFIL"}, "(|(cn=%s)(sn=%s))"}});
    expect_refused(dialcred(s, {"4711", "1234", kPassword}),
                   "internal error: ldap_simple_bind_s returns Invalid credentials\n" +
                       kUnknownLdap);
    expect_refused(dialcred(s, {"4716", "1234", kPassword38}),
                   "internal error: GD_LDFIL must hold exactly one %s\n" + kUnknownLdap);
    // Not in the directory, an entry without the attribute, a name that does
    // not fit: no internal error line.
    expect_refused(dialcred(s, {"4715", "1234", kPassword}), kUnknownLdap);
    expect_refused(dialcred(s, {"4712", "1234", kPassword}), kUnknownLdap);
    expect_refused(dialcred(s, {"4714", "1234", kPassword}), kUnknownLdap);
}

TEST(Dialcred, FirstOfTwoMatchingEntriesWinsAndCompoundFiltersWork)
{
    DevServers s = standard_servers(
        {{{"u4711", "GD_LDFIL"}, "(&(objectClass=inetOrgPerson)(facsimileTelephoneNumber=%s))"}});
    EXPECT_EQ(dialcred(s, {"4713", "1234", kPassword}).out, "Ok");
    EXPECT_EQ(dialcred(s, {"4711", "1234", kPassword}).out, "Ok");
}

TEST(Dialcred, DirectoryThatDoesNotAnswerTheSearchTimesOut)
{
    e2e::BindOnlyDirectory directory;
    DevServers s = standard_servers({{{"u4711", "GD_LDPRT"}, std::to_string(directory.port())}});
    RunResult r = dialcred(s, {"4711", "1234", kPassword});
    expect_refused(r, "internal error: ldap_search_st returns Timed out\n" + kUnknownLdap);
    EXPECT_GE(r.seconds, 9.5);
    EXPECT_LT(r.seconds, 20.0);
}

TEST(Dialcred, DirectoryThatNeverAnswersTheBindTimesOut)
{
    testsupport::SilentPort directory;
    DevServers s = standard_servers({{{"u4711", "GD_LDPRT"}, std::to_string(directory.port())}});
    RunResult r = dialcred(s, {"4711", "1234", kPassword});
    expect_refused(r, "internal error: ldap_simple_bind_s returns Timed out\n" + kUnknownLdap);
    EXPECT_GE(r.seconds, 9.5);
    EXPECT_LT(r.seconds, 20.0);
}

TEST(Dialcred, Pop3LoginProvesThePasswordToo)
{
    const std::string pop3 = "{127.0.0.1:" + std::to_string(e2e::dovecot().pop3_port()) + "/pop3}";
    DevServers s = standard_servers({{{"u4711", "GD_IMH"}, pop3}});
    expect_refused(dialcred(s, {"4711", "1234", "falsch"}), kWrongPassword);
    EXPECT_EQ(dialcred(s, {"4711", "1234", kPassword}).out, "Ok");
    EXPECT_EQ(decoded_password("1234", s.store()[{"u4711", "t4711"}]), kPassword);
}

TEST(Dialcred, MailServerThatNeverAnswersIsAWrongPassword)
{
    testsupport::SilentPort mail;
    const std::string port = std::to_string(mail.port());
    for (const std::string &imh : {"127.0.0.1:" + port, "{127.0.0.1:" + port + "/pop3}"}) {
        DevServers s = standard_servers({{{"u4711", "GD_IMH"}, imh}});
        RunResult r = dialcred(s, {"4711", "1234", kPassword}, 90);
        expect_refused(r, kWrongPassword);
        EXPECT_GE(r.seconds, 24.0) << imh;
        EXPECT_LT(r.seconds, 36.0) << imh;
    }
}

TEST(Dialcred, OldGenerationAlphaServerServesTheWholeProcedure)
{
    DevServers s = standard_servers({}, /*old_alpha=*/true);
    expect_refused(dialcred(s, {"4711", "1234", "falsch"}), kWrongPassword);
    EXPECT_EQ(s.store().count({"u4711", "T4711"}), 1u);
    EXPECT_EQ(dialcred(s, {"4711", "1234", kPassword}).out, "Ok");
    EXPECT_EQ(decoded_password("1234", s.store()[{"u4711", "t4711"}]), kPassword);
    EXPECT_EQ(s.store().count({"u4711", "T4711"}), 0u);
}

TEST(Dialcred, FailedStoreKeepsThePreviousCodeAndReportsTheCode)
{
    DevServers s = standard_servers({{{"u4711", "t4711"}, "old code"}});
    s.alpha_control("false 145\n");
    expect_refused(dialcred(s, {"4711", "1234", kPassword}),
                   "internal error: a_put_usrconf_lib returns EC_34\n\n");
    EXPECT_EQ((s.store()[{"u4711", "t4711"}]), "old code");
    EXPECT_EQ(s.store().count({"u4711", "T4711"}), 0u);
}

// The longest inputs whose keypad code still fits and gives the whole
// password back (the refusals beyond are in the guard test).
TEST(Dialcred, KeypadCodeAtItsLimitsIsStoredWhole)
{
    DevServers s = standard_servers();
    EXPECT_EQ(dialcred(s, {"4716", "1234", kPassword38}).out, "Ok");
    std::string code = s.store()[{"u4716", "t4716"}];
    EXPECT_EQ(code.size(), 79u);
    EXPECT_EQ(decoded_password("1234", code), kPassword38);
    EXPECT_EQ(dialcred(s, {"4716", std::string(75, '1'), kPassword38}).out, "Ok");
    EXPECT_EQ(decoded_password(std::string(75, '1'), s.store()[{"u4716", "t4716"}]), kPassword38);
}

TEST(Dialcred, AlphaServerDyingMidwayEndsWithAMessageNotASignal)
{
    DevServers s = standard_servers();
    s.alpha_control("clock =4000000\nexit 144 GD_\n");
    RunResult r = dialcred(s, {"4711", "1234", kPassword});
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.exit_status, 1);
    // Every later alpha read fails: the directory defaults apply, and nothing
    // answers the directory's default port here.
    EXPECT_EQ(r.out, "internal error: ldap_simple_bind_s returns Can't contact LDAP server\n" +
                         kUnknownLdap);
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "4000000 1") << "the counter was written whole";
}
