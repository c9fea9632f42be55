// Where the client libraries find their servers: host names, program numbers and transport from
// the environment, each read as often as the system expects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "rpccommon.h"

std::string seen()
{
    return std::string(localhost()) + " " + omegahost() + " " + alphahost() + " " + pihost() + " " +
           std::to_string(rpc_prog_nr(OMEGA_PROGRAM_BASE)) + " " +
           std::to_string(rpc_prog_nr(ALPHA_PROGRAM_BASE)) + " [" + rpc_transport() + "]";
}

// Each row in a fresh process, as what is read once is read once per process: what the routines
// give with `env`, then " / " and what they give after `later` is set in the running process.
TEST(Environment, ServersAreFoundThroughVariablesReadAsOftenAsTheSystemExpects)
{
    const std::string h(35, 'h'), l = "LOCALHOST=l";
    const struct {
        std::vector<std::string> env, later;
        std::string expected;
    } cases[] = {
        {{}, {}, "localhost localhost localhost localhost 16011931 16011967 [tcp]"},
        {{l, "QUIRVERPCOFFSET=100", "RPCTRANSPORT="}, {"QUIRVERPCOFFSET=5", "RPCTRANSPORT=udp"},
         "l l l l 16012031 16012067 [] / l l l l 16012031 16012067 [udp]"},
        {{l, "QUIRVERPCOFFSET=-31"}, {}, "l l l l 16011900 16011936 [tcp]"},
        {{"LOCALHOST=" + std::string(100000, 'h'), "OMEGAHOST=", "ALPHAHOST=a1",
          "QUIRVERPCOFFSET=junk"},
         {"LOCALHOST=other", "OMEGAHOST=o2", "ALPHAHOST=a2"},
         h + " " + h + " a1 " + h + " 16011931 16011967 [tcp] / " + h + " o2 a2 " + h +
             " 16011931 16011967 [tcp]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EXIT(
            {
                clearenv();
                for (const std::string &v : c.env)
                    putenv(const_cast<char *>(v.c_str()));
                std::string got = seen();
                for (const std::string &v : c.later)
                    putenv(const_cast<char *>(v.c_str()));
                got += c.later.empty() ? "" : " / " + seen();
                std::fputs(got.c_str(), stderr);
                std::_Exit(got == c.expected ? 0 : 1);
            },
            testing::ExitedWithCode(0), "");
    }
}
