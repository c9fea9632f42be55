// The route request and answer, shared by the omega route lookup and the
// alpha program's copy of the same procedure. Internal to the libraries.
#pragma once

#include "omega.h"

namespace rpclib {

// A version-0 request: number cut to 10 characters, qualifier to 20.
o_apply_route_new_i route_request(const char *number, const char *qualifier) noexcept;

// The answer's error, or 0 after copying the alpha host (35), user (10) and
// id (10) into the caller's buffers.
int route_result(const o_apply_route_new_o &answer, char *host, char *user, char *id) noexcept;

}  // namespace rpclib
