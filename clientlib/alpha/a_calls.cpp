// Wrappers of the alpha usrconf and event log procedures. The usrconf ones
// speak both generations of the server: the new procedures first, the old
// ones only when the server answers that the new one does not exist.
#include <cstring>

#include "a_lib.h"
#include "answer.hpp"
#include "handles.hpp"

using rpclib::answer;

namespace {
constexpr int kCallFailed = 16;
constexpr int kKeyTooLong = 24;
constexpr int kNoEntry = 25;
constexpr int kRefused = 34;
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

// The answer of a write or delete of either generation: 0, 34, or 16 when
// neither call got through.
int yes_no(CLIENT *given, CLIENT *c, bool_t *answered) noexcept
{
    auto res = answer(answered, xdr_bool);
    if (!res) {
        rpclib::alpha_default().failed(given, c);
        return kCallFailed;
    }
    return *res ? 0 : kRefused;
}
}  // namespace

extern "C" {

int a_get_usrconf_lib(CLIENT *clnt, const char *userid, const char *key, char *value) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::a_resolve(clnt, &c))
        return rc;
    a_usrconf_new_i req = new_key(userid, key);
    if (value != nullptr)
        value[0] = '\0';
    {
        auto res = answer(a_get_usrconf_new_1(&req, c), xdr_a_get_usrconf_new_o);
        if (res) {
            if (res->error == 0 && value != nullptr)
                my_strncpy(value, res->value, 80);
            return res->error;
        }
    }
    if (proc_unavailable(c)) {
        if (key != nullptr && std::strlen(key) > 10)
            return kKeyTooLong;
        a_usrconf_i old = old_key(userid, key);
        auto res = answer(a_get_usrconf_1(&old, c), xdr_str80);
        if (res) {
            if ((*res)[0] == '\0')
                return kNoEntry;
            if (value != nullptr)
                my_strncpy(value, *res, 80);
            return 0;
        }
    }
    rpclib::alpha_default().failed(clnt, c);
    return kCallFailed;
}

int a_put_usrconf_lib(CLIENT *clnt, const char *userid, const char *key,
                      const char *value) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::a_resolve(clnt, &c))
        return rc;
    a_usrconf_new req{};
    req.version = 1;
    my_strncpy(req.a_usrconf_new_u.v1.userid, userid, 10);
    my_strncpy(req.a_usrconf_new_u.v1.key, key, 30);
    my_strncpy(req.a_usrconf_new_u.v1.value, value, 80);
    bool_t *res = a_put_usrconf_new_1(&req, c);
    if (res == nullptr && proc_unavailable(c)) {
        // The old record has room for 10 key characters; a longer key is
        // stored under its first 10, as the old servers always did.
        a_put_usrconf_i old{};
        my_strncpy(old.userid, userid, 10);
        my_strncpy(old.key, key, 10);
        my_strncpy(old.value, value, 80);
        res = a_put_usrconf_1(&old, c);
    }
    return yes_no(clnt, c, res);
}

int a_del_usrconf_lib(CLIENT *clnt, const char *userid, const char *key) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::a_resolve(clnt, &c))
        return rc;
    a_usrconf_new_i req = new_key(userid, key);
    bool_t *res = a_del_usrconf_new_1(&req, c);
    if (res == nullptr && proc_unavailable(c)) {
        a_usrconf_i old = old_key(userid, key);
        res = a_del_usrconf_1(&old, c);
    }
    return yes_no(clnt, c, res);
}

int a_a_log_lib(CLIENT *clnt, const char *text) noexcept
{
    CLIENT *c = nullptr;
    if (int rc = rpclib::a_resolve(clnt, &c))
        return rc;
    const size_t len = text != nullptr ? std::strlen(text) + 1 : 0;
    // The line's codec refuses more than 80 bytes, but only after the RPC
    // layer has begun the call; refusing here sends nothing at all, and
    // the handle, which did nothing wrong, stays.
    if (text == nullptr || len > kMaxLogBytes)
        return kCallFailed;
    zeile line{};
    line.zeile_len = static_cast<u_int>(len);
    line.zeile_val = const_cast<char *>(text);
    auto res = answer(a_a_log_1(&line, c), xdr_bool);
    if (!res) {
        rpclib::alpha_default().failed(clnt, c);
        return kCallFailed;
    }
    return 0;
}

}  // extern "C"
