// The fuzz targets' checks over every seed of fuzz/corpus and every saved
// finding of fuzz/regressions, in the normal build, and the fuzz tables
// against the generated headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <tuple>

#include "fuzz_checks.hpp"

// Under AddressSanitizer (the sanitizer build of the suite) an allocation
// beyond 2 GiB aborts instead of being granted lazily, so a decoder that
// trusts an announced count fails on the saved findings that announce 4 GiB.
extern "C" const char *__asan_default_options() { return "max_allocation_size_mb=2048"; }

namespace fs = std::filesystem;
using namespace fuzzcheck;

static std::string contents(const fs::path &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// What the fuzzer once found stays fixed, and the seeds stay valid inputs of
// the row their name starts with: a row inserted or removed in the middle of
// a table would silently turn them into inputs of other rows.
TEST(FuzzRegression, EverySeedAndSavedFindingPassesItsTargetsChecks)
{
    using Check = std::string (*)(const uint8_t *, size_t);
    const std::tuple<const char *, const XdrCatalogue *, Check> targets[] = {
        {"fuzz_omega_answers", &kOmega, nullptr},
        {"fuzz_alpha_answers", &kAlpha, nullptr},
        {"fuzz_common", &kCommon, nullptr},
        {"fuzz_readers", nullptr, check_reader},
        {"fuzz_keypad", nullptr, check_keypad}};
    for (const auto &[target, xdr, check] : targets) {
        size_t inputs = 0;
        for (const char *kind : {"corpus", "regressions"}) {
            std::error_code none;  // a target without saved findings has no folder
            for (const auto &e : fs::directory_iterator(fs::path(FUZZ_DIR) / kind / target, none)) {
                const std::string in = contents(e.path()), file = e.path().filename().string();
                const auto *b = reinterpret_cast<const uint8_t *>(in.data());
                ++inputs;
                EXPECT_EQ(xdr != nullptr ? check_xdr(*xdr, b, in.size()) : check(b, in.size()), "")
                    << e.path();
                if (check == check_keypad)  // keypad inputs pick no row
                    continue;
                const char *row = xdr != nullptr ? pick(*xdr, b).name  // by its first two bytes
                                                 : kReaders[(b[0] & 0x7f) % kReaderCount].name;
                EXPECT_EQ(row, file.substr(0, file.find('.')))
                    << e.path()
                    << ": append new rows at the end of the table, or make the seeds anew";
            }
        }
        EXPECT_NE(inputs, 0u) << target << " has no seeds";
    }
}

// Every routine a generated header adds to its includes (as the preprocessor
// expands them: nodes and owning answers are declared through macros) has a
// row in the table of its program, so the fuzzer decodes every type there is.
TEST(FuzzTables, EveryXdrRoutineOfTheGeneratedHeadersHasARow)
{
    auto declared = [](const char *header) {
        const std::string text = contents(FUZZ_DECLS_DIR "/" + std::string(header) + ".txt");
        // A type's routine takes the stream and the object; helpers with
        // more arguments (xdr_counted_bytes) are no types.
        static const std::regex decl(R"(bool_t\s+xdr_(\w+)\s*\(\s*XDR\s*\*\s*\w*\s*,[^,)]*\))");
        std::set<std::string> names;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), decl);
             it != std::sregex_iterator(); ++it)
            names.insert((*it)[1]);
        return names;
    };
    for (const auto &[header, includes, cat] : {std::tuple{"common", "rpc", &kCommon},
                                                {"omega", "common", &kOmega},
                                                {"alpha", "omega", &kAlpha}}) {
        const std::set<std::string> own = declared(header), inherited = declared(includes);
        ASSERT_FALSE(own.empty()) << header;
        std::set<std::string> rows;
        for (size_t i = 0; i < cat->count; ++i)
            rows.insert(cat->types[i].name);
        for (const std::string &name : own)
            EXPECT_TRUE(inherited.count(name) != 0 || rows.count(name) != 0)
                << "xdr_" << name << " of " << header << ".h has no row: append XDR_TYPE(" << name
                << ") to fuzz/" << header << "_types.def";
    }
}
