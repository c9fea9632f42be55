// Wrappers of the fax group (faxg) and fax line (faxl, faxl_new) tables.
// What a get, put, delete or list of each kind of table makes of the answer
// is written once below; each _lib function only names its stub, its types
// and its request. The rule around the call is rpclib::Omega's (call.hpp).
#include <cstdio>

#include "call.hpp"
#include "o_lib.h"

using rpclib::Omega;

namespace {

str10 *key_of(str10 &key, const char *name)
{
    my_strncpy(key, name, 10);
    return &key;
}

// --- Unversioned tables (faxg, faxl) -------------------------------------

// A record whose name is empty is the server's "no such entry".
template <class Rec>
int get_record(CLIENT *clnt, Rec *(*stub)(str10 *, CLIENT *), bool_t (*xdr_rec)(XDR *, Rec *),
               const char *name, Rec *out)
{
    str10 key{};
    return Omega::call(clnt, stub, key_of(key, name), xdr_rec,
                       rpclib::record(
                           out, [](const Rec &r) { return r.name[0] != '\0'; }, RPCLIB_NO_ENTRY));
}

template <class Rec>
int put_record(CLIENT *clnt, bool_t *(*stub)(Rec *, CLIENT *), const Rec *rec)
{
    Rec *arg = const_cast<Rec *>(rec);  // the stub only encodes it
    return Omega::call(clnt, stub, arg, xdr_bool, rpclib::yes_no,
                       [rec] { return rec == nullptr ? RPCLIB_NOT_SENT : RPCLIB_OK; });
}

int del_record(CLIENT *clnt, bool_t *(*stub)(str10 *, CLIENT *), const char *name)
{
    str10 key{};
    return Omega::call(clnt, stub, key_of(key, name), xdr_bool, rpclib::yes_no);
}

// An answer of count 0 leaves the caller's record exactly as it was.
template <class Req, class List>
int list_records(CLIENT *clnt, List *(*stub)(Req *, CLIENT *), bool_t (*xdr_list)(XDR *, List *),
                 Req *req, List *out)
{
    return Omega::call(clnt, stub, req, xdr_list, [out](List &answer) {
        if (answer.count != 0)
            rpclib::hand_over(answer, out);
        return RPCLIB_OK;
    });
}

// --- Versioned tables (faxl_new) -------------------------------------------
// Requests go out as version 0; an answer in another version is refused with
// 32, since nothing here asks the server which versions it speaks.

template <class Req, class Ans, class Rec>
int get_versioned(CLIENT *clnt, Ans *(*stub)(Req *, CLIENT *), bool_t (*xdr_ans)(XDR *, Ans *),
                  Req *req, Rec Ans::*record, Rec *out)
{
    return Omega::call(clnt, stub, req, xdr_ans, [record, out](Ans &answer) {
        if (answer.error != 0)
            return static_cast<int>(answer.error);
        if ((answer.*record).version != 0)
            return RPCLIB_EMPTY_ANSWER;
        rpclib::store(out, answer.*record);
        return RPCLIB_OK;
    });
}

// A record of another version than 0 is not sent (24); at debug level 5 and
// up it is written to standard error first.
template <class Rec>
int put_versioned(CLIENT *clnt, short *(*stub)(Rec *, CLIENT *), const Rec *rec,
                  void (*dump)(FILE *, const Rec *, const char *))
{
    Rec *arg = const_cast<Rec *>(rec);  // the stub only encodes it
    return Omega::call(clnt, stub, arg, xdr_short, rpclib::status_of, [rec, dump] {
        if (rec == nullptr)
            return RPCLIB_NOT_SENT;
        if (getdebuglevel() > 4)
            dump(stderr, rec, " ");
        return rec->version != 0 ? RPCLIB_NOT_SENT : RPCLIB_OK;
    });
}

template <class Req>
int del_versioned(CLIENT *clnt, short *(*stub)(Req *, CLIENT *), Req *req)
{
    return Omega::call(clnt, stub, req, xdr_short, rpclib::status_of);
}

// Only the first element's version is examined; the caller's record is
// written also for an empty list.
template <class Req, class List>
int list_versioned(CLIENT *clnt, List *(*stub)(Req *, CLIENT *), bool_t (*xdr_list)(XDR *, List *),
                   Req *req, List *out)
{
    return Omega::call(clnt, stub, req, xdr_list, [out](List &answer) {
        if (answer.error != 0)
            return static_cast<int>(answer.error);
        if (answer.list != nullptr && answer.list->entry.version != 0)
            return RPCLIB_EMPTY_ANSWER;
        return rpclib::hand_over(answer, out);
    });
}

}  // namespace

extern "C" {

// Get, put, delete and the list's release of an unversioned table.
#define UNVERSIONED_TABLE(t)                                                 \
    int o_get_##t##_lib(CLIENT *clnt, const char *name, o_##t *rec) noexcept \
    {                                                                        \
        return get_record(clnt, o_get_##t##_1, xdr_o_##t, name, rec);        \
    }                                                                        \
    int o_put_##t##_lib(CLIENT *clnt, const o_##t *rec) noexcept             \
    {                                                                        \
        return put_record(clnt, o_put_##t##_1, rec);                         \
    }                                                                        \
    int o_del_##t##_lib(CLIENT *clnt, const char *name) noexcept             \
    {                                                                        \
        return del_record(clnt, o_del_##t##_1, name);                        \
    }                                                                        \
    void o_get_##t##_ll_free(o_get_##t##_ll_o *list) noexcept                \
    {                                                                        \
        rpclib::release(list, xdr_o_get_##t##_ll_o);                         \
    }

UNVERSIONED_TABLE(faxg)
UNVERSIONED_TABLE(faxl)

int o_get_faxg_ll_lib(CLIENT *clnt, o_get_faxg_ll_o *list) noexcept
{
    return list_records(clnt, o_get_faxg_ll_1, xdr_o_get_faxg_ll_o, static_cast<void *>(nullptr),
                        list);
}

int o_get_faxl_ll_lib(CLIENT *clnt, long *request, o_get_faxl_ll_o *list) noexcept
{
    long req = request != nullptr ? *request : 0;
    return list_records(clnt, o_get_faxl_ll_1, xdr_o_get_faxl_ll_o, &req, list);
}

// --- faxl_new ---

int o_get_faxl_new_lib(CLIENT *clnt, const char *name, o_faxl_new *faxl) noexcept
{
    o_get_faxl_new_i req{};
    req.version = 0;
    my_strncpy(req.o_get_faxl_new_i_u.v0.name, name, 10);
    return get_versioned(clnt, o_get_faxl_new_1, xdr_o_get_faxl_new_o, &req,
                         &o_get_faxl_new_o::faxl, faxl);
}

int o_put_faxl_new_lib(CLIENT *clnt, const o_faxl_new *faxl) noexcept
{
    return put_versioned(clnt, o_put_faxl_new_1, faxl, fprint_o_faxl_new);
}

int o_del_faxl_new_lib(CLIENT *clnt, const char *name) noexcept
{
    o_del_faxl_new_i req{};
    req.version = 0;
    my_strncpy(req.o_del_faxl_new_i_u.v0.name, name, 10);
    return del_versioned(clnt, o_del_faxl_new_1, &req);
}

int o_get_faxl_new_ll_lib(CLIENT *clnt, long *request, o_get_faxl_new_ll_o *list) noexcept
{
    o_get_faxl_new_ll_i req{};
    req.version = 0;
    req.o_get_faxl_new_ll_i_u.v0.f1 = request != nullptr ? *request : 0;
    return list_versioned(clnt, o_get_faxl_new_ll_1, xdr_o_get_faxl_new_ll_o, &req, list);
}

void o_get_faxl_new_ll_free(o_get_faxl_new_ll_o *list) noexcept
{
    rpclib::release(list, xdr_o_get_faxl_new_ll_o);
}

}  // extern "C"
