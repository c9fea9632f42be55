// Development omega server: a route table and the system configuration,
// loaded from a data file and written back after every change. Enough of the
// omega program to run dialcred against.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
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
    "A route answers an apply request whose number equals NUMBER and whose\n"
    "qualifier equals QUALIFIER (an empty QUALIFIER matches any). Directives\n"
    "(--set, or lines of the control file): noproc P, systemerr P, false P,\n"
    "error P N, version P N, hang P, exit P, nosave. SIGTERM stops it.\n";

struct Route {
    std::string name, descr, number, qualifier, host, user, id, text;
    long value = 0;
};

devserver::Options g_opt;
std::vector<Route> g_routes;
std::map<std::string, std::string> g_config;
long g_compat[2] = {1, 10};

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
    return devserver::write_table(g_opt.data, rows);
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
