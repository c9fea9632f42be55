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
    using Record = Rec;
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

using devserver::Call;

const char *name_of(const Route &r) { return r.name.c_str(); }

template <class Rec>
Rec *find_named(std::vector<Rec> &rows, const char *name)
{
    for (Rec &r : rows)
        if (std::strcmp(name_of(r), name) == 0)
            return &r;
    return nullptr;
}

template <class Rec>
bool erase_named(std::vector<Rec> &rows, const char *name)
{
    Rec *found = find_named(rows, name);
    if (found != nullptr)
        rows.erase(rows.begin() + (found - rows.data()));
    return found != nullptr;
}

short saved() { return save() ? RPCLIB_OK : devserver::kFailed; }

template <class Rec>
short upsert(std::vector<Rec> &rows, const Rec &rec)
{
    if (Rec *old = find_named(rows, name_of(rec)))
        *old = rec;
    else
        rows.push_back(rec);
    return saved();
}

// The status of a versioned delete: RPCLIB_NO_ENTRY for a name not there.
template <class Rec>
short erase_status(std::vector<Rec> &rows, const char *name)
{
    return erase_named(rows, name) ? saved() : RPCLIB_NO_ENTRY;
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

// The rows as a list answer (nodes allocated as the XDR layer allocates
// them, so that xdr_free releases them), after the directives.
template <class List, class Rec>
void reply_list(Call &c, const std::vector<Rec> &rows, List answer)
{
    if (auto n = c.number("hostile")) {
        long count = *n;
        svc_sendreply(c.xprt, reinterpret_cast<xdrproc_t>(xdr_hostile), &count);
        return;
    }
    auto **link = &answer.list;
    for (const Rec &rec : rows) {
        auto *node = static_cast<std::remove_pointer_t<decltype(answer.list)> *>(
            std::calloc(1, sizeof **link));
        node->entry = rec;
        *link = node;
        link = &node->next;
    }
    answer.count = static_cast<decltype(answer.count)>(c.number("count").value_or(rows.size()));
    c.reply(&answer);
    xdr_free(c.row.res, reinterpret_cast<char *>(&answer));
}

// Put, get, list and delete of an unversioned table: bool answers, and a
// record with an empty name for a name that is not there.
template <auto &table>
using RecordOf = typename std::remove_reference_t<decltype(table)>::Record;

template <auto &table>
void put_rec(Call &c)
{
    devserver::answer_bool(
        c, [&] { return upsert(table.rows, c.arg<RecordOf<table>>()) == RPCLIB_OK; });
}

template <auto &table>
void get_rec(Call &c)
{
    RecordOf<table> r{};
    if (const auto *found = find_named(table.rows, c.arg<str10>()))
        r = *found;
    c.reply(&r);
}

template <class List, auto &table>
void list_recs(Call &c)
{
    reply_list(c, table.rows, List{});
}

template <auto &table>
void del_rec(Call &c)
{
    devserver::answer_bool(c, [&] { return erase_named(table.rows, c.arg<str10>()) && save(); });
}

void put_faxl_new(Call &c)
{
    devserver::answer_status(c, [&] { return upsert(g_faxl_new.rows, c.arg<o_faxl_new>()); });
}

void get_faxl_new(Call &c)
{
    // The name is the first field of both request versions.
    const char *name = c.arg<o_get_faxl_new_i>().o_get_faxl_new_i_u.v0.name;
    o_get_faxl_new_o r{};
    const o_faxl_new *found = find_named(g_faxl_new.rows, name);
    if (found != nullptr)
        r.faxl = as_version(*found, static_cast<int>(c.number("version").value_or(found->version)));
    r.error = c.error(found != nullptr ? RPCLIB_OK : RPCLIB_NO_ENTRY);
    c.reply(&r);
}

void list_faxl_new(Call &c)
{
    std::vector<o_faxl_new> view = g_faxl_new.rows;
    if (auto v = c.number("version"); v && !view.empty())
        view[0] = as_version(view[0], static_cast<int>(*v));
    o_get_faxl_new_ll_o answer{};
    answer.error = c.error();
    reply_list(c, view, answer);
}

void del_faxl_new(Call &c)
{
    devserver::answer_status(c, [&] {
        return erase_status(g_faxl_new.rows, c.arg<o_del_faxl_new_i>().o_del_faxl_new_i_u.v0.name);
    });
}

void put_config(Call &c)
{
    const auto &a = c.arg<o_config>();
    devserver::answer_bool(c, [&] {
        g_config[a.key] = a.value;
        return save();
    });
}

void get_config(Call &c)
{
    str80 v{};
    if (auto it = g_config.find(c.arg<str10>()); it != g_config.end())
        my_strncpy(v, it->second.c_str(), 80);
    c.reply(v);
}

void del_config(Call &c)
{
    devserver::answer_bool(c, [&] { return g_config.erase(c.arg<str10>()) == 1 && save(); });
}

void get_compat(Call &c)
{
    compat_o r{g_compat[0], g_compat[1]};
    c.reply(&r);
}

// A text into a fixed-width field, cut to its width.
template <size_t N>
void copy(char (&field)[N], const std::string &text)
{
    my_strncpy(field, text.c_str(), N - 1);
}

// A route as a record of either version (only the number is wider in 1).
template <class Record>
void fill(Record &out, const Route &r)
{
    copy(out.route_name, r.name);
    copy(out.descr, r.descr);
    copy(out.number, r.number);
    copy(out.qualifier, r.qualifier);
    copy(out.target_host, r.host);
    copy(out.target_user, r.user);
    copy(out.target_id, r.id);
    copy(out.target_text, r.text);
    out.target_value = r.value;
}

void put_route(Call &c)
{
    const auto &a = c.arg<o_route_new>();
    devserver::answer_status(c, [&] {
        if (a.version != 0)
            return devserver::kFailed;
        const o_route_v0 &v = a.o_route_new_u.v0;
        return upsert(g_routes, Route{v.route_name, v.descr, v.number, v.qualifier, v.target_host,
                                      v.target_user, v.target_id, v.target_text, v.target_value});
    });
}

void get_route(Call &c)
{
    const auto &a = c.arg<o_get_route_new_i>();
    const char *name = a.version == 0 ? a.o_get_route_new_i_u.v0.route_name
                                      : a.o_get_route_new_i_u.v1.route_name;
    o_get_route_new_o r{};
    const Route *found = find_named(g_routes, name);
    if (found != nullptr) {
        r.route.version = static_cast<int>(c.number("version").value_or(0));
        if (r.route.version == 1)
            fill(r.route.o_route_new_u.v1, *found);
        else
            fill(r.route.o_route_new_u.v0, *found);
    }
    r.error = c.error(found != nullptr ? RPCLIB_OK : RPCLIB_NO_ENTRY);
    c.reply(&r);
}

void apply_route(Call &c)
{
    const auto &a = c.arg<o_apply_route_new_i>();
    std::string number = a.version == 0 ? a.o_apply_route_new_i_u.v0.number
                                        : a.o_apply_route_new_i_u.v1.number;
    std::string qualifier = a.version == 0 ? a.o_apply_route_new_i_u.v0.qualifier
                                           : a.o_apply_route_new_i_u.v1.qualifier;
    o_apply_route_new_o r{};
    o_apply_route_new_o_v0 &out = r.o_apply_route_new_o_u.v0;
    out.error = RPCLIB_NO_ENTRY;
    for (const Route &route : g_routes) {
        if (route.number == number && (route.qualifier.empty() || route.qualifier == qualifier)) {
            copy(out.target_host, route.host);
            copy(out.target_user, route.user);
            copy(out.target_id, route.id);
            copy(out.target_text, route.text);
            out.target_value = route.value;
            out.error = RPCLIB_OK;
            break;
        }
    }
    out.error = c.error(out.error);
    r.version = static_cast<int>(c.number("version").value_or(0));
    c.reply(&r);
}

void del_route(Call &c)
{
    devserver::answer_status(c, [&] {
        return erase_status(g_routes, c.arg<o_del_route_new_i>().o_del_route_new_i_u.v0.route_name);
    });
}

#define ARG DEVSERVER_ARG
#define RES DEVSERVER_RES
const devserver::Proc kCatalogue[] = {
    {O_PUT_FAXG, ARG(o_faxg), RES(bool), put_rec<g_faxg>},
    {O_GET_FAXG, ARG(str10), RES(o_faxg), get_rec<g_faxg>},
    {O_GET_FAXG_LL, devserver::xdr_nothing, 0, RES(o_get_faxg_ll_o),
     list_recs<o_get_faxg_ll_o, g_faxg>},
    {O_DEL_FAXG, ARG(str10), RES(bool), del_rec<g_faxg>},
    {O_PUT_FAXL, ARG(o_faxl), RES(bool), put_rec<g_faxl>},
    {O_GET_FAXL, ARG(str10), RES(o_faxl), get_rec<g_faxl>},
    {O_GET_FAXL_LL, reinterpret_cast<xdrproc_t>(xdr_slong), sizeof(long), RES(o_get_faxl_ll_o),
     list_recs<o_get_faxl_ll_o, g_faxl>},
    {O_DEL_FAXL, ARG(str10), RES(bool), del_rec<g_faxl>},
    {O_PUT_CONFIG, ARG(o_config), RES(bool), put_config},
    {O_GET_CONFIG, ARG(str10), RES(str80), get_config},
    {O_DEL_CONFIG, ARG(str10), RES(bool), del_config},
    {O_GET_COMPAT, devserver::xdr_nothing, 0, RES(compat_o), get_compat},
    {O_PUT_ROUTE_NEW, ARG(o_route_new), RES(short), put_route},
    {O_GET_ROUTE_NEW, ARG(o_get_route_new_i), RES(o_get_route_new_o), get_route},
    {O_APPLY_ROUTE_NEW, ARG(o_apply_route_new_i), RES(o_apply_route_new_o), apply_route},
    {O_PUT_FAXL_NEW, ARG(o_faxl_new), RES(short), put_faxl_new},
    {O_GET_FAXL_NEW, ARG(o_get_faxl_new_i), RES(o_get_faxl_new_o), get_faxl_new},
    {O_GET_FAXL_NEW_LL, ARG(o_get_faxl_new_ll_i), RES(o_get_faxl_new_ll_o), list_faxl_new},
    {O_DEL_FAXL_NEW, ARG(o_del_faxl_new_i), RES(short), del_faxl_new},
    {O_DEL_ROUTE_NEW, ARG(o_del_route_new_i), RES(short), del_route},
};
#undef ARG
#undef RES

}  // namespace

int main(int argc, char **argv)
{
    g_opt = devserver::parse_options(argc, argv, "omegad", kHelp);
    load();
    return devserver::serve(g_opt, OMEGA_PROGRAM_BASE, kCatalogue);
}
