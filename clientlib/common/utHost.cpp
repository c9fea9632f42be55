// Server host names from the environment, with one common fallback: the
// local host name, read once per process.
#include <cstdlib>

#include "rpccommon.h"

namespace {
char g_localhost[36];

char *host_or_local(const char *var) noexcept
{
    char *v = std::getenv(var);
    return (v != nullptr && *v != '\0') ? v : localhost();
}
}  // namespace

extern "C" {

char *localhost(void) noexcept
{
    if (g_localhost[0] == '\0') {
        my_getenv("LOCALHOST", 35, g_localhost);
        if (g_localhost[0] == '\0')
            my_strncpy(g_localhost, "localhost", 35);
    }
    return g_localhost;
}

char *omegahost(void) noexcept { return host_or_local("OMEGAHOST"); }
char *alphahost(void) noexcept { return host_or_local("ALPHAHOST"); }
char *lambdahost(void) noexcept { return host_or_local("LAMBDAHOST"); }
char *gammahost(void) noexcept { return host_or_local("GAMMAHOST"); }
char *thetahost(void) noexcept { return host_or_local("THETAHOST"); }
char *pihost(void) noexcept { return host_or_local("PIHOST"); }

}  // extern "C"
