// The fuzz targets' checks over every seed of fuzz/corpus and every saved
// finding of fuzz/regressions, in the normal build; the fuzz tables against
// the routines the generated headers declare, so that a type added to an
// interface file without a row is noticed; and the counted-bytes codec on
// lengths beyond what the small seeds reach.
#include <gtest/gtest.h>

#include <rpc/rpc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common.h"
#include "fuzz_checks.hpp"

// Under AddressSanitizer (the sanitizer build of the suite) an allocation
// beyond 2 GiB aborts instead of being granted lazily, so a decoder that
// trusts an announced count fails on the saved findings that announce 4 GiB.
extern "C" const char *__asan_default_options() { return "max_allocation_size_mb=2048"; }

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Target {
    const char *name;
    std::string (*check)(const uint8_t *, size_t);
    // The row an input was made for, by its first bytes; nullptr for a
    // target without rows.
    const char *(*row_of)(const Bytes &);
};

template <const fuzzcheck::XdrCatalogue &Cat>
std::string check_xdr(const uint8_t *data, size_t size)
{
    return fuzzcheck::check_xdr(Cat, data, size);
}

template <const fuzzcheck::XdrCatalogue &Cat>
const char *xdr_row(const Bytes &b)
{
    return b.size() < fuzzcheck::kSelectorBytes ? "" : fuzzcheck::pick(Cat, b.data()).name;
}

const char *reader_row(const Bytes &b)
{
    return b.empty() ? "" : fuzzcheck::kReaders[(b[0] & 0x7f) % fuzzcheck::kReaderCount].name;
}

const Target kTargets[] = {
    {"fuzz_omega_answers", check_xdr<fuzzcheck::kOmega>, xdr_row<fuzzcheck::kOmega>},
    {"fuzz_alpha_answers", check_xdr<fuzzcheck::kAlpha>, xdr_row<fuzzcheck::kAlpha>},
    {"fuzz_common", check_xdr<fuzzcheck::kCommon>, xdr_row<fuzzcheck::kCommon>},
    {"fuzz_readers", fuzzcheck::check_reader, reader_row},
    {"fuzz_keypad", fuzzcheck::check_keypad, nullptr},
};

std::vector<fs::path> inputs_of(const char *target)
{
    std::vector<fs::path> files;
    for (const char *kind : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(FUZZ_DIR) / kind / target;
        if (fs::is_directory(dir))
            for (const auto &e : fs::directory_iterator(dir))
                if (e.is_regular_file())
                    files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

Bytes read_file(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

// What the fuzzer once found stays fixed, and the seeds stay valid inputs.
TEST(FuzzRegression, EverySeedAndSavedFindingPassesItsTargetsChecks)
{
    for (const Target &t : kTargets) {
        const std::vector<fs::path> files = inputs_of(t.name);
        EXPECT_FALSE(files.empty()) << t.name << " has no seeds";
        for (const fs::path &p : files) {
            const Bytes b = read_file(p);
            EXPECT_EQ(t.check(b.data(), b.size()), "") << p;
        }
    }
}

// A seed names the row it was made for; a row inserted or removed in the
// middle of a table would silently turn the seeds into inputs of other rows.
TEST(FuzzRegression, EverySeedStillPicksTheRowItWasMadeFor)
{
    for (const Target &t : kTargets) {
        if (t.row_of == nullptr)
            continue;
        for (const fs::path &p : inputs_of(t.name)) {
            const std::string file = p.filename().string();
            EXPECT_EQ(t.row_of(read_file(p)), file.substr(0, file.find('.')))
                << p << ": append new rows at the end of the table, or make the seeds anew";
        }
    }
}

namespace {

std::set<std::string> declared_routines(const char *header)
{
    std::ifstream f(fs::path(FUZZ_DECLS_DIR) / (std::string(header) + ".txt"));
    const std::string text{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    // A type's routine takes the stream and the object; helpers with more
    // arguments (xdr_counted_bytes) are no types.
    static const std::regex decl(R"(bool_t\s+xdr_(\w+)\s*\(\s*XDR\s*\*\s*\w*\s*,[^,)]*\))");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), decl); it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    return names;
}

}  // namespace

// Every routine a generated header adds to its includes has a row in the
// table of its program, so the fuzzer decodes every type there is.
TEST(FuzzTables, EveryXdrRoutineOfTheGeneratedHeadersHasARow)
{
    const struct {
        const char *header;
        const char *includes;
        const fuzzcheck::XdrCatalogue &cat;
        const char *rows;
    } programs[] = {
        {"common", "rpc", fuzzcheck::kCommon, "fuzz/common_types.def"},
        {"omega", "common", fuzzcheck::kOmega, "fuzz/omega_types.def"},
        {"alpha", "omega", fuzzcheck::kAlpha, "fuzz/alpha_types.def"},
    };
    for (const auto &p : programs) {
        const std::set<std::string> own = declared_routines(p.header), inherited = declared_routines(p.includes);
        ASSERT_FALSE(own.empty()) << p.header;
        std::set<std::string> rows;
        for (size_t i = 0; i < p.cat.count; ++i)
            rows.insert(p.cat.types[i].name);
        for (const std::string &name : own) {
            if (inherited.count(name) == 0) {
                EXPECT_EQ(rows.count(name), 1u) << "xdr_" << name << " of " << p.header
                                                << ".h has no row: append XDR_TYPE(" << name << ") to "
                                                << p.rows;
            }
        }
    }
}

// Counted bytes read in steps of 64 KiB: lengths around a step and an odd
// length over several steps give the bytes libtirpc's xdr_bytes writes, and
// read back unchanged.
TEST(CountedBytes, LengthsAcrossReadStepsMatchXdrBytes)
{
    for (u_int len : {0u, 1u, 65535u, 65536u, 65537u, 200003u}) {
        std::vector<char> payload(len);
        for (u_int i = 0; i < len; ++i)
            payload[i] = static_cast<char>(i * 7 + 1);
        std::vector<char> wire(len + 16);
        char *val = payload.data();
        u_int n = len;
        XDR x;
        xdrmem_create(&x, wire.data(), static_cast<u_int>(wire.size()), XDR_ENCODE);
        ASSERT_TRUE(xdr_bytes(&x, &val, &n, ~0u)) << len;
        wire.resize(xdr_getpos(&x));
        xdr_destroy(&x);

        opaque_string s{};
        xdrmem_create(&x, wire.data(), static_cast<u_int>(wire.size()), XDR_DECODE);
        ASSERT_TRUE(xdr_opaque_string(&x, &s)) << len;
        EXPECT_EQ(xdr_getpos(&x), wire.size()) << len;
        xdr_destroy(&x);
        ASSERT_EQ(s.opaque_string_len, len);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), s.opaque_string_val)) << len;
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_opaque_string), &s);
        EXPECT_EQ(s.opaque_string_val, nullptr);
    }
}

// A count beyond the stream fails at the stream's end, holding nothing.
TEST(CountedBytes, ACountBeyondTheStreamFailsAndKeepsNothing)
{
    for (u_int claim : {200000u, 0xfffffff0u}) {
        std::vector<char> wire(4 + 150000, 'x');
        wire[0] = static_cast<char>(claim >> 24);
        wire[1] = static_cast<char>(claim >> 16);
        wire[2] = static_cast<char>(claim >> 8);
        wire[3] = static_cast<char>(claim);
        opaque_string s{};
        XDR x;
        xdrmem_create(&x, wire.data(), static_cast<u_int>(wire.size()), XDR_DECODE);
        EXPECT_FALSE(xdr_opaque_string(&x, &s)) << claim;
        xdr_destroy(&x);
        EXPECT_EQ(s.opaque_string_val, nullptr) << claim;
        EXPECT_EQ(s.opaque_string_len, 0u) << claim;
    }
}
