// RPC program numbering and transport. The offset lets several installations
// (or test runs) share one rpcbind; it is read once so that every handle of a
// process talks to the same programs.
#include <cstdio>
#include <cstdlib>

#include "rpccommon.h"

namespace {
long g_offset = 0;
bool g_offset_read = false;
char g_tcp[] = "tcp";
}  // namespace

extern "C" {

long rpc_prog_nr(long base) noexcept
{
    if (!g_offset_read) {
        g_offset_read = true;
        const char *v = std::getenv("QUIRVERPCOFFSET");
        if (v != nullptr && std::sscanf(v, "%ld", &g_offset) != 1)
            g_offset = 0;
    }
    return base + g_offset;
}

char *rpc_transport(void) noexcept
{
    char *v = std::getenv("RPCTRANSPORT");
    return v != nullptr ? v : g_tcp;
}

}  // extern "C"
