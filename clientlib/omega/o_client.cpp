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
    *use = given;
    if (given != nullptr)
        return 0;
    int rc = 0;
    if (omega_clnt_var == nullptr)
        rc = o_open_client_lib(nullptr, "");
    *use = omega_clnt_var;
    return rc;
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
    return c != nullptr ? 0 : 1;
}

int o_close_client_lib(CLIENT *clnt) noexcept
{
    if (clnt != nullptr) {
        // Closing the default by its pointer leaves no dangling default.
        if (clnt == omega_clnt_var)
            rpclib::omega_default().drop();
        clnt_destroy(clnt);
        return 0;
    }
    if (omega_clnt_var != nullptr) {
        CLIENT *c = omega_clnt_var;
        rpclib::omega_default().drop();
        clnt_destroy(c);
        return 0;
    }
    return 1;
}

int o_clnt(CLIENT **clnt) noexcept
{
    if (clnt != nullptr && *clnt != nullptr)
        return 0;
    CLIENT *c = nullptr;
    int rc = rpclib::o_resolve(nullptr, &c);
    if (clnt != nullptr) {
        *clnt = c;
        rpclib::omega_default().hand_out();
    }
    return rc;
}

void o_clear(CLIENT *clnt) noexcept
{
    if (clnt != nullptr && clnt == omega_clnt_var)
        rpclib::omega_default().drop();
}

}  // extern "C"
