// Writes the seed corpus of the fuzz targets into DIR/<target>/ (run once;
// the output is checked in as fuzz/corpus/):
//   - XDR targets: for every row a valid encoding, found by decoding
//     pseudo-random word streams (small numbers for versions, flags and tags,
//     letters for characters) and keeping the longest encoding within a size
//     budget, so that list answers carry a few nodes; plus hostile variants
//     (truncated lists, presence flags without entries, unknown versions);
//   - readers: the text each printer writes for such a record, and a few
//     malformed texts;
//   - keypad: PIN, password and the code pinpw2t makes, and malformed codes.
// File names start with the row they were made for; the unit test checks
// that each seed still picks that row. Deterministic apart from pinpw2t's
// clock-seeded choice for e, i and n.
#include <rpc/rpc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fuzz_checks.hpp"
#include "pinpw2t.h"

namespace fs = std::filesystem;
using fuzzcheck::XdrCatalogue;
using fuzzcheck::XdrType;
using Bytes = std::vector<char>;

namespace {

fs::path g_out;

void write_seed(const char *target, const std::string &name, const Bytes &bytes)
{
    fs::create_directories(g_out / target);
    std::ofstream f(g_out / target / name, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes words(const std::vector<uint32_t> &ws)
{
    Bytes b;
    for (uint32_t w : ws)
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<char>(w >> s));
    return b;
}

std::vector<uint32_t> random_words(std::mt19937 &rng, size_t n)
{
    std::vector<uint32_t> ws(n);
    for (uint32_t &w : ws) {
        const unsigned r = rng() % 100;
        w = r < 30 ? 0 : r < 55 ? 1 : r < 65 ? 2 + rng() % 3 : 'a' + rng() % 26;
    }
    return ws;
}

// Decodes bytes as the row's type; on success hands the object to use(),
// then releases it.
template <class Use>
bool with_decoded(const XdrType &t, Bytes bytes, Use use)
{
    void *obj = std::calloc(1, t.size);
    XDR x;
    xdrmem_create(&x, bytes.data(), static_cast<u_int>(bytes.size()), XDR_DECODE);
    const bool ok = t.proc(&x, obj) != 0;
    const u_int used = xdr_getpos(&x);
    xdr_destroy(&x);
    if (ok)
        use(obj, used);
    xdr_free(t.proc, obj);
    std::free(obj);
    return ok;
}

Bytes encoded(const XdrType &t, void *obj, size_t used)
{
    Bytes out(used + 64);
    XDR x;
    xdrmem_create(&x, out.data(), static_cast<u_int>(out.size()), XDR_ENCODE);
    if (!t.proc(&x, obj)) {
        std::fprintf(stderr, "%s: a decoded object does not encode\n", t.name);
        std::exit(1);
    }
    out.resize(xdr_getpos(&x));
    xdr_destroy(&x);
    return out;
}

// A valid encoding of the row's type: the longest found within
// max(3 KiB, shortest found). Empty when no stream decodes.
Bytes valid_encoding(const XdrType &t, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<Bytes> found;
    for (int attempt = 0; attempt < 300; ++attempt) {
        Bytes stream = words(attempt == 0 ? std::vector<uint32_t>(2048, 0)
                                          : random_words(rng, 2048));
        with_decoded(t, stream,
                     [&](void *obj, size_t used) { found.push_back(encoded(t, obj, used)); });
    }
    if (found.empty())
        return {};
    size_t shortest = found[0].size();
    for (const Bytes &e : found)
        shortest = std::min(shortest, e.size());
    const size_t budget = std::max<size_t>(3072, shortest);
    Bytes best;
    for (const Bytes &e : found)
        if (e.size() <= budget && e.size() > best.size())
            best = e;
    return best;
}

Bytes selector(const XdrCatalogue &cat, const char *name)
{
    for (size_t i = 0; i < cat.count; ++i)
        if (std::strcmp(cat.types[i].name, name) == 0)
            return {static_cast<char>(i >> 8), static_cast<char>(i & 0xff)};
    std::fprintf(stderr, "no row %s in %s\n", name, cat.program);
    std::exit(1);
}

Bytes cat_bytes(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Hostile {
    const char *row;
    const char *variant;
    Bytes body;  // empty: the row's valid seed cut in half
};

void xdr_seeds(const char *target, const XdrCatalogue &cat, unsigned seed,
               const std::vector<Hostile> &hostile)
{
    std::vector<Bytes> valid(cat.count);
    for (size_t i = 0; i < cat.count; ++i) {
        const XdrType &t = cat.types[i];
        valid[i] = valid_encoding(t, seed + static_cast<unsigned>(i));
        if (valid[i].empty()) {
            std::fprintf(stderr, "%s %s: no valid encoding found\n", cat.program, t.name);
            continue;
        }
        write_seed(target, t.name, cat_bytes(selector(cat, t.name), valid[i]));
    }
    for (const Hostile &h : hostile) {
        Bytes body = h.body;
        if (body.empty()) {
            for (size_t i = 0; i < cat.count; ++i)
                if (std::strcmp(cat.types[i].name, h.row) == 0)
                    body.assign(valid[i].begin(), valid[i].begin() + valid[i].size() / 2);
        }
        write_seed(target, std::string(h.row) + "." + h.variant,
                   cat_bytes(selector(cat, h.row), body));
    }
}

// n presence flags set, then nothing.
Bytes flags_only(std::vector<uint32_t> head, size_t n)
{
    head.insert(head.end(), n, 1);
    return words(head);
}

void reader_seeds()
{
    unsigned seed = 7000;
    for (size_t i = 0; i < fuzzcheck::kReaderCount; ++i) {
        const fuzzcheck::ReaderRow &row = fuzzcheck::kReaders[i];
        const char *type = std::strcmp(row.name, "o_faxl_new_v1") == 0 ? "o_faxl_new" : row.name;
        const Bytes sel = selector(fuzzcheck::kOmega, type);
        const XdrType &t =
            fuzzcheck::kOmega.types[((size_t{static_cast<unsigned char>(sel[0])} << 8) |
                                     static_cast<unsigned char>(sel[1]))];
        for (int variant = 0; variant < 2; ++variant) {
            Bytes enc = valid_encoding(t, seed++);
            with_decoded(t, enc, [&](void *obj, size_t) {
                char *buf = nullptr;
                size_t len = 0;
                FILE *f = open_memstream(&buf, &len);
                row.print(f, obj, "\n");
                std::fclose(f);
                Bytes seedbytes{static_cast<char>(variant == 0 ? i : (i | 0x80))};
                seedbytes.insert(seedbytes.end(), buf, buf + len);
                std::free(buf);
                write_seed("fuzz_readers", std::string(row.name) + (variant == 0 ? "" : ".filled"),
                           seedbytes);
            });
        }
    }
    // Malformed texts, each for the reader of its first byte.
    const struct {
        const char *name;
        unsigned char reader;
        std::string text;
    } bad[] = {
        {"o_alpha.overlong-lines", 0,
         std::string(300, 'h') + "\n" + std::string(200, 'x') + "\ndescr"},
        {"o_faxg.numbers-out-of-range", 1,
         "g1\ndescr\n99999999999999999999999\n-1\nfffffffffffffffffffffffff\n0x\n"},
        {"o_tgroup.perm-above-ff", 4, "n\nf2\nhost\nu\nf5\n1ff\n0\n0\n"},
        {"o_tebul.no-final-newline", 7, "a\nb\nc\nd\ne\nJ\n12"},
        {"o_gwuser.version-2", 8, "2\nf1\naddr@x\nf3\n"},
        {"o_faxl_new.version-only", 9, "    1\n"},
        {"o_faxl_new_v1.empty", 10, ""},
    };
    for (const auto &b : bad) {
        Bytes s{static_cast<char>(b.reader)};
        s.insert(s.end(), b.text.begin(), b.text.end());
        write_seed("fuzz_readers", b.name, s);
    }
}

void keypad_seeds()
{
    const struct {
        const char *name;
        unsigned char pwsize;
        std::string pin, pw, code;  // code empty: pinpw2t's
    } cases[] = {
        {"plain", 64, "1234", "geheim", ""},
        {"one-digit-pin", 8, "7", "x", ""},
        {"eine-password", 32, "4711", "einen neuen Tee", ""},
        {"umlauts-and-controls", 64, "9876", "s\xfc\xdf\tend\x85", ""},
        {"cut-password", 128, "13579", std::string(60, '\xe4'), ""},
        {"long-pin", 128, std::string(80, '5'), "kurz", ""},
        {"non-digit-pin", 64, "ab#1", "pw", ""},
        {"short-buffer", 3, "2468", "password", ""},
        {"no-buffer", 0, "2468", "password", ""},
        {"minus-zero-header", 64, "1234", "", "-0 1234"},
        {"no-digits", 64, "1234", "", "4 "},
        {"long-header", 64, "1234", "", "1000 12"},
        {"shift-at-end", 64, "12", "", "0 99"},
        {"garbage", 64, "1", "", "x y z"},
    };
    for (const auto &c : cases) {
        const std::string code = c.code.empty() ? std::string(pinpw2t(c.pin.c_str(), c.pw.c_str()))
                                                : c.code;
        Bytes s{static_cast<char>(c.pwsize)};
        for (const std::string *part : {&c.pin, &c.pw}) {
            s.insert(s.end(), part->begin(), part->end());
            s.push_back('\0');
        }
        s.insert(s.end(), code.begin(), code.end());
        write_seed("fuzz_keypad", c.name, s);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    g_out = argv[1];

    xdr_seeds("fuzz_omega_answers", fuzzcheck::kOmega, 1000,
              {{"o_get_user_ll_o", "flags-without-entries", flags_only({3}, 2000)},
               {"o_get_faxl_new_ll_o", "truncated", {}},
               {"o_make_verteiler_o", "truncated", {}},
               {"o_configdata_new", "truncated", {}},
               {"o_get_kzg_o", "truncated", {}},
               {"o_faxl_new", "version-7", words(std::vector<uint32_t>(700, 7))},
               {"o_get_route_new_o", "version-2", words(std::vector<uint32_t>(200, 2))}});
    xdr_seeds("fuzz_alpha_answers", fuzzcheck::kAlpha, 3000,
              {{"a_get_e_o", "truncated", {}},
               {"a_get_sendjob_ll_o", "truncated", {}},
               {"a_get_logl_o", "truncated", {}},
               {"a_usrconf_ll_o", "truncated", {}},
               {"a_get_s_rec_new_ll_o", "flags-without-entries", flags_only({0, 2}, 2000)},
               {"a_trigger", "tag-9", words({9, 1, 1, 1})}});
    xdr_seeds("fuzz_common", fuzzcheck::kCommon, 5000,
              {{"str10_ll", "flags-without-entries", flags_only({}, 2000)},
               {"fz_bytes_last_ref", "truncated", {}},
               {"fz_bytes_first_ref", "truncated", {}},
               {"text_ll", "truncated", {}}});
    reader_seeds();
    keypad_seeds();
    return 0;
}
