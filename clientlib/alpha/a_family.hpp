// What the alpha wrappers share beyond the rule of every call
// (rpclib::Alpha, call.hpp): the new-only procedures' failure, requests
// that begin with the user's id, and the hand-over of lists. A wrapper names
// its stub, fills its request and picks an evaluation. Internal to alphaclnt.
#pragma once

#include "a_lib.h"
#include "call.hpp"

namespace alpha {

using rpclib::Alpha;
using rpclib::hand_over;
using rpclib::record;
using rpclib::release;
using rpclib::store;
using rpclib::yes_no;

// The end of a new-only call without an answer: a server that lacks the
// procedure gives 76 and the handle stays usable; anything else is a failed
// call (16).
int new_only_failed(CLIENT *given, CLIENT *used) noexcept;

// Most requests begin with the user's id, cut to its width here.
template <class Req>
Req for_user(const char *userid, Req req) noexcept
{
    my_strncpy(req.userid, userid, 10);
    return req;
}

// Hand-over family: nothing to hand over (count 0) gives 25. With a code
// member, a nonzero server code comes first and is returned as it is.
template <class Res, class Count>
auto hand_over_list(Res *out, Count Res::*count) noexcept
{
    return
        [=](Res &r) noexcept -> int { return r.*count == 0 ? RPCLIB_NO_ENTRY : hand_over(r, out); };
}

template <class Res, class Count>
auto hand_over_list(Res *out, Count Res::*count, short Res::*code) noexcept
{
    return [=](Res &r) noexcept -> int {
        if (r.*code != 0)
            return r.*code;
        return r.*count == 0 ? RPCLIB_NO_ENTRY : hand_over(r, out);
    };
}

}  // namespace alpha
