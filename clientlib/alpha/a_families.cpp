// The alpha wrappers of the whole program, family by family. Each one only
// fills its request and picks the family's evaluation (a_family.hpp); the
// rule around the call is rpclib::Alpha's (call.hpp).
#include <cstdio>
#include <cstring>

#include "a_family.hpp"
#include "o_route.hpp"

using namespace alpha;

namespace alpha {

int new_only_failed(CLIENT *given, CLIENT *used) noexcept
{
    rpc_err err{};
    clnt_geterr(used, &err);
    if (err.re_status == RPC_PROCUNAVAIL)
        return RPCLIB_A_NO_NEW_PROCEDURE;
    return Alpha::failed(given, used);
}

}  // namespace alpha

namespace {

// The new-only requests name the record version the caller reads: anything
// but 1 is refused before the call.
auto suitable_version(int version) noexcept
{
    return [version] { return version == 1 ? RPCLIB_OK : RPCLIB_A_WRONG_LEVEL; };
}

// The document records are asked for by user and number; a number of 0 in
// the answer means there is no such document.
template <class Req, class Rec>
int numbered_record(CLIENT *clnt, Rec *(*stub)(Req *, CLIENT *), bool_t (*xdr_rec)(XDR *, Rec *),
                    const char *userid, long nr, Rec *rec) noexcept
{
    auto req = for_user(userid, Req{{}, nr});
    return Alpha::call(clnt, stub, &req, xdr_rec,
                       record(
                           rec, [](const Rec &r) { return r.nr != 0; }, RPCLIB_NO_ENTRY));
}

// Servers from interface level 10 on keep fax lines only as new records.
constexpr long kFirstNewFaxlLevel = 10;

// 0 when the server's interface level lies on the wrapper's side of
// kFirstNewFaxlLevel, else 23 or the failure of the level query.
int faxl_generation(CLIENT *clnt, bool want_new) noexcept
{
    long first = 0;
    long level = 0;
    if (int rc = a_get_compat_lib(clnt, &first, &level))
        return rc;
    return (level >= kFirstNewFaxlLevel) == want_new ? RPCLIB_OK : RPCLIB_A_WRONG_LEVEL;
}

}  // namespace

extern "C" {

// --- yes/no -------------------------------------------------------------

int a_cp_dok_lib(CLIENT *clnt, const char *userid, short box, long nr, long target) noexcept
{
    auto req = for_user(userid, a_cp_dok_i{{}, box, nr, target});
    return Alpha::call(clnt, a_cp_dok_1, &req, xdr_bool, yes_no);
}

int a_cp_page_lib(CLIENT *clnt, const char *userid, short box, long nr, short page, long target_nr,
                  short target_page) noexcept
{
    auto req = for_user(userid, a_cp_page_i{{}, box, nr, page, target_nr, target_page});
    return Alpha::call(clnt, a_cp_page_1, &req, xdr_bool, yes_no);
}

int a_del_dok_lib(CLIENT *clnt, const char *userid, short box, long nr, bool_t flag) noexcept
{
    auto req = for_user(userid, a_del_dok_i{{}, box, nr, flag});
    return Alpha::call(clnt, a_del_dok_1, &req, xdr_bool, yes_no);
}

int a_del_page_lib(CLIENT *clnt, const char *userid, long nr, short page) noexcept
{
    auto req = for_user(userid, a_del_page_i{{}, nr, page});
    return Alpha::call(clnt, a_del_page_1, &req, xdr_bool, yes_no);
}

int a_ins_page_lib(CLIENT *clnt, const char *userid, long nr, short page) noexcept
{
    auto req = for_user(userid, a_ins_page_i{{}, nr, page});
    return Alpha::call(clnt, a_ins_page_1, &req, xdr_bool, yes_no);
}

int a_put_bif_lib(CLIENT *clnt, const char *userid, short box, long nr, bool_t flag) noexcept
{
    auto req = for_user(userid, a_put_bif_i{{}, box, nr, flag});
    return Alpha::call(clnt, a_put_bif_1, &req, xdr_bool, yes_no);
}

int a_forward_lib(CLIENT *clnt, const char *userid, short box, long nr, const char *host,
                  const char *target, const char *target_id, short kind) noexcept
{
    auto req = for_user(userid, a_forward_i{{}, box, nr, {}, {}, {}, kind});
    my_strncpy(req.host, host, 35);
    my_strncpy(req.target, target, 10);
    my_strncpy(req.target_id, target_id, 10);
    return Alpha::call(clnt, a_forward_1, &req, xdr_bool, yes_no);
}

int a_put_log_lib(CLIENT *clnt, const char *userid, short box, long nr, const char *text) noexcept
{
    auto req = for_user(userid, a_put_log_i{{}, box, nr, {}});
    static char empty[] = "";
    const char *t = text != nullptr ? text : empty;
    req.text.opaque_string_len = static_cast<u_int>(std::strlen(t) + 1);  // the NUL travels too
    req.text.opaque_string_val = const_cast<char *>(t);
    return Alpha::call(clnt, a_put_log_1, &req, xdr_bool, yes_no);
}

// --- copy-out -----------------------------------------------------------

int a_bif_lib(CLIENT *clnt, const char *userid, short box, bool_t *answer) noexcept
{
    auto req = for_user(userid, a_bif_i{{}, box});
    return Alpha::call(clnt, a_bif_1, &req, xdr_bool, [answer](const bool_t &r) noexcept {
        store(answer, r);
        return RPCLIB_OK;
    });
}

int a_mk_dok_lib(CLIENT *clnt, const char *userid, long *nr) noexcept
{
    str10 req{};
    my_strncpy(req, userid, 10);
    return Alpha::call(clnt, a_mk_dok_1, &req, xdr_slong, [nr](const long &r) noexcept -> int {
        if (r == 0)
            return RPCLIB_REFUSED;
        store(nr, r);
        return RPCLIB_OK;
    });
}

int a_exc_bif_lib(CLIENT *clnt, const char *userid, short box, long nr, bool_t flag,
                  bool_t *value) noexcept
{
    auto req = for_user(userid, a_exc_bif_i{{}, box, nr, flag});
    return Alpha::call(clnt, a_exc_bif_1, &req, xdr_a_exc_bif_o,
                       [value](const a_exc_bif_o &r) noexcept -> int {
                           if (!r.ok)
                               return RPCLIB_REFUSED;
                           store(value, r.value);
                           return RPCLIB_OK;
                       });
}

int a_exc_status_lib(CLIENT *clnt, const char *userid, short box, long nr, short state, bool_t flag,
                     bool_t *value) noexcept
{
    auto req = for_user(userid, a_exc_status_i{{}, box, nr, state, flag});
    return Alpha::call(clnt, a_exc_status_1, &req, xdr_a_exc_status_o,
                       [value](const a_exc_status_o &r) noexcept -> int {
                           if (r.error == 0)
                               store(value, r.value);
                           return r.error;
                       });
}

int a_get_compat_lib(CLIENT *clnt, long *first, long *level) noexcept
{
    return rpclib::get_compat<Alpha>(clnt, a_get_compat_1, first, level);
}

// --- record -------------------------------------------------------------

int a_get_config_lib(CLIENT *clnt, const char *key, short kind, char *value) noexcept
{
    a_get_config_i req{};
    my_strncpy(req.key, key, 10);
    req.kind = kind;
    return Alpha::call(clnt, a_get_config_1, &req, xdr_str80,
                       [value](const str80 &r) noexcept -> int {
                           if (r[0] == '\0')
                               return RPCLIB_NO_ENTRY;
                           if (value != nullptr)
                               my_strncpy(value, r, 80);
                           return RPCLIB_OK;
                       });
}

int a_get_e_rec_lib(CLIENT *clnt, const char *userid, long nr, a_e_rec *rec) noexcept
{
    return numbered_record(clnt, a_get_e_rec_1, xdr_a_e_rec, userid, nr, rec);
}

int a_get_p_rec_lib(CLIENT *clnt, const char *userid, long nr, a_p_rec *rec) noexcept
{
    return numbered_record(clnt, a_get_p_rec_1, xdr_a_p_rec, userid, nr, rec);
}

int a_get_s_rec_lib(CLIENT *clnt, const char *userid, long nr, a_s_rec *rec) noexcept
{
    return numbered_record(clnt, a_get_s_rec_1, xdr_a_s_rec, userid, nr, rec);
}

int a_get_user_lib(CLIENT *clnt, const char *userid, a_user_rec *rec) noexcept
{
    str10 req{};
    my_strncpy(req, userid, 10);
    return Alpha::call(
        clnt, a_get_user_1, &req, xdr_a_user_rec,
        record(
            rec, [](const a_user_rec &r) { return r.userid[0] != '\0'; }, RPCLIB_A_NO_USER));
}

int a_get_o_user_lib(CLIENT *clnt, const char *host, const char *userid, o_user *rec) noexcept
{
    a_get_o_user_i req{};
    my_strncpy(req.host, host, 35);
    my_strncpy(req.userid, userid, 10);
    return Alpha::call(
        clnt, a_get_o_user_1, &req, xdr_o_user_rec,
        record(
            rec, [](const o_user &r) { return r.alpha_user[0] != '\0'; }, RPCLIB_A_NO_USER));
}

// --- hand-over ----------------------------------------------------------

int a_get_eb_lib(CLIENT *clnt, long nr, short box, long from, long max, a_get_e_o *out) noexcept
{
    a_get_eb_i req{nr, box, from, max};
    return Alpha::call(clnt, a_get_eb_1, &req, xdr_a_get_e_o,
                       hand_over_list(out, &a_get_e_o::count));
}

int a_get_pb_lib(CLIENT *clnt, long nr, short box, long from, long max, a_get_p_o *out) noexcept
{
    a_get_pb_i req{nr, box, from, max};
    return Alpha::call(clnt, a_get_pb_1, &req, xdr_a_get_p_o,
                       hand_over_list(out, &a_get_p_o::count));
}

int a_get_sb_lib(CLIENT *clnt, long nr, short box, long from, long max, a_get_s_o *out) noexcept
{
    a_get_sb_i req{nr, box, from, max};
    return Alpha::call(clnt, a_get_sb_1, &req, xdr_a_get_s_o,
                       hand_over_list(out, &a_get_s_o::count));
}

int a_get_usrconf_ll_lib(CLIENT *clnt, const char *userid, const char *key, long max, bool_t flag,
                         a_usrconf_ll_o *out) noexcept
{
    auto req = for_user(userid, a_usrconf_ll_i{{}, {}, max, flag});
    my_strncpy(req.key, key, 10);
    return Alpha::call(clnt, a_get_usrconf_ll_1, &req, xdr_a_usrconf_ll_o,
                       hand_over_list(out, &a_usrconf_ll_o::count, &a_usrconf_ll_o::error));
}

int a_get_pageb_lib(CLIENT *clnt, const char *userid, short box, long nr, short page, short kind,
                    long offset, long length, a_get_pageb_o *out) noexcept
{
    auto req = for_user(userid, a_get_pageb_i{{}, box, nr, page, kind, offset, length});
    return Alpha::call(
        clnt, a_get_pageb_1, &req, xdr_a_get_pageb_o, [out](a_get_pageb_o &r) noexcept -> int {
            if (getdebuglevel() > 4)
                std::fprintf(stderr, "in a_get_pageb_lib:ret = %ld, ok = %u, page_dat_len = %d\n",
                             r.length, static_cast<unsigned>(r.ok),
                             static_cast<int>(r.data.page_dat_len));
            if (!r.ok || r.length == 0)
                return RPCLIB_A_NO_PAGE_DATA;
            return hand_over(r, out);
        });
}

int a_get_tgroupl_llb_lib(CLIENT *clnt, const char *host, const char *user, const char *group,
                          const char *from1, const char *from2, long max,
                          o_get_tgroupl_llb_o *out) noexcept
{
    o_get_tgroupl_llb_i req{};
    my_strncpy(req.host, host, 35);
    my_strncpy(req.user, user, 10);
    my_strncpy(req.f3, group, 10);
    my_strncpy(req.f5, from1, 10);
    my_strncpy(req.f6, from2, 10);
    req.f7 = max != 0 ? max : 30;
    return Alpha::call(clnt, a_get_tgroupl_llb_1, &req, xdr_o_get_tgroupl_llb_o,
                       [out](o_get_tgroupl_llb_o &r) noexcept {
                           if (getdebuglevel() > 9)
                               std::fprintf(stderr, "a_get_tgroupl_ll_lib: ret->anz = %ld\n",
                                            r.count);
                           return hand_over_list(out, &o_get_tgroupl_llb_o::count)(r);
                       });
}

void a_get_eb_free(a_get_e_o *out) noexcept { release(out, xdr_a_get_e_o); }
void a_get_pb_free(a_get_p_o *out) noexcept { release(out, xdr_a_get_p_o); }
void a_get_sb_free(a_get_s_o *out) noexcept { release(out, xdr_a_get_s_o); }
void a_usrconf_ll_free(a_usrconf_ll_o *out) noexcept { release(out, xdr_a_usrconf_ll_o); }
void a_get_pageb_free(a_get_pageb_o *out) noexcept { release(out, xdr_a_get_pageb_o); }
void a_get_tgroupl_llb_free(o_get_tgroupl_llb_o *out) noexcept
{
    release(out, xdr_o_get_tgroupl_llb_o);
}

// --- new-only -----------------------------------------------------------

int a_get_e_rec_new_ll_lib(CLIENT *clnt, long nr, int version, short box, long from, long max,
                           a_get_e_rec_new_ll_o *out) noexcept
{
    a_get_eb_i req{nr, box, from, max};
    // The leading short of this answer is not a code the wrapper reads.
    return Alpha::call(clnt, a_get_e_rec_new_ll_1, &req, xdr_a_get_e_rec_new_ll_o,
                       hand_over_list(out, &a_get_e_rec_new_ll_o::count), suitable_version(version),
                       new_only_failed);
}

int a_get_s_rec_new_ll_lib(CLIENT *clnt, long nr, int version, short selector, const char *text,
                           const char *pattern, long from, long max,
                           a_get_s_rec_new_ll_o *out) noexcept
{
    a_get_s_rec_new_ll_i req{};
    req.version = version;
    a_get_s_rec_new_ll_i_v1 &r = req.a_get_s_rec_new_ll_i_u.v1;
    r.nr = nr;
    r.selector = selector;
    // Only these selectors search by text; the others send the fields empty.
    if (selector == 5 || selector == 6) {
        my_strncpy(r.text, text, 10);
        my_strncpy(r.pattern, pattern, 80);
    }
    r.from = from;
    r.max = max;
    return Alpha::call(
        clnt, a_get_s_rec_new_ll_1, &req, xdr_a_get_s_rec_new_ll_o,
        hand_over_list(out, &a_get_s_rec_new_ll_o::count, &a_get_s_rec_new_ll_o::error),
        suitable_version(version), new_only_failed);
}

void a_get_e_rec_new_ll_free(a_get_e_rec_new_ll_o *out) noexcept
{
    release(out, xdr_a_get_e_rec_new_ll_o);
}

void a_get_s_rec_new_ll_free(a_get_s_rec_new_ll_o *out) noexcept
{
    release(out, xdr_a_get_s_rec_new_ll_o);
}

int a_cha_userid_lib(CLIENT *clnt, long nr, const char *new_userid) noexcept
{
    a_cha_userid_i req{};
    req.version = 0;
    req.a_cha_userid_i_u.v0.nr = nr;
    my_strncpy(req.a_cha_userid_i_u.v0.userid, new_userid, 10);
    return Alpha::call(clnt, a_cha_userid_1, &req, xdr_short, rpclib::status_of, rpclib::go_on,
                       new_only_failed);
}

// --- level-chosen -------------------------------------------------------

int a_get_faxl_lib(CLIENT *clnt, char *name, o_faxl *rec) noexcept
{
    if (int rc = faxl_generation(clnt, false))
        return rc;
    // The caller's buffer is the request itself, as the old servers expect.
    return Alpha::call(
        clnt, a_get_faxl_1, reinterpret_cast<str10 *>(name), xdr_o_faxl,
        record(
            rec, [](const o_faxl &r) { return r.name[0] != '\0'; }, RPCLIB_NO_ENTRY));
}

int a_get_faxl_new_lib(CLIENT *clnt, const char *name, o_faxl_new *rec) noexcept
{
    if (int rc = faxl_generation(clnt, true))
        return rc;
    o_get_faxl_new_i req{};
    req.version = 0;
    my_strncpy(req.o_get_faxl_new_i_u.v0.name, name, 10);
    return Alpha::call(clnt, a_get_faxl_new_1, &req, xdr_o_get_faxl_new_o,
                       [rec](const o_get_faxl_new_o &r) noexcept -> int {
                           if (r.error != 0)
                               return r.error;
                           if (r.faxl.version != 0)
                               return RPCLIB_EMPTY_ANSWER;
                           store(rec, r.faxl);
                           return RPCLIB_OK;
                       });
}

// --- route --------------------------------------------------------------

int a_apply_route_new_lib(CLIENT *clnt, const char *number, const char *qualifier, char *host,
                          char *user, char *id) noexcept
{
    return rpclib::apply_route<Alpha>(clnt, a_apply_route_new_1, number, qualifier, host, user, id);
}

}  // extern "C"
