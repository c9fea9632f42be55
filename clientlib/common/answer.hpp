// The answer of one raw stub inside a wrapper: the stub's static result,
// released with its XDR routine when the wrapper is done with it, whatever
// path the wrapper leaves by; and what a wrapper hands over to its caller,
// which the caller releases with the family's _free function. Internal to
// the client libraries.
#pragma once

#include <rpc/rpc.h>

#include "rpccommon.h"

namespace rpclib {

template <class T>
class Answer {
public:
    Answer(T *result, xdrproc_t release) noexcept : result_(result), release_(release) {}
    Answer(const Answer &) = delete;
    Answer &operator=(const Answer &) = delete;
    ~Answer() { reset(); }

    explicit operator bool() const noexcept { return result_ != nullptr; }
    T *get() const noexcept { return result_; }
    T *operator->() const noexcept { return result_; }
    T &operator*() const noexcept { return *result_; }

    // Releases what the answer still owns now (the static object stays).
    void reset() noexcept
    {
        if (result_ != nullptr)
            xdr_free(release_, reinterpret_cast<char *>(result_));
        result_ = nullptr;
    }

private:
    T *result_;
    xdrproc_t release_;
};

template <class T, class Fn>
Answer<T> answer(T *result, Fn release) noexcept
{
    return Answer<T>(result, reinterpret_cast<xdrproc_t>(release));
}

// Copy-out into an out-argument that the caller may leave out.
template <class T>
void store(T *out, const T &value) noexcept
{
    if (out != nullptr)
        *out = value;
}

// Hand-over: the answer's words (count, chain or block, and whatever else it
// holds) go to the caller, and the static answer is cleared, so that
// releasing it leaves them to the caller. Nobody to take them: they are
// released with the answer. 0.
template <class Res>
int hand_over(Res &answer, Res *out) noexcept
{
    if (out == nullptr)
        return RPCLIB_OK;
    *out = answer;
    answer = Res{};
    return RPCLIB_OK;
}

// Release of a handed-over answer; its pointers are NULL afterwards.
template <class Res, class XdrRes>
void release(Res *out, XdrRes xdr_res) noexcept
{
    if (out != nullptr)
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_res), reinterpret_cast<char *>(out));
}

}  // namespace rpclib
