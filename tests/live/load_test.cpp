// Many dialcred processes at once against one set of servers, as a web form
// in front of the command would start them: each run must get its own
// answer, and the alpha server must end with whole, right entries.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <regex>
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

constexpr int kRuns = 50;
constexpr int kSerialRuns = 20;  // runs for one extension, one after the other

struct Subscriber {
    std::string extension, alpha_user, mailbox_user, password;
};

Subscriber subscriber(int i)
{
    const std::string n = std::to_string(5000 + i);
    return {n, "v" + n, "user" + n, "Pw" + n + "-" + std::to_string(i * 7919 % 1000)};
}

std::string pin_of(int i) { return std::to_string(1000 + i); }

// One directory and one mail server with every subscriber. The mail server
// lets one user hold as many connections as there are runs.
std::string directory_entries()
{
    std::string ldif = testsupport::ldif_base();
    for (int i = 0; i < kRuns; ++i) {
        const Subscriber s = subscriber(i);
        ldif += testsupport::ldif_person(s.mailbox_user, {s.extension});
    }
    return ldif;
}

testsupport::DovecotOptions mailboxes()
{
    testsupport::DovecotOptions mail;
    for (int i = 0; i < kRuns; ++i) {
        const Subscriber s = subscriber(i);
        mail.users[s.mailbox_user] = s.password;
    }
    mail.extra_config = "protocol imap {\n  mail_max_userip_connections = " +
                        std::to_string(2 * kRuns) + "\n}\n";
    return mail;
}

const auto *const g_env = ::testing::AddGlobalTestEnvironment(
    new e2e::DirectoryAndMail(directory_entries, mailboxes));

DevServers all_subscribers()
{
    std::vector<e2e::Route> routes;
    Usrconf usrconf;
    for (int i = 0; i < kRuns; ++i) {
        const Subscriber s = subscriber(i);
        routes.push_back({s.extension, "127.0.0.1", s.alpha_user});
        usrconf[{s.alpha_user, "GD_IMH"}] =
            "127.0.0.1:" + std::to_string(e2e::dovecot().imap_port());
        usrconf[{s.alpha_user, "GD_LDH"}] = "127.0.0.1";
        usrconf[{s.alpha_user, "GD_LDPRT"}] = std::to_string(e2e::slapd().port());
        usrconf[{s.alpha_user, "GD_LDBAS"}] = testsupport::Slapd::kSuffix;
    }
    return DevServers(routes, {{"PINLENMIN", "4"}}, usrconf);
}

// Starts every command at once and returns each one's result.
std::vector<RunResult> run_at_once(const DevServers &s,
                                   const std::vector<std::vector<std::string>> &args)
{
    std::vector<RunResult> results(args.size());
    std::vector<std::thread> threads;
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < args.size(); ++i)
        threads.emplace_back([&, i] {
            std::vector<std::string> argv = {DIALCRED_BINARY};
            argv.insert(argv.end(), args[i].begin(), args[i].end());
            results[i] = testsupport::run_command(argv, s.environment(), 120);
        });
    for (std::thread &t : threads)
        t.join();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double longest = 0;
    for (const RunResult &r : results)
        longest = std::max(longest, r.seconds);
    std::printf("%zu runs at once: %.2f s in all, the longest run %.2f s\n", args.size(), wall,
                longest);
    return results;
}

using e2e::decoded_password;

}  // namespace

TEST(Load, FiftyExtensionsAtOnceEachStoreTheirOwnCode)
{
    DevServers s = all_subscribers();
    s.alpha_control("clock =7000000\n");
    const Usrconf before = s.store();
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < kRuns; ++i)
        args.push_back({subscriber(i).extension, pin_of(i), subscriber(i).password});

    std::vector<RunResult> results = run_at_once(s, args);

    Usrconf expected = before;
    Usrconf store = s.store();
    for (int i = 0; i < kRuns; ++i) {
        const Subscriber sub = subscriber(i);
        SCOPED_TRACE(sub.extension);
        EXPECT_EQ(results[i].exit_status, 0);
        EXPECT_EQ(results[i].out, "Ok");
        EXPECT_EQ(results[i].err, "");
        const auto code = store.find({sub.alpha_user, "t" + sub.extension});
        ASSERT_NE(code, store.end());
        EXPECT_EQ(decoded_password(pin_of(i), code->second), sub.password);
        expected[{sub.alpha_user, "t" + sub.extension}] = code->second;
    }
    EXPECT_EQ(store, expected) << "no counter left, nothing else touched";
}

// A whole counter entry, as one run wrote it at the clock below: "%lu %d"
// with a count from 1 to 16 and the unlock time that count gives. Returns the
// count.
int whole_counter(const std::string &value, std::uint64_t now)
{
    std::smatch m;
    if (!std::regex_match(value, m, std::regex("([0-9]+) ([0-9]+)")))
        return -1;
    const unsigned long unlock = std::stoul(m[1]);
    const int count = std::stoi(m[2]);
    const std::uint64_t delay = count > 1 ? std::uint64_t{1} << (count - 1) : 0;
    if (count < 1 || count > 16 || unlock != ((now + delay) & 0xffffffffu))
        return -1;
    return count;
}

// Runs for one extension count one after the other (the attempt lock), so
// twenty wrong passwords leave the count at its cap (each run waits for all
// before it: twenty stay well inside the lock's 60-second wait, also under
// the sanitizers); what is left must be one
// whole entry, and the keypad code one that some run stored. The clock stands
// just below 2^32, where every unlock time wraps round to a small number: no
// run waits, so a hundred of them need no real sleeping.
TEST(Load, TwentyRunsForOneExtensionLeaveAWholeCounterAndADecodableCode)
{
    DevServers s = all_subscribers();
    const std::uint64_t now = 0xffffffffu;
    s.alpha_control("clock =" + std::to_string(now) + "\n");
    const Subscriber sub = subscriber(7);
    const std::string notice = "dialcred: ZU VIELE FEHLVERSUCHE F\xfcR DURCHWAHL " + sub.extension + "!";
    auto counter = [&] {
        Usrconf store = s.store();
        auto it = store.find({sub.alpha_user, "T" + sub.extension});
        return it == store.end() ? std::optional<std::string>() : it->second;
    };

    std::vector<std::vector<std::string>> wrong(kSerialRuns, {sub.extension, pin_of(0), "falsch"});
    std::vector<RunResult> results = run_at_once(s, wrong);
    for (int i = 0; i < kSerialRuns; ++i) {
        SCOPED_TRACE("wrong password, run " + std::to_string(i));
        EXPECT_EQ(results[i].exit_status, 1);
        EXPECT_EQ(results[i].out, "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n\n");
        EXPECT_TRUE(results[i].err.empty() || results[i].err == " " + notice + "\n")
            << results[i].err;
    }
    const auto after_wrong = counter();
    ASSERT_TRUE(after_wrong.has_value());
    EXPECT_EQ(whole_counter(*after_wrong, now), 16) << *after_wrong;
    std::printf("counter after %d wrong passwords at once: \"%s\"\n", kSerialRuns, after_wrong->c_str());

    std::vector<std::vector<std::string>> good;
    for (int i = 0; i < kSerialRuns; ++i)
        good.push_back({sub.extension, pin_of(i), sub.password});
    results = run_at_once(s, good);
    for (int i = 0; i < kSerialRuns; ++i) {
        SCOPED_TRACE("good password, run " + std::to_string(i));
        EXPECT_EQ(results[i].exit_status, 0);
        EXPECT_EQ(results[i].out, "Ok");
        EXPECT_TRUE(results[i].err.empty() || results[i].err == " " + notice + "\n")
            << results[i].err;
    }
    const auto after_good = counter();
    if (after_good) {
        EXPECT_GT(whole_counter(*after_good, now), 0) << "not a whole counter: " << *after_good;
    }
    const std::string code = s.store()[{sub.alpha_user, "t" + sub.extension}];
    int decodes_with = 0;
    for (int i = 0; i < kSerialRuns; ++i)
        if (decoded_password(pin_of(i), code) == sub.password)
            ++decodes_with;
    EXPECT_GE(decodes_with, 1) << "no run stored this code: " << code;
    std::printf("then %d good passwords at once: counter %s, the code decodes with %d PIN(s)\n",
                kSerialRuns, after_good ? ("\"" + *after_good + "\"").c_str() : "deleted",
                decodes_with);
    for (const std::string &line : s.event_log())
        EXPECT_EQ(line, notice) << "only whole notices in the event log";
}
