// Development omega server: a route table, the system configuration and the
// fax group and fax line tables, loaded from a data file and written back
// after every change. Enough of the omega program to run dialcred and the
// library's tests against.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "devserver.hpp"
#include "o_lib.h"

namespace {

const char kHelp[] =
    "usage: omegad [--offset N] [--data FILE] [--control FILE] [--pidfile FILE]\n"
    "              [--set DIRECTIVE]...\n"
    "Development omega server on 127.0.0.1, registered with rpcbind as program\n"
    "16011931 + N (N from --offset or QUIRVERPCOFFSET), version 1, TCP.\n"
    "FILE holds one entry a line, fields separated by tabs:\n"
    "  route NAME DESCR NUMBER QUALIFIER HOST USER ID TEXT VALUE\n"
    "  config KEY VALUE\n"
    "  compat FIRST SECOND\n"
    "  faxg FIELDS...          the fields of an o_faxg, in order\n"
    "  faxl FIELDS...          the fields of an o_faxl\n"
    "  faxl_new VERSION FIELDS...  an o_faxl_new of version 0 or 1\n"
    "(the fields as the library's readers take them, one per cell). Lists\n"
    "answer the whole table in file order; their long request is ignored.\n"
    "A route answers an apply request whose number equals NUMBER and whose\n"
    "qualifier equals QUALIFIER (an empty QUALIFIER matches any). Directives\n"
    "(--set, or lines of the control file): noproc P, systemerr P, false P,\n"
    "error P N, version P N, hang P, exit P, nosave; for list procedures also\n"
    "count P N (the answer's count is N, the chain unchanged) and hostile P N\n"
    "(count N and N presence flags with no entries behind them); version 104 N\n"
    "applies to the first element only. SIGTERM stops it.\n";

struct Route {
    std::string name, descr, number, qualifier, host, user, id, text;
    long value = 0;
};

// A table of fixed-width records, kept in the data file in the library's
// text form: its printer with a newline separator writes one field per cell,
// its reader reads them back.
template <class Rec>
struct Table {
    const char *tag;
    void (*print)(FILE *, const Rec *, const char *);
    int (*read)(FILE *, Rec *);
    std::vector<Rec> rows;

    void load(const std::vector<std::string> &row)
    {
        std::string text;
        for (size_t i = 1; i < row.size(); ++i)
            text += row[i] + "\n";
        Rec rec{};
        FILE *f = text.empty() ? nullptr : fmemopen(text.data(), text.size(), "r");
        if (f != nullptr && read(f, &rec))
            rows.push_back(rec);
        else
            std::fprintf(stderr, "omegad: %s entry not read\n", tag);
        if (f != nullptr)
            std::fclose(f);
    }

    void save(std::vector<std::vector<std::string>> &out) const
    {
        for (const Rec &rec : rows) {
            char *buf = nullptr;
            size_t len = 0;
            FILE *f = open_memstream(&buf, &len);
            if (f == nullptr)
                continue;
            print(f, &rec, "\n");
            std::fclose(f);
            std::vector<std::string> cells{tag};
            for (size_t start = 0; start < len;) {
                size_t nl = std::string_view(buf, len).find('\n', start);
                cells.emplace_back(buf + start, (nl == std::string_view::npos ? len : nl) - start);
                start = nl == std::string_view::npos ? len : nl + 1;
            }
            std::free(buf);
            out.push_back(cells);
        }
    }
};

const char *name_of(const o_faxg &r) { return r.name; }
const char *name_of(const o_faxl &r) { return r.name; }
// The name is the first field of both versions.
const char *name_of(const o_faxl_new &r) { return r.o_faxl_new_u.v0.name; }

devserver::Options g_opt;
std::vector<Route> g_routes;
std::map<std::string, std::string> g_config;
long g_compat[2] = {1, 10};
Table<o_faxg> g_faxg{"faxg", fprint_o_faxg, frd_o_faxg, {}};
Table<o_faxl> g_faxl{"faxl", fprint_o_faxl, frd_o_faxl, {}};
Table<o_faxl_new> g_faxl_new{"faxl_new", fprint_o_faxl_new, frd_o_faxl_new, {}};

void load()
{
    for (const auto &row : devserver::read_table(g_opt.data)) {
        if (row.empty())
            continue;
        if (row[0] == "route" && row.size() >= 10) {
            g_routes.push_back({row[1], row[2], row[3], row[4], row[5], row[6], row[7], row[8],
                                std::strtol(row[9].c_str(), nullptr, 10)});
        } else if (row[0] == "config" && row.size() >= 3) {
            g_config[row[1]] = row[2];
        } else if (row[0] == "compat" && row.size() >= 3) {
            g_compat[0] = std::strtol(row[1].c_str(), nullptr, 10);
            g_compat[1] = std::strtol(row[2].c_str(), nullptr, 10);
        } else if (row[0] == g_faxg.tag) {
            g_faxg.load(row);
        } else if (row[0] == g_faxl.tag) {
            g_faxl.load(row);
        } else if (row[0] == g_faxl_new.tag) {
            g_faxl_new.load(row);
        }
    }
}

bool save()
{
    if (g_opt.data.empty())
        return true;
    std::vector<std::vector<std::string>> rows;
    for (const auto &r : g_routes)
        rows.push_back({"route", r.name, r.descr, r.number, r.qualifier, r.host, r.user, r.id,
                        r.text, std::to_string(r.value)});
    for (const auto &[k, v] : g_config)
        rows.push_back({"config", k, v});
    rows.push_back({"compat", std::to_string(g_compat[0]), std::to_string(g_compat[1])});
    g_faxg.save(rows);
    g_faxl.save(rows);
    g_faxl_new.save(rows);
    return devserver::write_table(g_opt.data, rows);
}

template <class Rec>
Rec *find(Table<Rec> &table, const char *name)
{
    for (Rec &r : table.rows)
        if (std::strcmp(name_of(r), name) == 0)
            return &r;
    return nullptr;
}

template <class Rec>
bool erase(Table<Rec> &table, const char *name)
{
    for (auto it = table.rows.begin(); it != table.rows.end(); ++it) {
        if (std::strcmp(name_of(*it), name) == 0) {
            table.rows.erase(it);
            return true;
        }
    }
    return false;
}

template <class Rec>
void upsert(Table<Rec> &table, const Rec &rec)
{
    if (Rec *old = find(table, name_of(rec)))
        *old = rec;
    else
        table.rows.push_back(rec);
}

// The record as version v: a version-0 record becomes version 1 through its
// text form (field 34 empty); any other change only relabels it, which lets
// a test send a version that does not decode.
o_faxl_new as_version(const o_faxl_new &rec, int v)
{
    o_faxl_new out = rec;
    if (rec.version == 0 && v == 1) {
        char *buf = nullptr;
        size_t len = 0;
        FILE *w = open_memstream(&buf, &len);
        fprint_o_faxl_new(w, &rec, "\n");
        std::fclose(w);
        FILE *r = fmemopen(buf, len, "r");
        out = o_faxl_new{};
        frd_o_faxl_new_v1(r, &out);
        std::fclose(r);
        std::free(buf);
    }
    out.version = v;
    return out;
}

// A list answer of count n whose n presence flags have no entries behind
// them, as a broken or hostile server might send.
bool_t xdr_hostile(XDR *xdrs, long *n)
{
    long count = *n;
    if (!xdr_slong(xdrs, &count))
        return FALSE;
    for (long i = 0; i <= count; ++i) {
        bool_t more = i < count;
        if (!xdr_bool(xdrs, &more))
            return FALSE;
    }
    return TRUE;
}

// The whole table as a list answer (nodes allocated as the XDR layer
// allocates them, so that xdr_free releases them), after the directives.
template <class List, class Rec>
void reply_list(SVCXPRT *xprt, unsigned long proc, const Table<Rec> &table,
                bool_t (*xdr_list)(XDR *, List *), List answer)
{
    const auto &d = devserver::directives();
    if (auto n = d.number("hostile", proc)) {
        long count = *n;
        devserver::reply(xprt, (xdrproc_t)xdr_hostile, &count);
        return;
    }
    auto **link = &answer.list;
    for (const Rec &rec : table.rows) {
        auto *node = static_cast<std::remove_pointer_t<decltype(answer.list)> *>(
            std::calloc(1, sizeof **link));
        node->entry = rec;
        *link = node;
        link = &node->next;
    }
    answer.count = static_cast<decltype(answer.count)>(table.rows.size());
    if (auto n = d.number("count", proc))
        answer.count = static_cast<decltype(answer.count)>(*n);
    devserver::reply(xprt, (xdrproc_t)xdr_list, &answer);
    xdr_free((xdrproc_t)xdr_list, reinterpret_cast<char *>(&answer));
}

// Put, get, list and delete of an unversioned table: bool answers, and a
// record with an empty name for a name that is not there.
template <class Rec, class List, class ListReq>
void serve_plain(SVCXPRT *xprt, unsigned long proc, unsigned long first, Table<Rec> &table,
                 bool_t (*xdr_rec)(XDR *, Rec *), bool_t (*xdr_list)(XDR *, List *),
                 bool_t (*xdr_list_req)(XDR *, ListReq *))
{
    const auto &d = devserver::directives();
    bool_t ok = !d.has("false", proc);
    if (proc == first) {  // put
        Rec a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_rec, &a))
            return;
        if (ok) {
            upsert(table, a);
            ok = save();
        }
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &ok);
    } else if (proc == first + 1) {  // get
        str10 key;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_str10, &key))
            return;
        Rec r{};
        if (const Rec *found = find(table, key))
            r = *found;
        devserver::reply(xprt, (xdrproc_t)xdr_rec, &r);
    } else if (proc == first + 2) {  // list
        ListReq req;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_list_req, &req))
            return;
        reply_list(xprt, proc, table, xdr_list, List{});
    } else {  // delete
        str10 key;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_str10, &key))
            return;
        ok = ok && erase(table, key) && save();
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &ok);
    }
}

// The status of a versioned put or delete after the directives.
short status_after(unsigned long proc, short status)
{
    const auto &d = devserver::directives();
    if (d.has("false", proc))
        status = 1;
    if (auto e = d.number("error", proc))
        status = static_cast<short>(*e);
    return status;
}

void serve_faxl_new(SVCXPRT *xprt, unsigned long proc)
{
    const auto &d = devserver::directives();
    switch (proc) {
    case O_PUT_FAXL_NEW: {
        o_faxl_new a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_faxl_new, &a))
            return;
        short status = 0;
        if (!d.has("false", proc)) {
            upsert(g_faxl_new, a);
            status = save() ? 0 : 1;
        }
        status = status_after(proc, status);
        devserver::reply(xprt, (xdrproc_t)xdr_short, &status);
        return;
    }
    case O_GET_FAXL_NEW: {
        o_get_faxl_new_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_get_faxl_new_i, &a))
            return;
        // The name is the first field of both request versions.
        o_get_faxl_new_o r{};
        if (const o_faxl_new *found = find(g_faxl_new, a.o_get_faxl_new_i_u.v0.name)) {
            long v = d.number("version", proc).value_or(found->version);
            r.faxl = as_version(*found, static_cast<int>(v));
        } else {
            r.error = 25;
        }
        if (auto e = d.number("error", proc))
            r.error = static_cast<short>(*e);
        devserver::reply(xprt, (xdrproc_t)xdr_o_get_faxl_new_o, &r);
        return;
    }
    case O_GET_FAXL_NEW_LL: {
        o_get_faxl_new_ll_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_get_faxl_new_ll_i, &a))
            return;
        Table<o_faxl_new> view = g_faxl_new;
        if (auto v = d.number("version", proc); v && !view.rows.empty())
            view.rows[0] = as_version(view.rows[0], static_cast<int>(*v));
        o_get_faxl_new_ll_o answer{};
        answer.error = static_cast<short>(d.number("error", proc).value_or(0));
        reply_list(xprt, proc, view, xdr_o_get_faxl_new_ll_o, answer);
        return;
    }
    case O_DEL_FAXL_NEW: {
        o_del_faxl_new_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_del_faxl_new_i, &a))
            return;
        short status = 25;
        if (erase(g_faxl_new, a.o_del_faxl_new_i_u.v0.name))
            status = save() ? 0 : 1;
        status = status_after(proc, status);
        devserver::reply(xprt, (xdrproc_t)xdr_short, &status);
        return;
    }
    }
}

Route *find_route(const std::string &name)
{
    for (auto &r : g_routes)
        if (r.name == name)
            return &r;
    return nullptr;
}

void fill_v0(o_route_v0 &out, const Route &r)
{
    my_strncpy(out.route_name, r.name.c_str(), 10);
    my_strncpy(out.descr, r.descr.c_str(), 30);
    my_strncpy(out.number, r.number.c_str(), 10);
    my_strncpy(out.qualifier, r.qualifier.c_str(), 20);
    my_strncpy(out.target_host, r.host.c_str(), 35);
    my_strncpy(out.target_user, r.user.c_str(), 10);
    my_strncpy(out.target_id, r.id.c_str(), 10);
    my_strncpy(out.target_text, r.text.c_str(), 35);
    out.target_value = r.value;
}

// The empty request of the faxg list.
bool_t xdr_void_arg(XDR *, char *) { return TRUE; }

void dispatch(svc_req *rq, SVCXPRT *xprt)
{
    const unsigned long proc = rq->rq_proc;
    if (devserver::handled_generically(proc, xprt))
        return;
    const auto &d = devserver::directives();
    switch (proc) {
    case O_PUT_CONFIG: {
        o_config a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_config, &a))
            return;
        bool_t ok = !d.has("false", proc);
        if (ok) {
            g_config[a.key] = a.value;
            ok = save();
        }
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &ok);
        return;
    }
    case O_GET_CONFIG: {
        str10 key;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_str10, &key))
            return;
        str80 v{};
        auto it = g_config.find(key);
        if (it != g_config.end())
            my_strncpy(v, it->second.c_str(), 80);
        devserver::reply(xprt, (xdrproc_t)xdr_str80, &v);
        return;
    }
    case O_DEL_CONFIG: {
        str10 key;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_str10, &key))
            return;
        bool_t ok = !d.has("false", proc) && g_config.erase(key) == 1 && save();
        devserver::reply(xprt, (xdrproc_t)xdr_bool, &ok);
        return;
    }
    case O_GET_COMPAT: {
        compat_o r{g_compat[0], g_compat[1]};
        devserver::reply(xprt, (xdrproc_t)xdr_compat_o, &r);
        return;
    }
    case O_PUT_ROUTE_NEW: {
        o_route_new a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_route_new, &a))
            return;
        short status = 1;
        if (a.version == 0 && !d.has("false", proc)) {
            const o_route_v0 &v = a.o_route_new_u.v0;
            Route r{v.route_name, v.descr, v.number, v.qualifier, v.target_host,
                    v.target_user, v.target_id, v.target_text, v.target_value};
            if (Route *old = find_route(r.name))
                *old = r;
            else
                g_routes.push_back(r);
            status = save() ? 0 : 1;
        }
        if (auto e = d.number("error", proc))
            status = static_cast<short>(*e);
        devserver::reply(xprt, (xdrproc_t)xdr_short, &status);
        return;
    }
    case O_GET_ROUTE_NEW: {
        o_get_route_new_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_get_route_new_i, &a))
            return;
        const char *name = a.version == 0 ? a.o_get_route_new_i_u.v0.route_name
                                          : a.o_get_route_new_i_u.v1.route_name;
        o_get_route_new_o r{};
        if (const Route *found = find_route(name)) {
            long version = d.number("version", proc).value_or(0);
            r.route.version = static_cast<int>(version);
            if (version == 1) {
                o_route_v0 v0{};
                fill_v0(v0, *found);
                o_route_v1 &v1 = r.route.o_route_new_u.v1;
                std::memcpy(v1.route_name, v0.route_name, sizeof v1.route_name);
                std::memcpy(v1.descr, v0.descr, sizeof v1.descr);
                my_strncpy(v1.number, found->number.c_str(), 20);
                std::memcpy(v1.qualifier, v0.qualifier, sizeof v1.qualifier);
                std::memcpy(v1.target_host, v0.target_host, sizeof v1.target_host);
                std::memcpy(v1.target_user, v0.target_user, sizeof v1.target_user);
                std::memcpy(v1.target_id, v0.target_id, sizeof v1.target_id);
                std::memcpy(v1.target_text, v0.target_text, sizeof v1.target_text);
                v1.target_value = v0.target_value;
            } else {
                fill_v0(r.route.o_route_new_u.v0, *found);
            }
        } else {
            r.error = 25;
        }
        if (auto e = d.number("error", proc))
            r.error = static_cast<short>(*e);
        devserver::reply(xprt, (xdrproc_t)xdr_o_get_route_new_o, &r);
        return;
    }
    case O_APPLY_ROUTE_NEW: {
        o_apply_route_new_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_apply_route_new_i, &a))
            return;
        std::string number = a.version == 0 ? a.o_apply_route_new_i_u.v0.number
                                            : a.o_apply_route_new_i_u.v1.number;
        std::string qualifier = a.version == 0 ? a.o_apply_route_new_i_u.v0.qualifier
                                               : a.o_apply_route_new_i_u.v1.qualifier;
        o_apply_route_new_o r{};
        r.version = 0;
        o_apply_route_new_o_v0 &out = r.o_apply_route_new_o_u.v0;
        out.error = 25;
        for (const Route &route : g_routes) {
            if (route.number == number &&
                (route.qualifier.empty() || route.qualifier == qualifier)) {
                my_strncpy(out.target_host, route.host.c_str(), 35);
                my_strncpy(out.target_user, route.user.c_str(), 10);
                my_strncpy(out.target_id, route.id.c_str(), 10);
                my_strncpy(out.target_text, route.text.c_str(), 35);
                out.target_value = route.value;
                out.error = 0;
                break;
            }
        }
        if (auto e = d.number("error", proc))
            out.error = static_cast<short>(*e);
        if (auto v = d.number("version", proc))
            r.version = static_cast<int>(*v);
        devserver::reply(xprt, (xdrproc_t)xdr_o_apply_route_new_o, &r);
        return;
    }
    case O_DEL_ROUTE_NEW: {
        o_del_route_new_i a;
        if (!devserver::get_args(xprt, (xdrproc_t)xdr_o_del_route_new_i, &a))
            return;
        short status = 25;
        for (auto it = g_routes.begin(); it != g_routes.end(); ++it) {
            if (it->name == a.o_del_route_new_i_u.v0.route_name) {
                g_routes.erase(it);
                status = save() ? 0 : 1;
                break;
            }
        }
        if (auto e = d.number("error", proc))
            status = static_cast<short>(*e);
        devserver::reply(xprt, (xdrproc_t)xdr_short, &status);
        return;
    }
    case O_PUT_FAXG:
    case O_GET_FAXG:
    case O_GET_FAXG_LL:
    case O_DEL_FAXG:
        serve_plain(xprt, proc, O_PUT_FAXG, g_faxg, xdr_o_faxg, xdr_o_get_faxg_ll_o, xdr_void_arg);
        return;
    case O_PUT_FAXL:
    case O_GET_FAXL:
    case O_GET_FAXL_LL:
    case O_DEL_FAXL:
        serve_plain(xprt, proc, O_PUT_FAXL, g_faxl, xdr_o_faxl, xdr_o_get_faxl_ll_o, xdr_slong);
        return;
    case O_PUT_FAXL_NEW:
    case O_GET_FAXL_NEW:
    case O_GET_FAXL_NEW_LL:
    case O_DEL_FAXL_NEW:
        serve_faxl_new(xprt, proc);
        return;
    default:
        svcerr_noproc(xprt);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    g_opt = devserver::parse_options(argc, argv, "omegad", kHelp);
    load();
    return devserver::serve(g_opt, OMEGA_PROGRAM_BASE, dispatch);
}
