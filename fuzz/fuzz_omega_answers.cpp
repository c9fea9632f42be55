// libFuzzer target: answers, records and requests of the omega program (see
// check_xdr in fuzz_checks.hpp).
#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzcheck::require(fuzzcheck::check_xdr(fuzzcheck::kOmega, data, size));
    return 0;
}
