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

using devserver::Call;

// Sets an entry, or removes it when value is null. A change that cannot be
// saved is undone, so that memory and file agree; removing a missing entry
// succeeds.
void answer_change(Call &c, const char *user, const char *key, const char *value)
{
    c.exit_if_key(key);
    devserver::answer_bool(c, [&] {
        const Key k(user, key);
        auto it = g_store.find(k);
        if (it == g_store.end() && value == nullptr)
            return true;
        std::optional<std::string> before;
        if (it != g_store.end())
            before = it->second;
        if (value != nullptr)
            g_store[k] = value;
        else
            g_store.erase(k);
        if (save())
            return true;
        if (before)
            g_store[k] = *before;
        else
            g_store.erase(k);
        return false;
    });
}

void get_usrconf(Call &c)
{
    const auto &a = c.arg<a_usrconf_i>();
    c.exit_if_key(a.key);
    str80 v{};
    auto it = g_store.find(Key(a.userid, a.key));
    if (it != g_store.end() && !c.refused())
        my_strncpy(v, it->second.c_str(), 80);
    c.reply(v);
}

void put_usrconf(Call &c)
{
    const auto &a = c.arg<a_put_usrconf_i>();
    answer_change(c, a.userid, a.key, a.value);
}

void del_usrconf(Call &c)
{
    const auto &a = c.arg<a_usrconf_i>();
    answer_change(c, a.userid, a.key, nullptr);
}

// The new generation: version-1 requests, and a missing entry is an error.
void get_usrconf_new(Call &c)
{
    const a_usrconf_i_v1 &k = c.arg<a_usrconf_new_i>().a_usrconf_new_i_u.v1;
    c.exit_if_key(k.key);
    a_get_usrconf_new_o r{};
    auto it = g_store.find(Key(k.userid, k.key));
    if (auto e = c.number("error"))
        r.error = static_cast<short>(*e);
    else if (it == g_store.end())
        r.error = RPCLIB_NO_ENTRY;
    else
        my_strncpy(r.value, it->second.c_str(), 80);
    c.reply(&r);
}

void put_usrconf_new(Call &c)
{
    const a_usrconf_v1 &e = c.arg<a_usrconf_new>().a_usrconf_new_u.v1;
    answer_change(c, e.userid, e.key, e.value);
}

void del_usrconf_new(Call &c)
{
    const a_usrconf_i_v1 &k = c.arg<a_usrconf_new_i>().a_usrconf_new_i_u.v1;
    answer_change(c, k.userid, k.key, nullptr);
}

void a_log(Call &c)
{
    const zeile &line = c.arg<zeile>();
    if (!g_opt.log.empty()) {
        if (FILE *f = std::fopen(g_opt.log.c_str(), "ab")) {
            std::fwrite(line.zeile_val, 1, strnlen(line.zeile_val, line.zeile_len), f);
            std::fputc('\n', f);
            std::fclose(f);
        }
    }
    devserver::answer_bool(c);
}

void get_jetzt(Call &c)
{
    const auto &d = devserver::directives();
    long now = d.clock_fixed ? *d.clock_fixed
                             : static_cast<long>(std::time(nullptr)) + d.clock_offset;
    c.reply(&now);
}

// --- the procedures that have a library wrapper ---------------------------
// They answer with made-up records, shaped by the directives, and note every
// request in the event log as "rpc P HEX" (its XDR bytes), so that tests can
// read back exactly what a wrapper sent.

template <void (*Answer)(Call &)>
void noted(Call &c)
{
    std::vector<char> buf(g_opt.log.empty() ? 0 : 1 << 20);
    XDR x;
    xdrmem_create(&x, buf.data(), static_cast<u_int>(buf.size()), XDR_ENCODE);
    FILE *f = !buf.empty() && c.row.arg(&x, c.args) ? std::fopen(g_opt.log.c_str(), "ab") : nullptr;
    if (f != nullptr) {
        std::fprintf(f, "rpc %lu ", c.row.proc);
        for (u_int i = 0; i < xdr_getpos(&x); ++i)
            std::fprintf(f, "%02x", static_cast<unsigned char>(buf[i]));
        std::fputc('\n', f);
        std::fclose(f);
    }
    xdr_destroy(&x);
    Answer(c);
}

long count_of(const Call &c) { return c.number("count").value_or(2); }

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

// The record numbered as the request asks; an empty one under `false P`.
template <class Arg, auto make>
void answer_rec(Call &c)
{
    auto r = c.refused() ? decltype(make(0)){} : make(c.arg<Arg>().nr);
    c.reply(&r);
}

// A block of a folder: `count P` made-up records, numbered from the first
// one the request asks for.
template <class Arg, class Res, auto make>
void answer_block(Call &c)
{
    const long first = c.arg<Arg>().from;
    auto nodes = make_chain<std::remove_pointer_t<decltype(Res::list)>>(
        count_of(c), [&](auto &n, long i) { n.entry = make(first + i); });
    Res r{static_cast<long>(nodes.size()), head(nodes)};
    c.reply(&r);
}

void answer_put_pageb(Call &c)
{
    auto at = c.number("falseat");
    bool_t r = !c.refused() && !(at && *at == c.arg<a_put_pageb_i>().offset);
    c.reply(&r);
}

void answer_mk_dok(Call &c)
{
    long r = c.refused() ? 0 : 4711;
    c.reply(&r);
}

void answer_exc_bif(Call &c)
{
    a_exc_bif_o r{!c.refused(), c.arg<a_exc_bif_i>().flag};
    c.reply(&r);
}

void answer_exc_status(Call &c)
{
    a_exc_status_o r{c.error(), c.arg<a_exc_status_i>().flag};
    c.reply(&r);
}

// `compat 75 FIRST LEVEL`, default 1 10.
compat_o compat()
{
    compat_o r{1, 10};
    const auto &by = devserver::directives().by_proc;
    if (auto it = by.find("compat " + std::to_string(A_GET_COMPAT));
        it != by.end() && it->second.size() >= 2) {
        r.first = std::strtol(it->second[0].c_str(), nullptr, 10);
        r.second = std::strtol(it->second[1].c_str(), nullptr, 10);
    }
    return r;
}

void answer_compat(Call &c)
{
    compat_o r = compat();
    c.reply(&r);
}

void answer_config(Call &c)
{
    const auto &a = c.arg<a_get_config_i>();
    str80 r{};
    if (!c.refused())
        std::snprintf(r, sizeof r, "%s=%d", a.key, a.kind);
    c.reply(r);
}

void answer_user(Call &c)
{
    a_user_rec r{};
    if (!c.refused()) {
        my_strncpy(r.userid, c.arg<str10>(), 10);
        for (int i = 0; i < 10; ++i)
            r.counters[i] = i - 5;
        std::snprintf(r.text2, sizeof r.text2, "user %s", r.userid);
    }
    c.reply(&r);
}

void answer_e_rec_new_ll(Call &c)
{
    const long first = c.arg<a_get_eb_i>().from;
    auto nodes = make_chain<a_e_rec_new_ll>(count_of(c), [&](a_e_rec_new_ll &n, long i) {
        a_e_rec e = e_rec(first + i);
        n.entry.version = 1;
        a_e_rec_v1 &v = n.entry.a_e_rec_new_u.v1;
        v.nr = e.nr;
        my_strncpy(v.userid, e.userid, 10);
        v.time = e.time;
        std::snprintf(v.line, sizeof v.line, "line-of-twenty-%ld", e.nr);
    });
    a_get_e_rec_new_ll_o r{c.error(), static_cast<long>(nodes.size()), head(nodes)};
    c.reply(&r);
}

void answer_s_rec_new_ll(Call &c)
{
    const long first = c.arg<a_get_s_rec_new_ll_i>().a_get_s_rec_new_ll_i_u.v1.from;
    // Both record versions, alternating.
    auto nodes = make_chain<a_s_rec_new_ll>(count_of(c), [&](a_s_rec_new_ll &n, long i) {
        n.entry.version = static_cast<int>(i % 2);
        if (n.entry.version == 0)
            n.entry.a_s_rec_new_u.v0 = s_rec(first + i);
        else
            n.entry.a_s_rec_new_u.v1 = s_rec_v1(first + i);
    });
    a_get_s_rec_new_ll_o r{c.error(), static_cast<long>(nodes.size()), head(nodes)};
    c.reply(&r);
}

// The user's entries whose key begins with the request's key.
void answer_usrconf_ll(Call &c)
{
    const auto &a = c.arg<a_usrconf_ll_i>();
    std::vector<std::pair<Key, std::string>> found;
    for (const auto &[k, v] : g_store)
        if (k.first == a.userid && k.second.compare(0, std::strlen(a.key), a.key) == 0)
            found.emplace_back(k, v);
    auto nodes = make_chain<a_usrconf_ll>(static_cast<long>(found.size()),
                                          [&](a_usrconf_ll &n, long i) {
                                              const auto &[k, v] = found[static_cast<size_t>(i)];
                                              my_strncpy(n.entry.userid, k.first.c_str(), 10);
                                              my_strncpy(n.entry.key, k.second.c_str(), 10);
                                              my_strncpy(n.entry.value, v.c_str(), 80);
                                          });
    a_usrconf_ll_o r{head(nodes), static_cast<long>(nodes.size()), c.error()};
    c.reply(&r);
}

void answer_pageb(Call &c)
{
    const auto &a = c.arg<a_get_pageb_i>();
    std::string data = "page " + std::to_string(a.nr) + "/" + std::to_string(a.page);
    a_get_pageb_o r{};
    r.ok = !c.refused();
    r.length = c.number("count").value_or(static_cast<long>(data.size()));
    r.data.page_dat_len = static_cast<u_int>(data.size());
    r.data.page_dat_val = data.data();
    c.reply(&r);
}

void answer_route(Call &c)
{
    const auto &in = c.arg<o_apply_route_new_i>().o_apply_route_new_i_u.v0;
    o_apply_route_new_o r{};
    o_apply_route_new_o_v0 &out = r.o_apply_route_new_o_u.v0;
    out.error = c.error();
    std::snprintf(out.target_host, sizeof out.target_host, "host-%s", in.number);
    my_strncpy(out.target_user, in.qualifier, 10);
    my_strncpy(out.target_id, in.number, 10);
    c.reply(&r);
}

void answer_status(Call &c)
{
    devserver::answer_status(c, [] { return static_cast<short>(RPCLIB_OK); });
}

void answer_o_user(Call &c)
{
    const auto &a = c.arg<a_get_o_user_i>();
    o_user r{};
    if (!c.refused()) {
        my_strncpy(r.alpha_host, a.host, 35);
        my_strncpy(r.alpha_user, a.userid, 10);
        r.f8 = -1;
    }
    c.reply(&r);
}

// The server's interface level (compat 75) decides which fax line
// generation it answers; the other one is refused as a missing procedure.
bool faxl_generation(bool is_new, const Call &c)
{
    if ((compat().second >= 10) == is_new)
        return true;
    svcerr_noproc(c.xprt);
    return false;
}

void answer_faxl(Call &c)
{
    if (!faxl_generation(false, c))
        return;
    o_faxl r{};
    if (!c.refused()) {
        my_strncpy(r.name, c.arg<str10>(), 10);
        r.f5 = -2;
        r.f8 = -8;
        std::snprintf(r.f18, sizeof r.f18, "line %s", r.name);
    }
    c.reply(&r);
}

void answer_faxl_new(Call &c)
{
    if (!faxl_generation(true, c))
        return;
    const char *name = c.arg<o_get_faxl_new_i>().o_get_faxl_new_i_u.v0.name;
    o_get_faxl_new_o r{};
    r.error = c.error();
    r.faxl.version = static_cast<int>(c.number("version").value_or(0));
    // Filled as version 0 whatever the version says: a client reads no other.
    my_strncpy(r.faxl.o_faxl_new_u.v0.name, name, 10);
    r.faxl.o_faxl_new_u.v0.f20 = -20;
    std::snprintf(r.faxl.o_faxl_new_u.v0.f31, sizeof r.faxl.o_faxl_new_u.v0.f31, "new %s", name);
    c.reply(&r);
}

void answer_tgroupl_llb(Call &c)
{
    const auto &a = c.arg<o_get_tgroupl_llb_i>();
    auto nodes = make_chain<o_tgroupl_ll>(count_of(c), [&](o_tgroupl_ll &n, long i) {
        my_strncpy(n.entry.f1, a.user, 10);
        my_strncpy(n.entry.f2, a.f3, 10);
        std::snprintf(n.entry.f3, sizeof n.entry.f3, "m%ld", i % 100000000);
    });
    o_get_tgroupl_llb_o r{static_cast<long>(nodes.size()), head(nodes)};
    c.reply(&r);
}

#define ARG DEVSERVER_ARG
#define RES DEVSERVER_RES
#define NOTED(proc, arg, res, ...)                   \
    {                                                \
        proc, ARG(arg), RES(res), noted<__VA_ARGS__> \
    }
const devserver::Proc kCatalogue[] = {
    // The usrconf store, the event log and the clock.
    {A_GET_USRCONF, ARG(a_usrconf_i), RES(str80), get_usrconf},
    {A_PUT_USRCONF, ARG(a_put_usrconf_i), RES(bool), put_usrconf},
    {A_DEL_USRCONF, ARG(a_usrconf_i), RES(bool), del_usrconf},
    {A_DEL_USRCONF_NEW, ARG(a_usrconf_new_i), RES(bool), del_usrconf_new},
    {A_GET_USRCONF_NEW, ARG(a_usrconf_new_i), RES(a_get_usrconf_new_o), get_usrconf_new},
    {A_PUT_USRCONF_NEW, ARG(a_usrconf_new), RES(bool), put_usrconf_new},
    {A_A_LOG, ARG(zeile), RES(bool), a_log},
    {A_GET_JETZT, devserver::xdr_nothing, 0, RES(slong), get_jetzt},
    // Made-up answers.
    NOTED(A_MK_DOK, str10, slong, answer_mk_dok),
    NOTED(A_CP_DOK, a_cp_dok_i, bool, devserver::answer_bool),
    NOTED(A_DEL_DOK, a_del_dok_i, bool, devserver::answer_bool),
    NOTED(A_BIF, a_bif_i, bool, devserver::answer_bool),
    NOTED(A_DEL_PAGE, a_del_page_i, bool, devserver::answer_bool),
    NOTED(A_CP_PAGE, a_cp_page_i, bool, devserver::answer_bool),
    NOTED(A_GET_E_REC, a_get_e_rec_i, a_e_rec, answer_rec<a_get_e_rec_i, e_rec>),
    NOTED(A_GET_P_REC, a_get_p_rec_i, a_p_rec, answer_rec<a_get_p_rec_i, p_rec>),
    NOTED(A_GET_S_REC, a_get_s_rec_i, a_s_rec, answer_rec<a_get_s_rec_i, s_rec>),
    NOTED(A_PUT_LOG, a_put_log_i, bool, devserver::answer_bool),
    NOTED(A_GET_USER, str10, a_user_rec, answer_user),
    NOTED(A_INS_PAGE, a_ins_page_i, bool, devserver::answer_bool),
    NOTED(A_PUT_BIF, a_put_bif_i, bool, devserver::answer_bool),
    NOTED(A_FORWARD, a_forward_i, bool, devserver::answer_bool),
    NOTED(A_GET_PAGEB, a_get_pageb_i, a_get_pageb_o, answer_pageb),
    NOTED(A_PUT_PAGEB, a_put_pageb_i, bool, answer_put_pageb),
    NOTED(A_GET_CONFIG, a_get_config_i, str80, answer_config),
    {A_GET_COMPAT, devserver::xdr_nothing, 0, RES(compat_o), noted<answer_compat>},
    NOTED(A_EXC_BIF, a_exc_bif_i, a_exc_bif_o, answer_exc_bif),
    NOTED(A_GET_O_USER, a_get_o_user_i, o_user, answer_o_user),
    NOTED(A_GET_FAXL, str10, o_faxl, answer_faxl),
    NOTED(A_GET_TGROUPL_LLB, o_get_tgroupl_llb_i, o_get_tgroupl_llb_o, answer_tgroupl_llb),
    NOTED(A_GET_FAXL_NEW, o_get_faxl_new_i, o_get_faxl_new_o, answer_faxl_new),
    NOTED(A_GET_EB, a_get_eb_i, a_get_e_o, answer_block<a_get_eb_i, a_get_e_o, e_rec>),
    NOTED(A_GET_PB, a_get_pb_i, a_get_p_o, answer_block<a_get_pb_i, a_get_p_o, p_rec>),
    NOTED(A_GET_SB, a_get_sb_i, a_get_s_o, answer_block<a_get_sb_i, a_get_s_o, s_rec>),
    NOTED(A_GET_USRCONF_LL, a_usrconf_ll_i, a_usrconf_ll_o, answer_usrconf_ll),
    NOTED(A_EXC_STATUS, a_exc_status_i, a_exc_status_o, answer_exc_status),
    NOTED(A_APPLY_ROUTE_NEW, o_apply_route_new_i, o_apply_route_new_o, answer_route),
    NOTED(A_CHA_USERID, a_cha_userid_i, short, answer_status),
    NOTED(A_GET_S_REC_NEW_LL, a_get_s_rec_new_ll_i, a_get_s_rec_new_ll_o, answer_s_rec_new_ll),
    NOTED(A_GET_E_REC_NEW_LL, a_get_eb_i, a_get_e_rec_new_ll_o, answer_e_rec_new_ll),
};
#undef NOTED
#undef ARG
#undef RES

}  // namespace

int main(int argc, char **argv)
{
    g_opt = devserver::parse_options(argc, argv, "alphad", kHelp);
    load();
    return devserver::serve(g_opt, ALPHA_PROGRAM_BASE, kCatalogue);
}
