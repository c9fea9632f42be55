// Wire bytes through an in-memory XDR stream, to compare with bytes written
// out by hand, and the table checks of the records of both programs.
#pragma once

#include <gtest/gtest.h>
#include <rpc/rpc.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace xdrtest {

using Bytes = std::vector<uint8_t>;

// Runs fn over the bytes (cut to where it stopped); false when it refuses.
template <class T, class Fn>
bool run_xdr(Fn fn, T *obj, Bytes &bytes, xdr_op op)
{
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char *>(bytes.data()), static_cast<u_int>(bytes.size()), op);
    const bool ok = reinterpret_cast<xdrproc_t>(fn)(&x, obj);
    bytes.resize(xdr_getpos(&x));
    xdr_destroy(&x);
    return ok;
}

template <class T, class Fn>
bool encode(Fn fn, T *obj, Bytes &out, size_t capacity = 1 << 16)
{
    out.assign(capacity, 0);
    return run_xdr(fn, obj, out, XDR_ENCODE);
}

template <class T, class Fn>
bool decode(Fn fn, T *obj, Bytes in)
{
    return run_xdr(fn, obj, in, XDR_DECODE);
}

template <class T, class Fn>
void release(Fn fn, T *obj)
{
    xdr_free(reinterpret_cast<xdrproc_t>(fn), reinterpret_cast<char *>(obj));
}

// Big-endian 4-byte words.
inline Bytes words(std::initializer_list<uint32_t> ws)
{
    Bytes b;
    for (uint32_t w : ws)
        b.insert(b.end(), {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w)});
    return b;
}

// A fixed-width string of n characters: one unit per character, NUL-filled.
inline Bytes strn(const char *text, size_t n)
{
    Bytes b(4 * (n + 1), 0);
    for (size_t i = 0; text[i] != 0; ++i)
        b[4 * i + 3] = uint8_t(text[i]);
    return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes b;
    for (const Bytes &p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

// Zeroed storage for any record, with its first int (version or tag) set.
inline std::vector<uint64_t> zeroed(int first = 0)
{
    std::vector<uint64_t> mem(1024);
    std::memcpy(mem.data(), &first, sizeof first);
    return mem;
}

// The XDR routine of a type by name (the unit tests look it up in the fuzz
// tables).
xdrproc_t xdr_routine(const std::string &name);

// Rows "type length", or "type length,length,..." for a versioned record by
// version (or union tag) 0, 1, ..., with 0 for a refused version: the wire
// length of a zeroed record, a field missing, added or of the wrong width
// showing here. Every other version from -1 to 5 is refused too, both ways.
inline void expect_wire(bool versioned, const std::string &table)
{
    std::istringstream rows(table);
    std::string name, lengths;
    while (rows >> name >> lengths) {
        std::vector<size_t> wire;
        std::istringstream in(lengths);
        for (size_t w; in >> w; in.ignore())
            wire.push_back(w);
        const xdrproc_t fn = xdr_routine(name);
        for (int v = versioned ? -1 : 0; v <= (versioned ? 5 : 0); ++v) {
            SCOPED_TRACE(name + " version " + std::to_string(v));
            const size_t length = v >= 0 && size_t(v) < wire.size() ? wire[v] : 0;
            std::vector<uint64_t> obj = zeroed(v), back = zeroed();
            Bytes b;
            EXPECT_EQ(encode(fn, obj.data(), b), length != 0);
            EXPECT_EQ(b, length != 0 ? cat({words({uint32_t(v)}), Bytes(length - 4, 0)}) : b);
            EXPECT_EQ(decode(fn, back.data(), cat({words({uint32_t(v)}), Bytes(4096, 0)})), length != 0);
            release(fn, back.data());
        }
    }
}

// n nodes of a chain, each with the entry a lone node has: link first, every
// presence flag and then the entries; link last, each entry and then its
// flag. They must decode, encode to the same bytes and free with a 1 MiB
// stack, which a codec taking a frame per node would overflow.
inline bool chain_round_trip(xdrproc_t fn, bool link_first, size_t n)
{
    std::vector<uint64_t> lone = zeroed(), head = zeroed();
    Bytes one, wire, again;
    for (uint32_t v = 0; v < 2 && one.empty(); ++v) {  // the first entry version that decodes
        one = cat({link_first ? words({0, v}) : words({v}), Bytes(8192, 0)});
        if (!decode(fn, lone.data(), one) || !encode(fn, lone.data(), one))
            one.clear();
    }
    if (one.empty())
        return false;
    const Bytes entry(one.begin() + (link_first ? 4 : 0), one.end() - (link_first ? 0 : 4));
    const Bytes more = words({1}), end = words({0});
    for (size_t i = 0; i < n; ++i) {
        const Bytes &flag = i + 1 < n ? more : end;
        if (!link_first)
            wire.insert(wire.end(), entry.begin(), entry.end());
        wire.insert(wire.end(), flag.begin(), flag.end());
    }
    for (size_t i = 0; link_first && i < n; ++i)
        wire.insert(wire.end(), entry.begin(), entry.end());
    const size_t length = wire.size();
    const bool ok = run_xdr(fn, head.data(), wire, XDR_DECODE) && wire.size() == length &&
                    encode(fn, head.data(), again, length + 4) && again == wire;
    release(fn, head.data());
    return ok;
}

inline void expect_chains(bool link_first, size_t n, const std::string &nodes)
{
    rlimit limit{}, small{};  // the soft limit, never above the hard one
    getrlimit(RLIMIT_STACK, &limit);
    small = {std::min<rlim_t>(1 << 20, limit.rlim_max), limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &small), 0);
    std::istringstream names(nodes);
    for (std::string name; names >> name;)
        EXPECT_TRUE(chain_round_trip(xdr_routine(name), link_first, n)) << name;
    setrlimit(RLIMIT_STACK, &limit);
}

// A cut or hostile answer is refused and keeps nothing: a client stub never
// frees an answer that failed to decode, so the pointer at offset `list`
// must be null, and the sanitizer build finds memory kept without one.
struct Refused {
    const char *name;
    xdrproc_t fn;
    size_t list;
    Bytes wire;
};
#define XDR_REFUSED(type, list, ...) \
    {#type, reinterpret_cast<xdrproc_t>(xdr_##type), offsetof(type, list), __VA_ARGS__}

inline void expect_refused_answers(std::initializer_list<Refused> rows)
{
    for (const Refused &r : rows) {
        std::vector<uint64_t> obj = zeroed();
        void *kept = nullptr;
        EXPECT_FALSE(decode(r.fn, obj.data(), r.wire)) << r.name;
        std::memcpy(&kept, reinterpret_cast<char *>(obj.data()) + r.list, sizeof kept);
        EXPECT_EQ(kept, nullptr) << r.name;
        release(r.fn, obj.data());
    }
}

}  // namespace xdrtest
