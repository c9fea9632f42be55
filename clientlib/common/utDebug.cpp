// The process debug level: one number per process that a program sets from
// its options and that library code consults before writing diagnostic dumps.
#include "rpccommon.h"

namespace {
int g_debuglevel = 0;
}

extern "C" {

int getdebuglevel(void) noexcept { return g_debuglevel; }

void setdebuglevel(int level) noexcept { g_debuglevel = level; }

}  // extern "C"
