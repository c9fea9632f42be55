// The larger and the smaller of two integers, as the system's programs have
// always called them.
#include "rpccommon.h"

extern "C" {

int Maximum(int a, int b) noexcept { return a > b ? a : b; }
int Minimum(int a, int b) noexcept { return a < b ? a : b; }

}  // extern "C"
