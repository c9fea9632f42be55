// libFuzzer target: the keypad code, both ways (see check_keypad in
// fuzz_checks.hpp).
#include "fuzz_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzcheck::require(fuzzcheck::check_keypad(data, size));
    return 0;
}
