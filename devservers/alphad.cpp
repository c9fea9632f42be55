// Development alpha server: a usrconf store keyed by (user id, key) with the
// new and the old procedures, an event log appended to a file, and a clock
// that tests can move. Enough of the alpha program to run dialcred against.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "a_lib.h"
#include "devserver.hpp"

namespace {

const char kHelp[] =
    "usage: alphad [--offset N] [--data STORE] [--log LOGFILE] [--control FILE]\n"
    "              [--pidfile FILE] [--set DIRECTIVE]...\n"
    "Development alpha server on 127.0.0.1, registered with rpcbind as program\n"
    "16011967 + N (N from --offset or QUIRVERPCOFFSET), version 1, TCP.\n"
    "STORE holds the usrconf entries, one 'userid<TAB>key<TAB>value' a line;\n"
    "it is rewritten after every change. LOGFILE receives one event log line a\n"
    "line. Directives (--set, or lines of the control file, read before each\n"
    "request): clock +N|-N|=N, noproc P, systemerr P, false P, error P N,\n"
    "hang P, exit P [KEYPREFIX], nosave. 'noproc 143', 'noproc 144' and\n"
    "'noproc 145' make an old-generation server. SIGTERM stops it.\n"
    "The other procedures that have a library wrapper answer with made-up\n"
    "records and note each request in LOGFILE as 'rpc P HEX' (the request's\n"
    "XDR bytes). More directives for them: count P N (records in a list\n"
    "answer, default 2), compat 75 FIRST LEVEL (default 1 10), falseat 60 OFF\n"
    "(refuse the page chunk at offset OFF).\n";

devserver::Options g_opt;
using Key = std::pair<std::string, std::string>;
std::map<Key, std::string> g_store;

void load()
{
    for (const auto &row : devserver::read_table(g_opt.data))
        if (row.size() >= 3)
            g_store[{row[0], row[1]}] = row[2];
}

bool save()
{
    if (g_opt.data.empty())
        return true;
    std::vector<std::vector<std::string>> rows;
    for (const auto &[k, v] : g_store)
        rows.push_back({k.first, k.second, v});
    return devserver::write_table(g_opt.data, rows);
}

bool put(const char *user, const char *key, const char *value)
{
    auto k = Key(user, key);
    auto old = g_store.find(k);
    std::optional<std::string> before;
    if (old != g_store.end())
        before = old->second;
    g_store[k] = value;
    if (save())
        return true;
    // Not on disk: the entry as it was, so memory and file agree.
    if (before)
        g_store[k] = *before;
    else
        g_store.erase(k);
    return false;
}

bool del(const char *user, const char *key)
{
    auto it = g_store.find(Key(user, key));
    if (it == g_store.end())
        return true;  // already gone
    std::string before = it->second;
    g_store.erase(it);
    if (save())
        return true;
    g_store[Key(user, key)] = before;
    return false;
}

void append_log(const zeile &line)
{
    if (g_opt.log.empty())
        return;
    if (FILE *f = std::fopen(g_opt.log.c_str(), "ab")) {
        size_t n = strnlen(line.zeile_val, line.zeile_len);
        std::fwrite(line.zeile_val, 1, n, f);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

bool_t answer_bool(unsigned long proc, bool ok)
{
    return ok && !devserver::directives().has("false", proc);
}

// --- the procedures that have a library wrapper ---------------------------
// They answer with made-up records, shaped by the directives, and note every
// request in the event log as "rpc P HEX" (its XDR bytes), so that tests can
// read back exactly what a wrapper sent.

void trace(unsigned long proc, xdrproc_t fn, void *arg)
{
    if (g_opt.log.empty())
        return;
    std::vector<char> buf(1 << 20);
    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
    const bool ok = fn(&x, arg);
    const u_int n = xdr_getpos(&x);
    xdr_destroy(&x);
    FILE *f = ok ? std::fopen(g_opt.log.c_str(), "ab") : nullptr;
    if (f == nullptr)
        return;
    std::fprintf(f, "rpc %lu ", proc);
    for (u_int i = 0; i < n; ++i)
        std::fprintf(f, "%02x", static_cast<unsigned char>(buf[i]));
    std::fputc('\n', f);
    std::fclose(f);
}

bool refused(unsigned long proc) { return devserver::directives().has("false", proc); }

short error_of(unsigned long proc)
{
    return static_cast<short>(devserver::directives().number("error", proc).value_or(0));
}

long count_of(unsigned long proc) { return devserver::directives().number("count", proc).value_or(2); }

template <class T>
void send(SVCXPRT *xprt, bool_t (*fn)(XDR *, T *), T *res)
{
    devserver::reply(xprt, reinterpret_cast<xdrproc_t>(fn), res);
}

// n nodes linked in order; the vector owns them until the reply is sent.
template <class Node, class Fill>
std::vector<Node> make_chain(long n, Fill fill)
{
    std::vector<Node> nodes(static_cast<size_t>(n > 0 ? n : 0));
    for (size_t i = 0; i < nodes.size(); ++i) {
        fill(nodes[i], static_cast<long>(i));
        nodes[i].next = i + 1 < nodes.size() ? &nodes[i + 1] : nullptr;
    }
    return nodes;
}

template <class Node>
Node *head(std::vector<Node> &nodes)
{
    return nodes.empty() ? nullptr : nodes.data();
}

// Made-up records: the number names the record, the rest follows from it
// (negative values included, so that signs are seen to travel).
a_e_rec e_rec(long nr)
{
    a_e_rec r{};
    r.nr = nr;
    std::snprintf(r.userid, sizeof r.userid, "e%ld", nr);
    r.time = -nr;
    r.pages = static_cast<short>(nr % 100);
    std::snprintf(r.subject, sizeof r.subject, "subject %ld", nr);
    return r;
}

a_p_rec p_rec(long nr)
{
    a_p_rec r{};
    r.nr = nr;
    std::snprintf(r.userid, sizeof r.userid, "p%ld", nr);
    r.flag = nr % 2;
    r.size = -nr;
    return r;
}

// Both send job layouts start alike.
template <class Rec>
Rec job(long nr)
{
    Rec r{};
    r.nr = nr;
    std::snprintf(r.userid, sizeof r.userid, "s%ld", nr);
    r.result = -nr;
    return r;
}

a_s_rec s_rec(long nr)
{
    auto r = job<a_s_rec>(nr);
    std::snprintf(r.number, sizeof r.number, "0%ld", nr);
    return r;
}

a_s_rec_v1 s_rec_v1(long nr)
{
    auto r = job<a_s_rec_v1>(nr);
    std::snprintf(r.x_text3, sizeof r.x_text3, "v1 %ld", nr);
    return r;
}

void answer_bool(unsigned long proc, void *, SVCXPRT *xprt)
{
    bool_t r = !refused(proc);
    send(xprt, xdr_bool, &r);
}

void answer_put_pageb(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const auto *a = static_cast<a_put_pageb_i *>(arg);
    auto at = devserver::directives().number("falseat", proc);
    bool_t r = !refused(proc) && !(at && *at == a->offset);
    send(xprt, xdr_bool, &r);
}

void answer_mk_dok(unsigned long proc, void *, SVCXPRT *xprt)
{
    long r = refused(proc) ? 0 : 4711;
    send(xprt, xdr_slong, &r);
}

void answer_exc_bif(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    a_exc_bif_o r{!refused(proc), static_cast<a_exc_bif_i *>(arg)->flag};
    send(xprt, xdr_a_exc_bif_o, &r);
}

void answer_exc_status(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    a_exc_status_o r{error_of(proc), static_cast<a_exc_status_i *>(arg)->flag};
    send(xprt, xdr_a_exc_status_o, &r);
}

void answer_compat(unsigned long proc, void *, SVCXPRT *xprt)
{
    compat_o r{1, 10};
    const auto &by = devserver::directives().by_proc;
    if (auto it = by.find("compat " + std::to_string(proc)); it != by.end() && it->second.size() >= 2) {
        r.first = std::strtol(it->second[0].c_str(), nullptr, 10);
        r.second = std::strtol(it->second[1].c_str(), nullptr, 10);
    }
    send(xprt, xdr_compat_o, &r);
}

void answer_config(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const auto *a = static_cast<a_get_config_i *>(arg);
    str80 r{};
    if (!refused(proc))
        std::snprintf(r, sizeof r, "%s=%d", a->key, a->kind);
    devserver::reply(xprt, (xdrproc_t)xdr_str80, r);
}

void answer_e_rec(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    a_e_rec r = refused(proc) ? a_e_rec{} : e_rec(static_cast<a_get_e_rec_i *>(arg)->nr);
    send(xprt, xdr_a_e_rec, &r);
}

void answer_p_rec(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    a_p_rec r = refused(proc) ? a_p_rec{} : p_rec(static_cast<a_get_p_rec_i *>(arg)->nr);
    send(xprt, xdr_a_p_rec, &r);
}

void answer_s_rec(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    a_s_rec r = refused(proc) ? a_s_rec{} : s_rec(static_cast<a_get_s_rec_i *>(arg)->nr);
    send(xprt, xdr_a_s_rec, &r);
}

void answer_user(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    a_user_rec r{};
    if (!refused(proc)) {
        my_strncpy(r.userid, static_cast<char *>(arg), 10);
        for (int i = 0; i < 10; ++i)
            r.counters[i] = i - 5;
        std::snprintf(r.text2, sizeof r.text2, "user %s", r.userid);
    }
    send(xprt, xdr_a_user_rec, &r);
}

// A block of a folder: `count P` made-up records, numbered from the first
// one the request asks for.
template <class Res, class Node, class Make>
void answer_block(unsigned long proc, long first, bool_t (*fn)(XDR *, Res *), Make make,
                  SVCXPRT *xprt)
{
    auto nodes = make_chain<Node>(count_of(proc), [&](Node &n, long i) { n.entry = make(first + i); });
    Res r{static_cast<long>(nodes.size()), head(nodes)};
    send(xprt, fn, &r);
}

void answer_eb(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    answer_block<a_get_e_o, a_e_rec_ll>(proc, static_cast<a_get_eb_i *>(arg)->from, xdr_a_get_e_o,
                                        e_rec, xprt);
}

void answer_pb(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    answer_block<a_get_p_o, a_p_rec_ll>(proc, static_cast<a_get_pb_i *>(arg)->from, xdr_a_get_p_o,
                                        p_rec, xprt);
}

void answer_sb(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    answer_block<a_get_s_o, a_s_rec_ll>(proc, static_cast<a_get_sb_i *>(arg)->from, xdr_a_get_s_o,
                                        s_rec, xprt);
}

void answer_e_rec_new_ll(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const long first = static_cast<a_get_eb_i *>(arg)->from;
    auto nodes = make_chain<a_e_rec_new_ll>(count_of(proc), [&](a_e_rec_new_ll &n, long i) {
        a_e_rec e = e_rec(first + i);
        n.entry.version = 1;
        a_e_rec_v1 &v = n.entry.a_e_rec_new_u.v1;
        v.nr = e.nr;
        my_strncpy(v.userid, e.userid, 10);
        v.time = e.time;
        std::snprintf(v.line, sizeof v.line, "line-of-twenty-%ld", e.nr);
    });
    a_get_e_rec_new_ll_o r{error_of(proc), static_cast<long>(nodes.size()), head(nodes)};
    send(xprt, xdr_a_get_e_rec_new_ll_o, &r);
}

void answer_s_rec_new_ll(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const long first = static_cast<a_get_s_rec_new_ll_i *>(arg)->a_get_s_rec_new_ll_i_u.v1.from;
    // Both record versions, alternating.
    auto nodes = make_chain<a_s_rec_new_ll>(count_of(proc), [&](a_s_rec_new_ll &n, long i) {
        n.entry.version = static_cast<int>(i % 2);
        if (n.entry.version == 0)
            n.entry.a_s_rec_new_u.v0 = s_rec(first + i);
        else
            n.entry.a_s_rec_new_u.v1 = s_rec_v1(first + i);
    });
    a_get_s_rec_new_ll_o r{error_of(proc), static_cast<long>(nodes.size()), head(nodes)};
    send(xprt, xdr_a_get_s_rec_new_ll_o, &r);
}

// The user's entries whose key begins with the request's key.
void answer_usrconf_ll(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const auto *a = static_cast<a_usrconf_ll_i *>(arg);
    std::vector<std::pair<Key, std::string>> found;
    for (const auto &[k, v] : g_store)
        if (k.first == a->userid && k.second.compare(0, std::strlen(a->key), a->key) == 0)
            found.emplace_back(k, v);
    auto nodes = make_chain<a_usrconf_ll>(static_cast<long>(found.size()), [&](a_usrconf_ll &n, long i) {
        const auto &[k, v] = found[static_cast<size_t>(i)];
        my_strncpy(n.entry.userid, k.first.c_str(), 10);
        my_strncpy(n.entry.key, k.second.c_str(), 10);
        my_strncpy(n.entry.value, v.c_str(), 80);
    });
    a_usrconf_ll_o r{head(nodes), static_cast<long>(nodes.size()), error_of(proc)};
    send(xprt, xdr_a_usrconf_ll_o, &r);
}

void answer_pageb(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const auto *a = static_cast<a_get_pageb_i *>(arg);
    std::string data = "page " + std::to_string(a->nr) + "/" + std::to_string(a->page);
    a_get_pageb_o r{};
    r.ok = !refused(proc);
    r.length = devserver::directives().number("count", proc).value_or(static_cast<long>(data.size()));
    r.data.page_dat_len = static_cast<u_int>(data.size());
    r.data.page_dat_val = data.data();
    send(xprt, xdr_a_get_pageb_o, &r);
}

void answer_route(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const auto &in = static_cast<o_apply_route_new_i *>(arg)->o_apply_route_new_i_u.v0;
    o_apply_route_new_o r{};
    o_apply_route_new_o_v0 &out = r.o_apply_route_new_o_u.v0;
    out.error = error_of(proc);
    std::snprintf(out.target_host, sizeof out.target_host, "host-%s", in.number);
    my_strncpy(out.target_user, in.qualifier, 10);
    my_strncpy(out.target_id, in.number, 10);
    send(xprt, xdr_o_apply_route_new_o, &r);
}

void answer_status(unsigned long proc, void *, SVCXPRT *xprt)
{
    short r = error_of(proc);
    send(xprt, xdr_short, &r);
}

void answer_o_user(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const auto *a = static_cast<a_get_o_user_i *>(arg);
    o_user r{};
    if (!refused(proc)) {
        my_strncpy(r.alpha_host, a->host, 35);
        my_strncpy(r.alpha_user, a->userid, 10);
        r.f8 = -1;
    }
    send(xprt, xdr_o_user, &r);
}

// The server's interface level (compat 75) decides which fax line
// generation it answers; the other one is refused as a missing procedure.
bool faxl_generation(bool is_new, SVCXPRT *xprt)
{
    long level = 10;
    const auto &by = devserver::directives().by_proc;
    if (auto it = by.find("compat 75"); it != by.end() && it->second.size() >= 2)
        level = std::strtol(it->second[1].c_str(), nullptr, 10);
    if ((level >= 10) == is_new)
        return true;
    svcerr_noproc(xprt);
    return false;
}

void answer_faxl(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    if (!faxl_generation(false, xprt))
        return;
    o_faxl r{};
    if (!refused(proc)) {
        my_strncpy(r.name, static_cast<char *>(arg), 10);
        r.f5 = -2;
        r.f8 = -8;
        std::snprintf(r.f18, sizeof r.f18, "line %s", r.name);
    }
    send(xprt, xdr_o_faxl, &r);
}

void answer_faxl_new(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    if (!faxl_generation(true, xprt))
        return;
    const auto *a = static_cast<o_get_faxl_new_i *>(arg);
    o_get_faxl_new_o r{};
    r.error = error_of(proc);
    r.faxl.version = static_cast<int>(devserver::directives().number("version", proc).value_or(0));
    // Filled as version 0 whatever the version says: a client reads no other.
    my_strncpy(r.faxl.o_faxl_new_u.v0.name, a->o_get_faxl_new_i_u.v0.name, 10);
    r.faxl.o_faxl_new_u.v0.f20 = -20;
    std::snprintf(r.faxl.o_faxl_new_u.v0.f31, sizeof r.faxl.o_faxl_new_u.v0.f31, "new %s",
                  a->o_get_faxl_new_i_u.v0.name);
    send(xprt, xdr_o_get_faxl_new_o, &r);
}

void answer_tgroupl_llb(unsigned long proc, void *arg, SVCXPRT *xprt)
{
    const auto *a = static_cast<o_get_tgroupl_llb_i *>(arg);
    auto nodes = make_chain<o_tgroupl_ll>(count_of(proc), [&](o_tgroupl_ll &n, long i) {
        my_strncpy(n.entry.f1, a->user, 10);
        my_strncpy(n.entry.f2, a->f3, 10);
        std::snprintf(n.entry.f3, sizeof n.entry.f3, "m%ld", i % 100000000);
    });
    o_get_tgroupl_llb_o r{static_cast<long>(nodes.size()), head(nodes)};
    send(xprt, xdr_o_get_tgroupl_llb_o, &r);
}

struct CatalogueProc {
    unsigned long proc;
    xdrproc_t arg;
    size_t size;
    void (*answer)(unsigned long, void *, SVCXPRT *);
};

#define ARG(t) reinterpret_cast<xdrproc_t>(xdr_##t), sizeof(t)
const CatalogueProc kCatalogue[] = {
    {A_MK_DOK, ARG(str10), answer_mk_dok},
    {A_CP_DOK, ARG(a_cp_dok_i), answer_bool},
    {A_DEL_DOK, ARG(a_del_dok_i), answer_bool},
    {A_BIF, ARG(a_bif_i), answer_bool},
    {A_DEL_PAGE, ARG(a_del_page_i), answer_bool},
    {A_CP_PAGE, ARG(a_cp_page_i), answer_bool},
    {A_GET_E_REC, ARG(a_get_e_rec_i), answer_e_rec},
    {A_GET_P_REC, ARG(a_get_p_rec_i), answer_p_rec},
    {A_GET_S_REC, ARG(a_get_s_rec_i), answer_s_rec},
    {A_PUT_LOG, ARG(a_put_log_i), answer_bool},
    {A_GET_USER, ARG(str10), answer_user},
    {A_INS_PAGE, ARG(a_ins_page_i), answer_bool},
    {A_PUT_BIF, ARG(a_put_bif_i), answer_bool},
    {A_FORWARD, ARG(a_forward_i), answer_bool},
    {A_GET_PAGEB, ARG(a_get_pageb_i), answer_pageb},
    {A_PUT_PAGEB, ARG(a_put_pageb_i), answer_put_pageb},
    {A_GET_CONFIG, ARG(a_get_config_i), answer_config},
    {A_GET_COMPAT, devserver::xdr_nothing, 0, answer_compat},
    {A_EXC_BIF, ARG(a_exc_bif_i), answer_exc_bif},
    {A_GET_O_USER, ARG(a_get_o_user_i), answer_o_user},
    {A_GET_FAXL, ARG(str10), answer_faxl},
    {A_GET_TGROUPL_LLB, ARG(o_get_tgroupl_llb_i), answer_tgroupl_llb},
    {A_GET_FAXL_NEW, ARG(o_get_faxl_new_i), answer_faxl_new},
    {A_GET_EB, ARG(a_get_eb_i), answer_eb},
    {A_GET_PB, ARG(a_get_pb_i), answer_pb},
    {A_GET_SB, ARG(a_get_sb_i), answer_sb},
    {A_GET_USRCONF_LL, ARG(a_usrconf_ll_i), answer_usrconf_ll},
    {A_EXC_STATUS, ARG(a_exc_status_i), answer_exc_status},
    {A_APPLY_ROUTE_NEW, ARG(o_apply_route_new_i), answer_route},
    {A_CHA_USERID, ARG(a_cha_userid_i), answer_status},
    {A_GET_S_REC_NEW_LL, ARG(a_get_s_rec_new_ll_i), answer_s_rec_new_ll},
    {A_GET_E_REC_NEW_LL, ARG(a_get_eb_i), answer_e_rec_new_ll},
};
#undef ARG

// Answers a procedure of the table; false when it is not one of them.
bool catalogue(unsigned long proc, SVCXPRT *xprt)
{
    for (const CatalogueProc &p : kCatalogue) {
        if (p.proc != proc)
            continue;
        std::vector<long> storage(p.size / sizeof(long) + 1, 0);
        char *arg = reinterpret_cast<char *>(storage.data());
        if (!svc_getargs(xprt, p.arg, arg)) {
            svcerr_decode(xprt);
            return true;
        }
        trace(proc, p.arg, arg);
        p.answer(proc, arg, xprt);
        svc_freeargs(xprt, p.arg, arg);
        return true;
    }
    return false;
}

void dispatch(svc_req *rq, SVCXPRT *xprt)
{
    const unsigned long proc = rq->rq_proc;
    if (devserver::handled_generically(proc, xprt))
        return;
    const auto &d = devserver::directives();
    switch (proc) {
    case A_GET_USRCONF: {
        a_usrconf_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_a_usrconf_i, &a))
            return;
        devserver::exit_if_key(proc, a.key);
        str80 v{};
        auto it = g_store.find(Key(a.userid, a.key));
        if (it != g_store.end() && !d.has("false", proc))
            my_strncpy(v, it->second.c_str(), 80);
        devserver::reply(xprt, (xdrproc_t)xdr_str80, &v);
        return;
    }
    case A_PUT_USRCONF: {
        a_put_usrconf_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_a_put_usrconf_i, &a))
            return;
        devserver::exit_if_key(proc, a.key);
        bool_t r = answer_bool(proc, !d.has("false", proc) && put(a.userid, a.key, a.value));
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &r);
        return;
    }
    case A_DEL_USRCONF: {
        a_usrconf_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_a_usrconf_i, &a))
            return;
        devserver::exit_if_key(proc, a.key);
        bool_t r = answer_bool(proc, !d.has("false", proc) && del(a.userid, a.key));
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &r);
        return;
    }
    case A_GET_USRCONF_NEW: {
        a_usrconf_new_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_a_usrconf_new_i, &a))
            return;
        const a_usrconf_i_v1 &k = a.a_usrconf_new_i_u.v1;
        devserver::exit_if_key(proc, k.key);
        a_get_usrconf_new_o r{};
        auto it = g_store.find(Key(k.userid, k.key));
        if (auto e = d.number("error", proc))
            r.error = static_cast<short>(*e);
        else if (it == g_store.end())
            r.error = 25;
        else
            my_strncpy(r.value, it->second.c_str(), 80);
        devserver::reply(xprt, (xdrproc_t)xdr_a_get_usrconf_new_o, &r);
        return;
    }
    case A_PUT_USRCONF_NEW: {
        a_usrconf_new a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_a_usrconf_new, &a))
            return;
        const a_usrconf_v1 &e = a.a_usrconf_new_u.v1;
        devserver::exit_if_key(proc, e.key);
        bool_t r = answer_bool(proc, !d.has("false", proc) && put(e.userid, e.key, e.value));
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &r);
        return;
    }
    case A_DEL_USRCONF_NEW: {
        a_usrconf_new_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_a_usrconf_new_i, &a))
            return;
        const a_usrconf_i_v1 &k = a.a_usrconf_new_i_u.v1;
        devserver::exit_if_key(proc, k.key);
        bool_t r = answer_bool(proc, !d.has("false", proc) && del(k.userid, k.key));
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &r);
        return;
    }
    case A_A_LOG: {
        zeile a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_zeile, &a))
            return;
        append_log(a);
        devserver::free_args(xprt, (xdrproc_t)xdr_zeile, &a);
        bool_t r = answer_bool(proc, true);
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &r);
        return;
    }
    case A_GET_JETZT: {
        long now = d.clock_fixed ? *d.clock_fixed
                                 : static_cast<long>(std::time(nullptr)) + d.clock_offset;
        devserver::reply(xprt, (xdrproc_t)xdr_slong, &now);
        return;
    }
    default:
        if (!catalogue(proc, xprt))
            svcerr_noproc(xprt);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    g_opt = devserver::parse_options(argc, argv, "alphad", kHelp);
    load();
    return devserver::serve(g_opt, ALPHA_PROGRAM_BASE, dispatch);
}
