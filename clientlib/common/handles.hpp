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

namespace rpclib {

class DefaultHandle {
public:
    explicit DefaultHandle(CLIENT *&var) noexcept : var_(var) {}

    CLIENT *get() const noexcept { return var_; }
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
    void hand_out() noexcept { handed_out_ = var_ != nullptr; }

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
