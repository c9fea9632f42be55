// The route request and answer, shared by the omega route lookup and the
// alpha program's copy of the same procedure. Internal to the libraries.
// Inline, so that libalphaclnt compiles its own copy: the shared libraries
// export their C functions only, never a C++ helper of the other library.
#pragma once

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
    return 0;
}

}  // namespace rpclib
