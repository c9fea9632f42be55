// The tables of xdr_catalogue.hpp. Each row names a routine, so a row whose
// type left the interface stops the build; a routine without a row is found
// by the unit test that compares the rows with the generated headers.
#include "xdr_catalogue.hpp"

#include "alpha.h"
#include "fuzz_chains.h"

#include <iterator>

namespace fuzzcheck {
namespace {

#define XDR_ROW(name, type, answer) \
    {#name, reinterpret_cast<xdrproc_t>(xdr_##name), sizeof(type), answer},
#define XDR_TYPE_AS(name, type) XDR_ROW(name, type, false)
#define XDR_TYPE(t) XDR_ROW(t, t, false)
#define XDR_ANSWER(t) XDR_ROW(t, t, true)

const XdrType kCommonRows[] = {
#include "common_types.def"
};

const XdrType kOmegaRows[] = {
#include "omega_types.def"
};

const XdrType kAlphaRows[] = {
#include "alpha_types.def"
};

#undef XDR_ANSWER
#undef XDR_TYPE
#undef XDR_TYPE_AS
#undef XDR_ROW

}  // namespace

const XdrCatalogue kCommon = {"common", kCommonRows, std::size(kCommonRows)};
const XdrCatalogue kOmega = {"omega", kOmegaRows, std::size(kOmegaRows)};
const XdrCatalogue kAlpha = {"alpha", kAlphaRows, std::size(kAlphaRows)};

}  // namespace fuzzcheck
