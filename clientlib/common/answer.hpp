// The answer of one raw stub inside a wrapper: the stub's static result,
// released with its XDR routine when the wrapper is done with it, whatever
// path the wrapper leaves by. Internal to the client libraries.
#pragma once

#include <rpc/rpc.h>

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

}  // namespace rpclib
