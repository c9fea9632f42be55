// Wrappers of the omega route, configuration and compatibility procedures.
// Each one fills its request with bounded copies and says what the answer
// means; the rule around the call is rpclib::Omega's (call.hpp).
#include <cstring>

#include "call.hpp"
#include "o_lib.h"
#include "o_route.hpp"

using rpclib::Omega;

extern "C" {

int o_apply_route_new_lib(CLIENT *clnt, const char *number, const char *qualifier, char *host,
                          char *user, char *id) noexcept
{
    return rpclib::apply_route<Omega>(clnt, o_apply_route_new_1, number, qualifier, host, user, id);
}

int o_get_ron_lib(CLIENT *clnt, const char *route_name, o_route_new *route) noexcept
{
    o_get_route_new_i req{};
    req.version = 0;
    my_strncpy(req.o_get_route_new_i_u.v0.route_name, route_name, 10);
    return Omega::call(clnt, o_get_route_new_1, &req, xdr_o_get_route_new_o,
                       [route](const o_get_route_new_o &r) -> int {
                           if (r.error != 0)
                               return r.error;
                           if (r.route.version != 0)
                               return RPCLIB_EMPTY_ANSWER;
                           if (route != nullptr)
                               std::memcpy(route, &r.route, sizeof *route);
                           return RPCLIB_OK;
                       });
}

int o_put_ron_lib(CLIENT *clnt, const char *route_name, const char *descr, const char *number,
                  const char *qualifier, const char *target_host, const char *target_user,
                  const char *target_id, const char *target_text, long target_value) noexcept
{
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
    return Omega::call(clnt, o_put_route_new_1, &req, xdr_short, rpclib::status_of);
}

int o_del_ron_lib(CLIENT *clnt, const char *route_name) noexcept
{
    o_del_route_new_i req{};
    req.version = 0;
    my_strncpy(req.o_del_route_new_i_u.v0.route_name, route_name, 10);
    return Omega::call(clnt, o_del_route_new_1, &req, xdr_short, rpclib::status_of);
}

int o_get_config_lib(CLIENT *clnt, const char *key, char *value) noexcept
{
    str10 k{};
    my_strncpy(k, key, 10);
    return Omega::call(clnt, o_get_config_1, &k, xdr_str80, [value](const str80 &r) {
        if (r[0] == '\0')
            return RPCLIB_NO_ENTRY;
        my_strncpy(value, r, 80);
        return RPCLIB_OK;
    });
}

int o_put_config_lib(CLIENT *clnt, const char *key, const char *value) noexcept
{
    o_config req{};
    my_strncpy(req.key, key, 10);
    my_strncpy(req.value, value, 80);
    req.flag = FALSE;
    return Omega::call(clnt, o_put_config_1, &req, xdr_bool,
                       [](const bool_t &done) { return done ? RPCLIB_OK : RPCLIB_O_CALL_FAILED; });
}

int o_del_config_lib(CLIENT *clnt, const char *key) noexcept
{
    str10 k{};
    my_strncpy(k, key, 10);
    return Omega::call(clnt, o_del_config_1, &k, xdr_bool,
                       [](const bool_t &done) { return done ? RPCLIB_OK : RPCLIB_NO_ENTRY; });
}

int o_get_compat_lib(CLIENT *clnt, long *first, long *second) noexcept
{
    return rpclib::get_compat<Omega>(clnt, o_get_compat_1, first, second);
}

}  // extern "C"
