// The omega client handles: a caller's own, or one process-wide default that
// is opened on first use and forgotten after a failed call, so that the next
// call connects anew.
#include "o_lib.h"

extern "C" {

CLIENT *omega_clnt_var = nullptr;

int o_open_client_lib(CLIENT **clnt, const char *host) noexcept
{
    const char *h = (host != nullptr && *host != '\0') ? host : omegahost();
    CLIENT *c = clnt_create(h, rpc_prog_nr(OMEGA_PROGRAM_BASE), OMEGAVERS, rpc_transport());
    if (clnt != nullptr)
        *clnt = c;
    else
        omega_clnt_var = c;
    return c != nullptr ? 0 : 1;
}

int o_close_client_lib(CLIENT *clnt) noexcept
{
    if (clnt != nullptr) {
        clnt_destroy(clnt);
        return 0;
    }
    if (omega_clnt_var != nullptr) {
        clnt_destroy(omega_clnt_var);
        omega_clnt_var = nullptr;
        return 0;
    }
    return 1;
}

int o_clnt(CLIENT **clnt) noexcept
{
    if (clnt != nullptr && *clnt != nullptr)
        return 0;
    int rc = 0;
    if (omega_clnt_var == nullptr)
        rc = o_open_client_lib(nullptr, "");
    if (clnt != nullptr)
        *clnt = omega_clnt_var;
    return rc;
}

void o_clear(CLIENT *clnt) noexcept
{
    if (clnt != nullptr && clnt == omega_clnt_var)
        omega_clnt_var = nullptr;
}

}  // extern "C"
