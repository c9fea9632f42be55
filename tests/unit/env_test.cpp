// Where the client libraries find their servers: the environment, read as often as it should be.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "rpccommon.h"

std::string seen(const std::vector<std::string> &vars)
{
    for (const std::string &v : vars)
        putenv(const_cast<char *>(v.c_str()));
    return std::string(localhost()) + " " + omegahost() + " " +
           std::to_string(rpc_prog_nr(OMEGA_PROGRAM_BASE)) + " [" + rpc_transport() + "]";
}

// Each row in a fresh process, as what is read once is read once per process: what the routines
// give with `env` set, then " / " and what they give once `later` is set too.
TEST(Environment, ServersAreFoundThroughVariablesReadAsOftenAsTheSystemExpects)
{
    const std::string h(35, 'h'), l = "localhost localhost ";
    const struct {
        std::vector<std::string> env, later;
        std::string expected;
    } cases[] = {{{}, {}, l + "16011931 [tcp] / " + l + "16011931 [tcp]"},
                 {{"QUIRVERPCOFFSET=-31", "RPCTRANSPORT="},
                  {"QUIRVERPCOFFSET=5", "RPCTRANSPORT=udp"},
                  l + "16011900 [] / " + l + "16011900 [udp]"},
                 {{"LOCALHOST=" + std::string(100000, 'h'), "OMEGAHOST=", "QUIRVERPCOFFSET=junk"},
                  {"LOCALHOST=other", "OMEGAHOST=o2"},
                  h + " " + h + " 16011931 [tcp] / " + h + " o2 16011931 [tcp]"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EXIT(
            {
                clearenv();
                std::string got = seen(c.env);
                got += " / " + seen(c.later);
                std::fputs(got.c_str(), stderr);
                std::_Exit(got == c.expected ? 0 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
}
