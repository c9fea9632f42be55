// Wire bytes through an in-memory XDR stream, to compare with bytes written
// out by hand, and the table check of the records' wire lengths.
#pragma once

#include <gtest/gtest.h>
#include <rpc/rpc.h>

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

// The XDR routine of a type by name, from the fuzz tables.
xdrproc_t xdr_routine(const std::string &name);

// Rows "type length", or "type length,length,..." for a versioned record by
// version (or union tag) 0, 1, ..., with 0 for a refused version: the wire
// length of a zeroed record, a field missing, added or of the wrong width
// showing here. Every other version from -1 to 5 is refused too, both ways.
inline void expect_wire(bool versioned, const std::string &table)
{
    std::istringstream rows(table);
    for (std::string name, lengths; rows >> name >> lengths;) {
        std::vector<size_t> wire;
        std::istringstream in(lengths);
        for (size_t w; in >> w; in.ignore())
            wire.push_back(w);
        for (int v = versioned ? -1 : 0; v <= (versioned ? 5 : 0); ++v) {
            SCOPED_TRACE(name + " version " + std::to_string(v));
            const size_t length = v >= 0 && size_t(v) < wire.size() ? wire[v] : 0;
            std::vector<uint64_t> obj = zeroed(v), back = zeroed();
            Bytes b;
            EXPECT_EQ(encode(xdr_routine(name), obj.data(), b), length != 0);
            EXPECT_EQ(b, length != 0 ? cat({words({uint32_t(v)}), Bytes(length - 4, 0)}) : b);
            EXPECT_EQ(
                decode(xdr_routine(name), back.data(), cat({words({uint32_t(v)}), Bytes(4096, 0)})),
                length != 0);
            release(xdr_routine(name), back.data());
        }
    }
}

}  // namespace xdrtest
