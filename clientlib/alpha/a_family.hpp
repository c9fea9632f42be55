// The rules the alpha wrappers share, each written once: resolving the
// handle, what a call without an answer means, and how each family reads
// the answer. A wrapper names its stub, fills its request and picks an
// evaluation; the answer is released on every path. Internal to alphaclnt.
#pragma once

#include <utility>

#include "a_lib.h"
#include "answer.hpp"
#include "handles.hpp"

namespace alpha {

enum Code : int {
    kNoUser = 6,
    kFileUnreadable = 13,
    kCallFailed = 16,
    kUnsuitable = 23,
    kNotFound = 25,
    kNoPageData = 29,
    kEmptyAnswer = 32,
    kRefused = 34,
    kNoNewProcedure = 76,
};

// What a call without an answer means. The new-only procedures tell a server
// that lacks them (76, the handle stays usable) from a failed call (16).
enum class Generation { any, new_only };

// `given` is the wrapper's handle argument, c the handle the call used.
int call_failed(CLIENT *given, CLIENT *c, Generation gen) noexcept;

// Resolves the handle; `refuse` (when not 0) is returned before anything is
// sent; otherwise calls stub(req, handle) and returns eval(answer).
template <class Arg, class Res, class XdrRes, class Eval>
int call(CLIENT *clnt, Res *(*stub)(Arg *, CLIENT *), Arg *req, XdrRes xdr_res, Eval &&eval,
         Generation gen = Generation::any, int refuse = 0) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::a_resolve(clnt, &c))
        return rc;
    if (refuse != 0)
        return refuse;
    auto res = rpclib::answer(stub(req, c), xdr_res);
    if (!res)
        return call_failed(clnt, c, gen);
    return std::forward<Eval>(eval)(*res);
}

// Most requests begin with the user's id, cut to its width here.
template <class Req>
Req for_user(const char *userid, Req req) noexcept
{
    my_strncpy(req.userid, userid, 10);
    return req;
}

// Copy-out into an out-argument that the caller may leave out.
template <class T>
void store(T *out, const T &value) noexcept
{
    if (out != nullptr)
        *out = value;
}

// Yes/no family.
inline int yes_no(const bool_t &answer) noexcept { return answer ? 0 : kRefused; }

// Record family: a present answer is copied whole into *out.
template <class Rec, class Present>
auto record(Rec *out, Present present, int absent) noexcept
{
    return [=](const Rec &r) noexcept -> int {
        if (!present(r))
            return absent;
        store(out, r);
        return 0;
    };
}

// Hand-over: the answer's words go to the caller, and the static answer is
// cleared so that releasing it leaves the chain (or block) to the caller.
template <class Res>
int hand_over(Res &answer, Res *out) noexcept
{
    if (out == nullptr)
        return 0;  // nobody to take it: released with the answer
    *out = answer;
    answer = Res{};
    return 0;
}

// Hand-over family: nothing to hand over (count 0) gives 25. With a code
// member, a nonzero server code comes first and is returned as it is.
template <class Res, class Count>
auto hand_over_list(Res *out, Count Res::*count) noexcept
{
    return [=](Res &r) noexcept -> int {
        return r.*count == 0 ? kNotFound : hand_over(r, out);
    };
}

template <class Res, class Count>
auto hand_over_list(Res *out, Count Res::*count, short Res::*code) noexcept
{
    return [=](Res &r) noexcept -> int {
        if (r.*code != 0)
            return r.*code;
        return r.*count == 0 ? kNotFound : hand_over(r, out);
    };
}

// Release of a handed-over answer; its pointers are NULL afterwards.
template <class Res, class XdrRes>
void release(Res *out, XdrRes xdr_res) noexcept
{
    if (out != nullptr)
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_res), reinterpret_cast<char *>(out));
}

}  // namespace alpha
