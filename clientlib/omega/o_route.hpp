// The procedures that the omega and alpha programs both answer, alike: the
// route lookup and the compatibility query. Internal to the libraries.
// Inline, so that libalphaclnt compiles its own copy: the shared libraries
// export their C functions only, never a C++ helper of the other library.
#pragma once

#include "call.hpp"
#include "omega.h"
#include "rpccommon.h"

namespace rpclib {

// A version-0 request: number cut to 10 characters, qualifier to 20.
inline o_apply_route_new_i route_request(const char *number, const char *qualifier) noexcept
{
    o_apply_route_new_i req{};
    req.version = 0;
    my_strncpy(req.o_apply_route_new_i_u.v0.number, number, 10);
    my_strncpy(req.o_apply_route_new_i_u.v0.qualifier, qualifier, 20);
    return req;
}

// The answer's error, or 0 after copying the alpha host (35), user (10) and
// id (10) into the caller's buffers.
inline int route_result(const o_apply_route_new_o &answer, char *host, char *user,
                        char *id) noexcept
{
    const o_apply_route_new_o_v0 &a = answer.o_apply_route_new_o_u.v0;
    if (a.error != 0)
        return a.error;
    my_strncpy(host, a.target_host, 35);
    my_strncpy(user, a.target_user, 10);
    my_strncpy(id, a.target_id, 10);
    return RPCLIB_OK;
}

template <class Rule>
int apply_route(CLIENT *clnt, o_apply_route_new_o *(*stub)(o_apply_route_new_i *, CLIENT *),
                const char *number, const char *qualifier, char *host, char *user,
                char *id) noexcept
{
    o_apply_route_new_i req = route_request(number, qualifier);
    return Rule::call(clnt, stub, &req, xdr_o_apply_route_new_o, [=](const o_apply_route_new_o &r) {
        return route_result(r, host, user, id);
    });
}

// Both values of the compatibility answer, or 32 (nothing written) when the
// first is 0.
template <class Rule>
int get_compat(CLIENT *clnt, compat_o *(*stub)(void *, CLIENT *), long *first,
               long *second) noexcept
{
    return Rule::call(clnt, stub, static_cast<void *>(nullptr), xdr_compat_o,
                      [first, second](const compat_o &r) {
                          if (r.first == 0)
                              return RPCLIB_EMPTY_ANSWER;
                          store(first, r.first);
                          store(second, r.second);
                          return RPCLIB_OK;
                      });
}

}  // namespace rpclib
