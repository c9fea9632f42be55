// The fuzz targets' checks over every seed of fuzz/corpus and every saved
// finding of fuzz/regressions, in the normal build, and the fuzz tables
// against the generated headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "fuzz_checks.hpp"

// Under AddressSanitizer (the sanitizer build of the suite) an allocation
// beyond 2 GiB aborts instead of being granted lazily, so a decoder that
// trusts an announced count fails on the saved findings that announce 4 GiB.
extern "C" const char *__asan_default_options() { return "max_allocation_size_mb=2048"; }

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using fuzzcheck::XdrCatalogue;

// The targets; an input of an XDR target picks a row of its table by its
// first bytes, one of the readers by its first byte.
const struct Target {
    const char *name;
    const XdrCatalogue *xdr;
} kTargets[] = {{"fuzz_omega_answers", &fuzzcheck::kOmega}, {"fuzz_alpha_answers", &fuzzcheck::kAlpha},
                {"fuzz_common", &fuzzcheck::kCommon}, {"fuzz_readers", nullptr}, {"fuzz_keypad", nullptr}};

std::string check(const Target &t, const Bytes &b)
{
    if (t.xdr != nullptr)
        return fuzzcheck::check_xdr(*t.xdr, b.data(), b.size());
    const auto other = std::string(t.name) == "fuzz_readers" ? fuzzcheck::check_reader : fuzzcheck::check_keypad;
    return other(b.data(), b.size());
}

std::string row_of(const Target &t, const Bytes &b)
{
    if (t.xdr != nullptr)
        return b.size() < fuzzcheck::kSelectorBytes ? "" : fuzzcheck::pick(*t.xdr, b.data()).name;
    return b.empty() ? "" : fuzzcheck::kReaders[(b[0] & 0x7f) % fuzzcheck::kReaderCount].name;
}

// The seeds and saved findings of a target, by path.
std::vector<std::pair<fs::path, Bytes>> inputs_of(const char *target)
{
    std::vector<std::pair<fs::path, Bytes>> inputs;
    for (const char *kind : {"corpus", "regressions"}) {
        std::error_code none;  // a target without saved findings has no folder
        for (const auto &e : fs::directory_iterator(fs::path(FUZZ_DIR) / kind / target, none)) {
            std::ifstream f(e.path(), std::ios::binary);
            inputs.emplace_back(e.path(), Bytes(std::istreambuf_iterator<char>(f), {}));
        }
    }
    return inputs;
}

}  // namespace

// What the fuzzer once found stays fixed, and the seeds stay valid inputs.
TEST(FuzzRegression, EverySeedAndSavedFindingPassesItsTargetsChecks)
{
    for (const Target &t : kTargets) {
        const auto inputs = inputs_of(t.name);
        EXPECT_FALSE(inputs.empty()) << t.name << " has no seeds";
        for (const auto &[path, b] : inputs)
            EXPECT_EQ(check(t, b), "") << path;
    }
}

// A seed names the row it was made for; a row inserted or removed in the
// middle of a table would silently turn the seeds into inputs of other rows.
TEST(FuzzRegression, EverySeedStillPicksTheRowItWasMadeFor)
{
    for (const Target &t : kTargets)
        for (const auto &[path, b] : inputs_of(t.name)) {
            const std::string file = path.filename().string();
            if (std::string(t.name) != "fuzz_keypad") {  // keypad inputs pick no row
                EXPECT_EQ(row_of(t, b), file.substr(0, file.find('.')))
                    << path << ": append new rows at the end of the table, or make the seeds anew";
            }
        }
}

// Every routine a generated header adds to its includes (as the preprocessor
// expands them: nodes and owning answers are declared through macros) has a
// row in the table of its program, so the fuzzer decodes every type there is.
TEST(FuzzTables, EveryXdrRoutineOfTheGeneratedHeadersHasARow)
{
    auto declared = [](const char *header) {
        std::ifstream f(fs::path(FUZZ_DECLS_DIR) / (std::string(header) + ".txt"));
        const std::string text{std::istreambuf_iterator<char>(f), {}};
        // A type's routine takes the stream and the object; helpers with
        // more arguments (xdr_counted_bytes) are no types.
        static const std::regex decl(R"(bool_t\s+xdr_(\w+)\s*\(\s*XDR\s*\*\s*\w*\s*,[^,)]*\))");
        std::set<std::string> names;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), decl); it != std::sregex_iterator(); ++it)
            names.insert((*it)[1]);
        return names;
    };
    for (const auto &[header, includes, cat] : {std::tuple{"common", "rpc", &fuzzcheck::kCommon},
                                                {"omega", "common", &fuzzcheck::kOmega},
                                                {"alpha", "omega", &fuzzcheck::kAlpha}}) {
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
