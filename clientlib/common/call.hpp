// The rule every wrapper of both client libraries follows, written once:
// resolve the handle, let a local check refuse before anything is sent (the
// handle kept), call the stub, and when no answer came let the handle go as
// handles.hpp says and return the library's failure code; otherwise return
// what the wrapper makes of the answer, which is released on every way out.
// Internal to the client libraries.
#pragma once

#include "answer.hpp"
#include "handles.hpp"
#include "rpccommon.h"

namespace rpclib {

// The local check of a wrapper that has none.
inline int go_on() noexcept { return RPCLIB_OK; }

// One library's side of the rule: its handle resolver, its default handle
// (forgotten after a failed call) and its code for a call without an answer.
template <int (*Resolve)(CLIENT *, CLIENT **) noexcept, DefaultHandle &(*Default)() noexcept,
          int CallFailed>
struct Rule {
    // A call through `used` (got from `given`) brought no answer.
    static int failed(CLIENT *given, CLIENT *used) noexcept
    {
        Default().failed(given, used);
        return CallFailed;
    }

    // One exchange on a resolved handle; `fail` ends a call without an answer.
    template <class Req, class Res, class XdrRes, class Eval, class Fail = decltype(&failed)>
    static int exchange(CLIENT *given, CLIENT *used, Res *(*stub)(Req *, CLIENT *), Req *req,
                        XdrRes xdr_res, Eval &&eval, Fail fail = failed) noexcept
    {
        auto res = answer(stub(req, used), xdr_res);
        if (!res)
            return fail(given, used);
        return eval(*res);
    }

    // The whole rule: the resolver's code, `before`'s refusal, or the exchange.
    template <class Req, class Res, class XdrRes, class Eval, class Before = decltype(&go_on),
              class Fail = decltype(&failed)>
    static int call(CLIENT *given, Res *(*stub)(Req *, CLIENT *), Req *req, XdrRes xdr_res,
                    Eval &&eval, Before before = go_on, Fail fail = failed) noexcept
    {
        CLIENT *used = nullptr;
        if (int rc = Resolve(given, &used))
            return rc;
        if (int rc = before())
            return rc;
        return exchange(given, used, stub, req, xdr_res, eval, fail);
    }
};

// Evaluations that wrappers of both libraries share.
inline int status_of(const short &status) noexcept { return status; }
inline int yes_no(const bool_t &done) noexcept { return done ? RPCLIB_OK : RPCLIB_REFUSED; }

// A present answer is copied whole into *out; else `absent`.
template <class Rec, class Present>
auto record(Rec *out, Present present, int absent) noexcept
{
    return [=](const Rec &r) noexcept -> int {
        if (!present(r))
            return absent;
        store(out, r);
        return RPCLIB_OK;
    };
}

using Omega = Rule<o_resolve, omega_default, RPCLIB_O_CALL_FAILED>;
using Alpha = Rule<a_resolve, alpha_default, RPCLIB_A_CALL_FAILED>;

}  // namespace rpclib
