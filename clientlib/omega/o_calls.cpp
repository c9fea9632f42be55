// Wrappers of the omega route, configuration and compatibility procedures.
// Each one: resolve the handle, build a zeroed request with bounded copies,
// call the stub, on no answer forget the default handle and return 22,
// otherwise evaluate, copy out and release the answer.
#include <cstring>

#include "answer.hpp"
#include "handles.hpp"
#include "o_lib.h"
#include "o_route.hpp"

using rpclib::answer;

namespace {
constexpr int kCallFailed = 22;
constexpr int kNoEntry = 25;
constexpr int kEmptyAnswer = 32;
}  // namespace

extern "C" {

int o_apply_route_new_lib(CLIENT *clnt, const char *number, const char *qualifier,
                          char *host, char *user, char *id) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    o_apply_route_new_i req = rpclib::route_request(number, qualifier);
    auto res = answer(o_apply_route_new_1(&req, c), xdr_o_apply_route_new_o);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    return rpclib::route_result(*res, host, user, id);
}

int o_get_ron_lib(CLIENT *clnt, const char *route_name, o_route_new *route) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    o_get_route_new_i req{};
    req.version = 0;
    my_strncpy(req.o_get_route_new_i_u.v0.route_name, route_name, 10);
    auto res = answer(o_get_route_new_1(&req, c), xdr_o_get_route_new_o);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    if (res->error != 0)
        return res->error;
    if (res->route.version != 0)
        return kEmptyAnswer;
    if (route != nullptr)
        std::memcpy(route, &res->route, sizeof *route);
    return 0;
}

int o_put_ron_lib(CLIENT *clnt, const char *route_name, const char *descr,
                  const char *number, const char *qualifier, const char *target_host,
                  const char *target_user, const char *target_id, const char *target_text,
                  long target_value) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    o_route_new req{};
    req.version = 0;
    o_route_v0 &r = req.o_route_new_u.v0;
    my_strncpy(r.route_name, route_name, 10);
    my_strncpy(r.descr, descr, 30);
    my_strncpy(r.number, number, 10);
    my_strncpy(r.qualifier, qualifier, 20);
    my_strncpy(r.target_host, target_host, 35);
    my_strncpy(r.target_user, target_user, 10);
    my_strncpy(r.target_id, target_id, 10);
    my_strncpy(r.target_text, target_text, 35);
    r.target_value = target_value;
    auto res = answer(o_put_route_new_1(&req, c), xdr_short);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    return *res;
}

int o_del_ron_lib(CLIENT *clnt, const char *route_name) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    o_del_route_new_i req{};
    req.version = 0;
    my_strncpy(req.o_del_route_new_i_u.v0.route_name, route_name, 10);
    auto res = answer(o_del_route_new_1(&req, c), xdr_short);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    return *res;
}

int o_get_config_lib(CLIENT *clnt, const char *key, char *value) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    str10 k{};
    my_strncpy(k, key, 10);
    auto res = answer(o_get_config_1(&k, c), xdr_str80);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    if ((*res)[0] == '\0')
        return kNoEntry;
    my_strncpy(value, *res, 80);
    return 0;
}

int o_put_config_lib(CLIENT *clnt, const char *key, const char *value) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    o_config req{};
    my_strncpy(req.key, key, 10);
    my_strncpy(req.value, value, 80);
    req.flag = FALSE;
    auto res = answer(o_put_config_1(&req, c), xdr_bool);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    return *res ? 0 : kCallFailed;
}

int o_del_config_lib(CLIENT *clnt, const char *key) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    str10 k{};
    my_strncpy(k, key, 10);
    auto res = answer(o_del_config_1(&k, c), xdr_bool);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    return *res ? 0 : kNoEntry;
}

int o_get_compat_lib(CLIENT *clnt, long *first, long *second) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::o_resolve(clnt, &c))
        return rc;
    auto res = answer(o_get_compat_1(nullptr, c), xdr_compat_o);
    if (!res) {
        rpclib::omega_default().failed(clnt, c);
        return kCallFailed;
    }
    if (res->first == 0)
        return kEmptyAnswer;
    if (first != nullptr)
        *first = res->first;
    if (second != nullptr)
        *second = res->second;
    return 0;
}

}  // extern "C"
