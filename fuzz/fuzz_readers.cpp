// libFuzzer target: the text readers of otools and their printers (see
// check_reader in fuzz_checks.hpp).
#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzcheck::require(fuzzcheck::check_reader(data, size));
    return 0;
}
