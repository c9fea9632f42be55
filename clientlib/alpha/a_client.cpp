// The alpha client handles: a caller's own, or one process-wide default that
// is opened on first use at the default alpha host and forgotten after a
// failed call, so that the next call connects anew.
#include "a_lib.h"

namespace {
constexpr int kNoClient = 2;
constexpr int kBadRequest = 24;
}  // namespace

extern "C" {

CLIENT *alpha_clnt_var = nullptr;

int a_open_client_lib(CLIENT **clnt, const char *host) noexcept
{
    const bool explicit_host = host != nullptr && *host != '\0';
    // The default handle only ever talks to the default host.
    if (explicit_host && clnt == nullptr)
        return kBadRequest;
    const char *h = explicit_host ? host : alphahost();
    CLIENT *c = clnt_create(h, rpc_prog_nr(ALPHA_PROGRAM_BASE), ALPHAVERS, rpc_transport());
    if (c == nullptr)
        return kNoClient;
    if (clnt != nullptr)
        *clnt = c;
    else
        alpha_clnt_var = c;
    return 0;
}

int a_close_client_lib(CLIENT *clnt) noexcept
{
    if (clnt != nullptr) {
        clnt_destroy(clnt);
        return 0;
    }
    if (alpha_clnt_var != nullptr) {
        clnt_destroy(alpha_clnt_var);
        alpha_clnt_var = nullptr;
        return 0;
    }
    return kNoClient;
}

int a_clnt(CLIENT **clnt) noexcept
{
    if (clnt != nullptr && *clnt != nullptr)
        return 0;
    int rc = 0;
    if (alpha_clnt_var == nullptr)
        rc = a_open_client_lib(nullptr, nullptr);
    if (clnt != nullptr)
        *clnt = alpha_clnt_var;
    return rc;
}

void a_clear(CLIENT *clnt) noexcept
{
    if (clnt != nullptr && clnt == alpha_clnt_var)
        alpha_clnt_var = nullptr;
}

}  // extern "C"
