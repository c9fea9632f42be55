// The rules for one server's process-wide default handle, shared by the
// omega and alpha libraries. Internal to the client libraries.
//
// A wrapper called without a handle resolves the default itself; when its
// call fails, the default is destroyed as it is forgotten, so that a
// flapping server costs no descriptor. A default that o_clnt/a_clnt handed
// to a caller may still be held there: it is only forgotten. A handle the
// caller passed in is never destroyed.
#pragma once

#include <rpc/rpc.h>

#include "rpccommon.h"

namespace rpclib {

class DefaultHandle {
public:
    explicit DefaultHandle(CLIENT *&var) noexcept : var_(var) {}

    // A wrapper's handle: `given`, or the default, opened at the default
    // host through `open` when there is none. 0, or open's code.
    int resolve(CLIENT *given, CLIENT **use, int (*open)(CLIENT **, const char *) noexcept) noexcept
    {
        *use = given;
        if (given != nullptr)
            return RPCLIB_OK;
        int rc = RPCLIB_OK;
        if (var_ == nullptr)
            rc = open(nullptr, nullptr);
        *use = var_;
        return rc;
    }
    // Makes c the default; the one it replaces is released as by forget().
    void replace(CLIENT *c) noexcept
    {
        forget();
        var_ = c;
    }
    // The default is no longer the library's: destroyed unless a caller
    // was given it.
    void forget() noexcept
    {
        if (var_ != nullptr && !handed_out_)
            clnt_destroy(var_);
        var_ = nullptr;
        handed_out_ = false;
    }
    // Forgotten without destroying, for whoever holds it.
    void drop() noexcept
    {
        var_ = nullptr;
        handed_out_ = false;
    }
    // o_clnt/a_clnt: a caller's handle in *clnt stays; otherwise the
    // default (opened through `open` when needed) is copied into *clnt and
    // from then on only forgotten. 0, or open's code.
    int hand_out(CLIENT **clnt, int (*open)(CLIENT **, const char *) noexcept) noexcept
    {
        if (clnt != nullptr && *clnt != nullptr)
            return RPCLIB_OK;
        CLIENT *c = nullptr;
        int rc = resolve(nullptr, &c, open);
        if (clnt != nullptr) {
            *clnt = c;
            handed_out_ = var_ != nullptr;
        }
        return rc;
    }
    // o_close_client_lib/a_close_client_lib: destroys clnt, or the default
    // when clnt is NULL; the default is forgotten also when clnt is it, so
    // that none dangles. False when there is nothing to close.
    bool close(CLIENT *clnt) noexcept
    {
        if (clnt == nullptr)
            clnt = var_;
        if (clnt == nullptr)
            return false;
        if (clnt == var_)
            drop();
        clnt_destroy(clnt);
        return true;
    }
    // o_clear/a_clear: forgets the default, undestroyed, when clnt is it.
    void clear(CLIENT *clnt) noexcept
    {
        if (clnt != nullptr && clnt == var_)
            drop();
    }

    // After a failed call through `used`, which the wrapper got from
    // `given` (null: the default, resolved by the wrapper).
    void failed(CLIENT *given, CLIENT *used) noexcept
    {
        if (used == nullptr || used != var_)
            return;
        if (given == nullptr)
            forget();
        else
            drop();
    }

private:
    CLIENT *&var_;
    bool handed_out_ = false;
};

// The omega and alpha defaults (o_client.cpp, a_client.cpp).
DefaultHandle &omega_default() noexcept;
DefaultHandle &alpha_default() noexcept;

// A wrapper's handle: `given`, or the default (opened when needed). 0, or
// the library's code when the default cannot be made.
int o_resolve(CLIENT *given, CLIENT **use) noexcept;
int a_resolve(CLIENT *given, CLIENT **use) noexcept;

}  // namespace rpclib
