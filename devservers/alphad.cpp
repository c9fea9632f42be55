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
    "'noproc 145' make an old-generation server. SIGTERM stops it.\n";

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

void dispatch(svc_req *rq, SVCXPRT *xprt)
{
    const unsigned long proc = rq->rq_proc;
    if (proc == NULLPROC) {
        devserver::reply(xprt, (xdrproc_t)devserver::xdr_nothing, nullptr);
        return;
    }
    if (devserver::misbehave(proc, xprt))
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
