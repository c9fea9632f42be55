// The XDR routines the fuzz targets decode, one table per program, made from
// the rows of common_types.def, omega_types.def and alpha_types.def.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>
#include <cstdint>

namespace fuzzcheck {

struct XdrType {
    const char *name;
    xdrproc_t proc;
    size_t size;  // of the C object the routine fills
    bool answer;  // a procedure answers with it: a failed decode keeps nothing
};

struct XdrCatalogue {
    const char *program;
    const XdrType *types;
    size_t count;
};

extern const XdrCatalogue kCommon;
extern const XdrCatalogue kOmega;
extern const XdrCatalogue kAlpha;

// An XDR input starts with two selector bytes (big-endian row number, taken
// modulo the table size); the rest is the encoding.
constexpr size_t kSelectorBytes = 2;

inline const XdrType &pick(const XdrCatalogue &cat, const uint8_t *data)
{
    return cat.types[((size_t{data[0]} << 8) | data[1]) % cat.count];
}

}  // namespace fuzzcheck
