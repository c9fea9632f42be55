// Prints what the host and RPC numbering routines return, before and after
// the test's variables change in the running process, so that a test can
// check which values are read once and which on every call.
#include <cstdio>
#include <cstdlib>

#include "rpccommon.h"

int main(int argc, char **argv)
{
    std::printf("localhost=%s\nomegahost=%s\nalphahost=%s\npihost=%s\n", localhost(),
                omegahost(), alphahost(), pihost());
    std::printf("omega=%ld\nalpha=%ld\n", rpc_prog_nr(OMEGA_PROGRAM_BASE),
                rpc_prog_nr(ALPHA_PROGRAM_BASE));
    std::printf("transport=[%s]\n", rpc_transport());
    // argv: pairs of NAME VALUE set now, then everything printed again.
    for (int i = 1; i + 1 < argc; i += 2)
        setenv(argv[i], argv[i + 1], 1);
    std::printf("localhost=%s\nomegahost=%s\nalphahost=%s\n", localhost(), omegahost(),
                alphahost());
    std::printf("omega=%ld\n", rpc_prog_nr(OMEGA_PROGRAM_BASE));
    return 0;
}
