// The omega client handles: a caller's own, or one process-wide default that
// is opened on first use and let go after a failed call, so that the next
// call connects anew (handles.hpp says when it is destroyed).
#include "handles.hpp"
#include "o_lib.h"

extern "C" {
CLIENT *omega_clnt_var = nullptr;
}

namespace rpclib {

DefaultHandle &omega_default() noexcept
{
    static DefaultHandle d(omega_clnt_var);
    return d;
}

int o_resolve(CLIENT *given, CLIENT **use) noexcept
{
    return omega_default().resolve(given, use, o_open_client_lib);
}

}  // namespace rpclib

extern "C" {

int o_open_client_lib(CLIENT **clnt, const char *host) noexcept
{
    const char *h = (host != nullptr && *host != '\0') ? host : omegahost();
    CLIENT *c = clnt_create(h, rpc_prog_nr(OMEGA_PROGRAM_BASE), OMEGAVERS, rpc_transport());
    if (clnt != nullptr)
        *clnt = c;
    else
        rpclib::omega_default().replace(c);
    return c != nullptr ? RPCLIB_OK : RPCLIB_O_NO_CLIENT;
}

int o_close_client_lib(CLIENT *clnt) noexcept
{
    return rpclib::omega_default().close(clnt) ? RPCLIB_OK : RPCLIB_O_NO_CLIENT;
}

int o_clnt(CLIENT **clnt) noexcept
{
    return rpclib::omega_default().hand_out(clnt, o_open_client_lib);
}

void o_clear(CLIENT *clnt) noexcept { rpclib::omega_default().clear(clnt); }

}  // extern "C"
