// Many dialcred processes at once against one set of servers, as a web form in front of the
// command would start them: each run gets its own answer, and the alpha server ends with whole,
// right entries.
#include <filesystem>
#include <thread>

#include "shared_servers.hpp"

using namespace e2e;

namespace {

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
// passwords at once leave the count 4, sixteen more the count at its cap of 16, and only the four
// past it say so; then twenty good ones leave no counter and the code of one of them. The clock
// stands just below 2^32, where every unlock time wraps round, so no run sleeps, and each waits
// for those before it well inside the lock's 60 seconds.
TEST(Load, TwentyRunsForOneExtensionLeaveAWholeCounterAndADecodableCode)
{
    DevServers s = servers();
    s.alpha_control("clock =4294967295\n");
    const std::string ext = subscriber(7);
    const std::string notice = "dialcred: ZU VIELE FEHLVERSUCHE F\xfcR DURCHWAHL " + ext + "!";
    const std::pair<std::string, std::string> counter{"v" + ext, "T" + ext}, code{"v" + ext, "t" + ext};
    const std::vector<std::string> wrong = {ext, "1000", "falsch"};
    for (const RunResult &r : run_at_once(s, std::vector(4, wrong)))
        expect_result(r, 1, kWrongPassword);
    EXPECT_EQ(s.store()[counter], "7 4");
    EXPECT_EQ(std::filesystem::status(s.dir() / "locks").permissions(), std::filesystem::perms(0700));
    int notices = 0;
    for (const RunResult &r : run_at_once(s, std::vector(16, wrong))) {
        expect_result(r, 1, kWrongPassword, r.err.empty() ? "" : " " + notice + "\n");
        notices += !r.err.empty();
    }
    EXPECT_EQ(notices, 4);
    EXPECT_EQ(s.store()[counter], "32767 16");

    std::vector<std::vector<std::string>> good;
    for (int i = 0; i < 20; ++i)
        good.push_back({ext, std::to_string(1000 + i), "Pw" + ext});
    for (const RunResult &r : run_at_once(s, good))
        expect_result(r, 0, "Ok", r.err.empty() ? "" : " " + notice + "\n");
    EXPECT_EQ(s.store().count(counter), 0u);
    int decodes_with = 0;
    for (const auto &run : good)
        decodes_with += decoded_password(run[1], s.store()[code]) == run[2];
    EXPECT_EQ(decodes_with, 1);
    EXPECT_EQ(s.event_log(), std::vector<std::string>(5, notice)) << "4 + the first good run";
}
