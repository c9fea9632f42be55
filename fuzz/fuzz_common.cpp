// libFuzzer target: the common wire types and the generic chain codec in
// both link orders (see check_xdr in fuzz_checks.hpp).
#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzcheck::require(fuzzcheck::check_xdr(fuzzcheck::kCommon, data, size));
    return 0;
}
