// What every fuzz target checks for one input, apart from libFuzzer's entry
// points (one file per check: check_xdr.cpp, check_reader.cpp,
// check_keypad.cpp), so that the unit suite runs each corpus seed and each
// saved crash through the same code in the normal build. A check returns an
// empty string when the input passed, else what went wrong; crashes and
// leaks are the sanitizers' to report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "xdr_catalogue.hpp"

namespace fuzzcheck {

// Selector, then an encoding of the row's type. An encoding that decodes
// must re-encode to as many bytes as it used, and decoding that again and
// encoding must give the same bytes; whatever a decode allocated, failed or
// not, is released with xdr_free, except after a failed decode of a type a
// procedure answers with, which must have kept nothing.
std::string check_xdr(const XdrCatalogue &cat, const uint8_t *data, size_t size);

// The text readers of otools. First byte: the reader (low seven bits, modulo
// the table) and the fill of the record before reading (high bit: 'A' bytes,
// so no text field is terminated; clear: zero bytes). The rest is the text.
// The printer must cope with whatever the reader left; a zero-filled record
// that read completely must read back unchanged from what its printer writes.
struct ReaderRow {
    const char *name;
    size_t size;
    int (*read)(FILE *, void *);
    // The record as its reader takes it: fields separated by sep, the
    // version first for versioned records.
    void (*print)(FILE *, const void *, const char *sep);
};
extern const ReaderRow kReaders[];
extern const size_t kReaderCount;
std::string check_reader(const uint8_t *data, size_t size);

// The keypad code. First byte: size of the password buffer handed to t2pw
// (0 = none). The rest: PIN, NUL, password, NUL, code. t2pw must take any
// code without harm, and t2pw(PIN, pinpw2t(PIN, password)) must give the
// part of the password that pinpw2t takes: all of it when it has at most 75
// characters whose units fit 80 digits.
std::string check_keypad(const uint8_t *data, size_t size);

// For the libFuzzer entry points: reports a failed check and aborts.
inline void require(const std::string &failure)
{
    if (failure.empty())
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", failure.c_str());
    std::abort();
}

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Block = std::unique_ptr<char, FreeDeleter>;

// A heap copy of exactly n bytes, so that AddressSanitizer sees any read
// past the input's end; malloc also gives the alignment that a received RPC
// buffer has and that the generated inline decoders rely on.
inline Block copy_of(const void *p, size_t n)
{
    Block b(static_cast<char *>(std::malloc(n == 0 ? 1 : n)));
    if (!b)
        std::abort();
    if (n != 0)
        std::memcpy(b.get(), p, n);
    return b;
}

}  // namespace fuzzcheck
