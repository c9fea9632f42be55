// Encoding and decoding through an in-memory XDR stream, for tests that
// compare wire bytes with bytes written out by hand.
#pragma once

#include <rpc/rpc.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace xdrtest {

using Bytes = std::vector<uint8_t>;

// Encodes obj with fn; returns false when the routine refuses it.
template <class T, class Fn>
bool encode(Fn fn, T *obj, Bytes &out, size_t capacity = 1 << 16)
{
    out.assign(capacity, 0);
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char *>(out.data()), static_cast<u_int>(capacity),
                  XDR_ENCODE);
    bool ok = reinterpret_cast<xdrproc_t>(fn)(&x, obj);
    out.resize(xdr_getpos(&x));
    xdr_destroy(&x);
    return ok;
}

// Decodes bytes into obj with fn; returns false when they do not decode.
template <class T, class Fn>
bool decode(Fn fn, T *obj, const Bytes &in)
{
    Bytes copy = in;
    XDR x;
    xdrmem_create(&x, reinterpret_cast<char *>(copy.data()), static_cast<u_int>(copy.size()),
                  XDR_DECODE);
    bool ok = reinterpret_cast<xdrproc_t>(fn)(&x, obj);
    xdr_destroy(&x);
    return ok;
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
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<uint8_t>(w >> s));
    return b;
}

// The wire form of a fixed-width string of n characters holding text.
inline Bytes strn(const char *text, size_t n)
{
    Bytes b;
    bool ended = false;
    for (size_t i = 0; i <= n; ++i) {
        uint8_t c = ended ? 0 : static_cast<uint8_t>(text[i]);
        if (c == 0)
            ended = true;
        b.insert(b.end(), {0, 0, 0, c});
    }
    return b;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes b;
    for (const auto &p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

}  // namespace xdrtest
