// Wrappers of the alpha usrconf and event log procedures. The usrconf ones
// speak both generations of the server: the new procedures first, the old
// ones only when the server answers that the new one does not exist. The
// rule around each call is rpclib::Alpha's (call.hpp).
#include <cstring>

#include "a_family.hpp"

using namespace alpha;

namespace {
constexpr size_t kMaxLogBytes = 80;  // a zeile, its NUL included

bool proc_unavailable(CLIENT *c) noexcept
{
    rpc_err err{};
    clnt_geterr(c, &err);
    return err.re_status == RPC_PROCUNAVAIL;
}

a_usrconf_new_i new_key(const char *userid, const char *key) noexcept
{
    a_usrconf_new_i req{};
    req.version = 1;
    my_strncpy(req.a_usrconf_new_i_u.v1.userid, userid, 10);
    my_strncpy(req.a_usrconf_new_i_u.v1.key, key, 30);
    return req;
}

a_usrconf_i old_key(const char *userid, const char *key) noexcept
{
    a_usrconf_i req{};
    my_strncpy(req.userid, userid, 10);
    my_strncpy(req.key, key, 10);
    return req;
}

// The end of a new-generation call without an answer: the old procedure's
// exchange on the same handle (made by `ask_old`) when the server lacks the
// new one, else a failed call.
template <class AskOld>
auto or_old_generation(AskOld ask_old) noexcept
{
    return [ask_old](CLIENT *given, CLIENT *used) noexcept -> int {
        if (!proc_unavailable(used))
            return Alpha::failed(given, used);
        return ask_old(given, used);
    };
}
}  // namespace

extern "C" {

int a_get_usrconf_lib(CLIENT *clnt, const char *userid, const char *key, char *value) noexcept
{
    a_usrconf_new_i req = new_key(userid, key);
    auto ask_old = [=](CLIENT *given, CLIENT *used) noexcept -> int {
        if (key != nullptr && std::strlen(key) > 10)
            return RPCLIB_NOT_SENT;
        a_usrconf_i old = old_key(userid, key);
        return Alpha::exchange(given, used, a_get_usrconf_1, &old, xdr_str80,
                               [value](const str80 &r) {
                                   if (r[0] == '\0')
                                       return RPCLIB_NO_ENTRY;
                                   if (value != nullptr)
                                       my_strncpy(value, r, 80);
                                   return RPCLIB_OK;
                               });
    };
    return Alpha::call(
        clnt, a_get_usrconf_new_1, &req, xdr_a_get_usrconf_new_o,
        [value](const a_get_usrconf_new_o &r) -> int {
            if (r.error == 0 && value != nullptr)
                my_strncpy(value, r.value, 80);
            return r.error;
        },
        [value] {
            if (value != nullptr)
                value[0] = '\0';
            return RPCLIB_OK;
        },
        or_old_generation(ask_old));
}

int a_put_usrconf_lib(CLIENT *clnt, const char *userid, const char *key, const char *value) noexcept
{
    a_usrconf_new req{};
    req.version = 1;
    my_strncpy(req.a_usrconf_new_u.v1.userid, userid, 10);
    my_strncpy(req.a_usrconf_new_u.v1.key, key, 30);
    my_strncpy(req.a_usrconf_new_u.v1.value, value, 80);
    auto ask_old = [=](CLIENT *given, CLIENT *used) noexcept {
        // The old record has room for 10 key characters; a longer key is
        // stored under its first 10, as the old servers always did.
        a_put_usrconf_i old{};
        my_strncpy(old.userid, userid, 10);
        my_strncpy(old.key, key, 10);
        my_strncpy(old.value, value, 80);
        return Alpha::exchange(given, used, a_put_usrconf_1, &old, xdr_bool, yes_no);
    };
    return Alpha::call(clnt, a_put_usrconf_new_1, &req, xdr_bool, yes_no, rpclib::go_on,
                       or_old_generation(ask_old));
}

int a_del_usrconf_lib(CLIENT *clnt, const char *userid, const char *key) noexcept
{
    a_usrconf_new_i req = new_key(userid, key);
    auto ask_old = [=](CLIENT *given, CLIENT *used) noexcept {
        a_usrconf_i old = old_key(userid, key);
        return Alpha::exchange(given, used, a_del_usrconf_1, &old, xdr_bool, yes_no);
    };
    return Alpha::call(clnt, a_del_usrconf_new_1, &req, xdr_bool, yes_no, rpclib::go_on,
                       or_old_generation(ask_old));
}

int a_a_log_lib(CLIENT *clnt, const char *text) noexcept
{
    const size_t len = text != nullptr ? std::strlen(text) + 1 : 0;
    zeile line{};
    line.zeile_len = static_cast<u_int>(len);
    line.zeile_val = const_cast<char *>(text);
    // The line's codec refuses more than 80 bytes, but only after the RPC
    // layer has begun the call; refusing here sends nothing at all, and
    // the handle, which did nothing wrong, stays. The answer is not read.
    return Alpha::call(
        clnt, a_a_log_1, &line, xdr_bool, [](const bool_t &) { return RPCLIB_OK; },
        [text, len] {
            return text == nullptr || len > kMaxLogBytes ? RPCLIB_A_CALL_FAILED : RPCLIB_OK;
        });
}

}  // extern "C"
