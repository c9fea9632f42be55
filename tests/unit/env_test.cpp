// Where the servers are found: host names, program numbers and transport
// from the environment, each read as often as the system expects.
#include <gtest/gtest.h>

#include <string>

#include "process.hpp"

namespace {

std::string probe(const testsupport::Environment &env, const std::vector<std::string> &later = {})
{
    std::vector<std::string> argv = {ENVPROBE_BINARY};
    argv.insert(argv.end(), later.begin(), later.end());
    testsupport::RunResult r = testsupport::run_command(argv, env, 10);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return r.out;
}

}  // namespace

TEST(Environment, DefaultsAreLocalhostTheBaseNumbersAndTcp)
{
    std::string out = probe({});
    EXPECT_EQ(out,
              "localhost=localhost\nomegahost=localhost\nalphahost=localhost\npihost=localhost\n"
              "omega=16011931\nalpha=16011967\ntransport=[tcp]\n"
              "localhost=localhost\nomegahost=localhost\nalphahost=localhost\nomega=16011931\n");
}

TEST(Environment, OffsetIsReadOnceAndMovesBothPrograms)
{
    std::string out = probe({{"QUIRVERPCOFFSET", "100"}}, {"QUIRVERPCOFFSET", "5"});
    EXPECT_NE(out.find("omega=16012031\nalpha=16012067\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nomega=16012031\n", out.find("transport")), std::string::npos)
        << "a later change has no effect";
    EXPECT_NE(probe({{"QUIRVERPCOFFSET", "-31"}}).find("omega=16011900\nalpha=16011936\n"),
              std::string::npos);
    EXPECT_NE(probe({{"QUIRVERPCOFFSET", "junk"}}).find("omega=16011931\n"), std::string::npos);
}

TEST(Environment, LocalhostIsCachedAndCutWhileServerHostsAreReadEachTime)
{
    const std::string long_name(100000, 'h');
    std::string out = probe({{"LOCALHOST", long_name}, {"OMEGAHOST", ""}, {"ALPHAHOST", "a1"}},
                            {"LOCALHOST", "other", "OMEGAHOST", "o2", "ALPHAHOST", "a2"});
    const std::string cut(35, 'h');
    EXPECT_EQ(out, "localhost=" + cut + "\nomegahost=" + cut + "\nalphahost=a1\npihost=" + cut +
                       "\nomega=16011931\nalpha=16011967\ntransport=[tcp]\n"
                       "localhost=" + cut + "\nomegahost=o2\nalphahost=a2\nomega=16011931\n");
}

TEST(Environment, EmptyTransportIsPassedOnAsEmpty)
{
    EXPECT_NE(probe({{"RPCTRANSPORT", ""}}).find("transport=[]\n"), std::string::npos);
    EXPECT_NE(probe({{"RPCTRANSPORT", "udp"}}).find("transport=[udp]\n"), std::string::npos);
}
