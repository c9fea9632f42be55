// The alpha client handles: a caller's own, or one process-wide default that
// is opened on first use at the default alpha host and let go after a failed
// call, so that the next call connects anew (handles.hpp says when it is
// destroyed).
#include "a_lib.h"
#include "handles.hpp"

extern "C" {
CLIENT *alpha_clnt_var = nullptr;
}

namespace rpclib {

DefaultHandle &alpha_default() noexcept
{
    static DefaultHandle d(alpha_clnt_var);
    return d;
}

int a_resolve(CLIENT *given, CLIENT **use) noexcept
{
    return alpha_default().resolve(given, use, a_open_client_lib);
}

}  // namespace rpclib

extern "C" {

int a_open_client_lib(CLIENT **clnt, const char *host) noexcept
{
    const bool explicit_host = host != nullptr && *host != '\0';
    // The default handle only ever talks to the default host.
    if (explicit_host && clnt == nullptr)
        return RPCLIB_NOT_SENT;
    const char *h = explicit_host ? host : alphahost();
    CLIENT *c = clnt_create(h, rpc_prog_nr(ALPHA_PROGRAM_BASE), ALPHAVERS, rpc_transport());
    if (c == nullptr)
        return RPCLIB_A_NO_CLIENT;
    if (clnt != nullptr)
        *clnt = c;
    else
        rpclib::alpha_default().replace(c);
    return RPCLIB_OK;
}

int a_close_client_lib(CLIENT *clnt) noexcept
{
    return rpclib::alpha_default().close(clnt) ? RPCLIB_OK : RPCLIB_A_NO_CLIENT;
}

int a_clnt(CLIENT **clnt) noexcept
{
    return rpclib::alpha_default().hand_out(clnt, a_open_client_lib);
}

void a_clear(CLIENT *clnt) noexcept { rpclib::alpha_default().clear(clnt); }

}  // extern "C"
