// The fixed-width string routines write and read their fields in the
// stream's buffer; these tests hold them to the bytes of plain rpcgen code
// (one xdr_u_char per character), loaded as a module of its own with every
// routine of both programs, for every type of the fuzz tables: random
// records through a memory stream and through a record stream cut into small
// fragments. A decoded field always ends in a NUL.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <rpc/rpc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common.h"
#include "xdr_catalogue.hpp"

namespace {

using Bytes = std::vector<char>;
using fuzzcheck::XdrCatalogue;
using fuzzcheck::XdrType;

void *plain_module()
{
    static void *h = dlopen(PLAIN_XDR, RTLD_NOW | RTLD_LOCAL);
    return h;
}

xdrproc_t plain(const char *name)
{
    return reinterpret_cast<xdrproc_t>(dlsym(plain_module(), (std::string("xdr_") + name).c_str()));
}

// The plain routine of a row; a row whose routine is an alias of another
// row's (a #define in the header) is found under that row's name.
xdrproc_t plain_of(const XdrCatalogue &cat, const XdrType &t)
{
    for (size_t i = 0; i < cat.count; ++i)
        if (cat.types[i].proc == t.proc)
            if (xdrproc_t p = plain(cat.types[i].name))
                return p;
    return nullptr;
}

// Encodes obj into memory; empty when the routine refuses it.
Bytes mem_encode(xdrproc_t proc, void *obj)
{
    Bytes out(1 << 16);  // a random record takes at most the 16 KiB it came from
    XDR x;
    xdrmem_create(&x, out.data(), static_cast<u_int>(out.size()), XDR_ENCODE);
    const bool ok = proc(&x, obj);
    out.resize(ok ? xdr_getpos(&x) : 0);
    xdr_destroy(&x);
    return out;
}

// A decoded object of the row's type, released with `proc` when it goes.
struct Object {
    Object(const XdrType &t, xdrproc_t p) : mem(std::calloc(1, t.size)), proc(p) {}
    ~Object()
    {
        xdr_free(proc, static_cast<char *>(mem));
        std::free(mem);
    }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    void *mem;
    xdrproc_t proc;
};

bool mem_decode(xdrproc_t proc, Bytes in, void *obj)
{
    XDR x;
    xdrmem_create(&x, in.data(), static_cast<u_int>(in.size()), XDR_DECODE);
    const bool ok = proc(&x, obj) && xdr_getpos(&x) == in.size();
    xdr_destroy(&x);
    return ok;
}

// A record stream over a byte vector: fragments of at most `frag` bytes
// (xdrrec's smallest is 100), read back `chunk` bytes at a time, so that
// fields straddle fragments and the reader's buffer ends mid-field.
struct Pipe {
    Bytes bytes;
    size_t at = 0;
    size_t chunk = 0;
};

int pipe_write(void *p, void *buf, int len)
{
    auto *pipe = static_cast<Pipe *>(p);
    pipe->bytes.insert(pipe->bytes.end(), static_cast<char *>(buf), static_cast<char *>(buf) + len);
    return len;
}

int pipe_read(void *p, void *buf, int len)
{
    auto *pipe = static_cast<Pipe *>(p);
    const size_t n = std::min({static_cast<size_t>(len), pipe->chunk, pipe->bytes.size() - pipe->at});
    if (n == 0)
        return -1;
    std::memcpy(buf, pipe->bytes.data() + pipe->at, n);
    pipe->at += n;
    return static_cast<int>(n);
}

Bytes rec_encode(xdrproc_t proc, void *obj, u_int frag)
{
    Pipe pipe;
    XDR x;
    xdrrec_create(&x, frag, frag, &pipe, pipe_read, pipe_write);
    x.x_op = XDR_ENCODE;
    const bool ok = proc(&x, obj) && xdrrec_endofrecord(&x, TRUE);
    xdr_destroy(&x);
    return ok ? pipe.bytes : Bytes{};
}

bool rec_decode(xdrproc_t proc, const Bytes &record, size_t chunk, void *obj)
{
    Pipe pipe{record, 0, chunk};
    XDR x;
    xdrrec_create(&x, 100, 100, &pipe, pipe_read, pipe_write);
    x.x_op = XDR_DECODE;
    const bool ok = xdrrec_skiprecord(&x) && proc(&x, obj);
    xdr_destroy(&x);
    return ok;
}

// Pseudo-random words that decode as often as not: small numbers for
// versions, flags and counts, characters (some with junk in the three high
// bytes, which a decode drops) for the strings.
Bytes random_stream(std::mt19937 &rng)
{
    Bytes b;
    for (int i = 0; i < 4096; ++i) {
        const unsigned r = rng() % 100;
        uint32_t w = r < 30 ? 0 : r < 50 ? 1 : r < 60 ? 2 + rng() % 3 : 'a' + rng() % 26;
        if (r >= 90)
            w |= rng() & 0xffffff00u;
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<char>(w >> s));
    }
    return b;
}

constexpr int kRecordsPerType = 4;

// For each row: random records (decoded by the library from a random stream,
// so every field is terminated), encoded by both, decoded by both from a
// memory stream and from record streams in small fragments; each decoded
// object must encode to the same bytes again.
void check_catalogue(const XdrCatalogue &cat)
{
    ASSERT_NE(plain_module(), nullptr) << dlerror();
    std::mt19937 rng(20261207);
    for (size_t row = 0; row < cat.count; ++row) {
        const XdrType &t = cat.types[row];
        SCOPED_TRACE(std::string(cat.program) + " " + t.name);
        const xdrproc_t ref = plain_of(cat, t);
        ASSERT_NE(ref, nullptr);
        ASSERT_NE(ref, t.proc);
        int records = 0;
        for (int attempt = 0; attempt < 400 && records < kRecordsPerType; ++attempt) {
            Object rec(t, t.proc);
            Bytes stream = random_stream(rng);
            XDR x;
            xdrmem_create(&x, stream.data(), static_cast<u_int>(stream.size()), XDR_DECODE);
            const bool decoded = t.proc(&x, rec.mem);
            xdr_destroy(&x);
            if (!decoded)
                continue;
            ++records;
            const Bytes wire = mem_encode(ref, rec.mem);
            ASSERT_FALSE(wire.empty());
            EXPECT_EQ(mem_encode(t.proc, rec.mem), wire) << "encode, memory stream";
            for (xdrproc_t proc : {t.proc, ref}) {
                Object back(t, proc);
                ASSERT_TRUE(mem_decode(proc, wire, back.mem));
                EXPECT_EQ(mem_encode(ref, back.mem), wire) << "decode, memory stream";
            }
            for (u_int frag : {100u, 132u, 204u}) {
                const Bytes record = rec_encode(t.proc, rec.mem, frag);
                ASSERT_EQ(record, rec_encode(ref, rec.mem, frag)) << "encode, fragments of " << frag;
                for (size_t chunk : {3u, 64u}) {
                    Object back(t, t.proc);
                    ASSERT_TRUE(rec_decode(t.proc, record, chunk, back.mem));
                    EXPECT_EQ(mem_encode(ref, back.mem), wire)
                        << "decode, fragments of " << frag << ", read " << chunk << " at a time";
                }
            }
        }
        EXPECT_GT(records, 0) << "no random stream decoded";
    }
}

}  // namespace

TEST(FixedStrings, EveryCommonTypeGivesThePlainCodesBytes) { check_catalogue(fuzzcheck::kCommon); }
TEST(FixedStrings, EveryOmegaTypeGivesThePlainCodesBytes) { check_catalogue(fuzzcheck::kOmega); }
TEST(FixedStrings, EveryAlphaTypeGivesThePlainCodesBytes) { check_catalogue(fuzzcheck::kAlpha); }

// A field sent without a terminator, each unit with junk in its high bytes:
// every character is the unit's low byte, as with xdr_u_char, and the last
// one gives way to a NUL, from a memory stream (the field in the buffer) and
// from a record stream read five bytes at a time (one unit per character).
TEST(FixedStrings, DecodedFieldIsTheLowBytesAndAlwaysEndsInANul)
{
    ASSERT_NE(plain_module(), nullptr) << dlerror();
    const std::pair<const char *, size_t> rows[] = {
        {"str10", 10}, {"str20", 20}, {"str30", 30}, {"str35", 35},
        {"str60", 60}, {"str80", 80}, {"mailaddrtype", 80}, {"fntyp", 14}};
    for (const auto &[name, n] : rows) {
        SCOPED_TRACE(name);
        const XdrType *lib = nullptr;
        for (size_t i = 0; i < fuzzcheck::kCommon.count; ++i)
            if (std::strcmp(fuzzcheck::kCommon.types[i].name, name) == 0)
                lib = &fuzzcheck::kCommon.types[i];
        ASSERT_NE(lib, nullptr);
        Bytes wire;
        for (size_t i = 0; i <= n; ++i)
            wire.insert(wire.end(), {'\xab', '\xcd', static_cast<char>(i), static_cast<char>('A' + i % 26)});
        Bytes record(4 + wire.size());  // one fragment, marked last
        record[0] = '\x80';
        record[2] = static_cast<char>(wire.size() >> 8);
        record[3] = static_cast<char>(wire.size());
        std::copy(wire.begin(), wire.end(), record.begin() + 4);

        Object plain_field(*lib, plain(name));
        ASSERT_TRUE(mem_decode(plain(name), wire, plain_field.mem));
        const char *expected = static_cast<const char *>(plain_field.mem);
        ASSERT_EQ(expected[n], static_cast<char>('A' + n % 26)) << "plain code keeps the last unit";
        for (bool in_fragments : {false, true}) {
            Object field(*lib, lib->proc);
            std::memset(field.mem, 0x55, lib->size);
            ASSERT_TRUE(in_fragments ? rec_decode(lib->proc, record, 5, field.mem)
                                     : mem_decode(lib->proc, wire, field.mem));
            const char *got = static_cast<const char *>(field.mem);
            EXPECT_EQ(std::string(got, n), std::string(expected, n));
            EXPECT_EQ(got[n], '\0');
        }
    }
}
