// Shared machinery of the development servers (see devserver.hpp).
#include "devserver.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpcb_clnt.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace devserver {

namespace {
volatile sig_atomic_t g_stop = 0;
Directives g_directives;

void on_signal(int) { g_stop = 1; }

std::string key_of(const std::string &verb, unsigned long proc)
{
    return verb + " " + std::to_string(proc);
}

void apply_line(Directives &d, const std::string &line)
{
    std::istringstream in(line);
    std::string verb;
    if (!(in >> verb) || verb[0] == '#')
        return;
    if (verb == "clock") {
        std::string v;
        in >> v;
        if (!v.empty() && v[0] == '=')
            d.clock_fixed = std::strtol(v.c_str() + 1, nullptr, 10);
        else
            d.clock_offset = std::strtol(v.c_str(), nullptr, 10);
        return;
    }
    if (verb == "nosave") {
        d.nosave = true;
        return;
    }
    std::string proc;
    in >> proc;
    std::vector<std::string> args;
    for (std::string a; in >> a;)
        args.push_back(a);
    d.by_proc[verb + " " + proc] = args;
}
}  // namespace

std::string escape(const std::string &s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == '%') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::vector<std::string>> read_table(const std::string &path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            fields.push_back(unescape(line.substr(start, tab - start)));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        rows.push_back(fields);
    }
    return rows;
}

bool write_table(const std::string &path, const std::vector<std::vector<std::string>> &rows)
{
    if (g_directives.nosave) {
        errno = ENOSPC;
        return false;
    }
    std::string tmp = path + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = true;
    for (const auto &row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            std::string field = escape(row[i]);
            ok = ok && std::fputs(field.c_str(), f) >= 0 &&
                 std::fputc(i + 1 < row.size() ? '\t' : '\n', f) != EOF;
        }
    }
    ok = (std::fflush(f) == 0) && ok && fsync(fileno(f)) == 0;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool_t xdr_nothing(XDR *, ...) { return TRUE; }

bool Directives::has(const std::string &verb, unsigned long proc) const
{
    return by_proc.count(key_of(verb, proc)) != 0;
}

std::optional<long> Directives::number(const std::string &verb, unsigned long proc) const
{
    auto it = by_proc.find(key_of(verb, proc));
    if (it == by_proc.end() || it->second.empty())
        return std::nullopt;
    return std::strtol(it->second[0].c_str(), nullptr, 10);
}

std::optional<std::string> Directives::text(const std::string &verb, unsigned long proc) const
{
    auto it = by_proc.find(key_of(verb, proc));
    if (it == by_proc.end())
        return std::nullopt;
    return it->second.empty() ? std::string() : it->second[0];
}

const Directives &directives() { return g_directives; }

void reload_directives(const Options &opt)
{
    Directives d;
    for (const auto &s : opt.sets)
        apply_line(d, s);
    if (!opt.control.empty()) {
        std::ifstream in(opt.control);
        for (std::string line; std::getline(in, line);)
            apply_line(d, line);
    }
    g_directives = d;
}

namespace {
std::span<const Proc> g_catalogue;

// Procedure 0 and the directives that apply before a request is decoded
// (noproc, systemerr, hang, exit without a key) come first; then the row's
// handler gets the request decoded into zeroed storage.
void dispatch(svc_req *rq, SVCXPRT *xprt)
{
    const unsigned long proc = rq->rq_proc;
    const Directives &d = g_directives;
    auto row = std::find_if(g_catalogue.begin(), g_catalogue.end(),
                            [&](const Proc &p) { return p.proc == proc; });
    if (proc == NULLPROC) {
        svc_sendreply(xprt, reinterpret_cast<xdrproc_t>(xdr_nothing), nullptr);
    } else if (d.has("noproc", proc)) {
        svcerr_noproc(xprt);
    } else if (d.has("systemerr", proc)) {
        svcerr_systemerr(xprt);
    } else if (d.has("hang", proc)) {
        while (!g_stop)
            pause();
    } else if (auto prefix = d.text("exit", proc); prefix && prefix->empty()) {
        _exit(3);
    } else if (row == g_catalogue.end()) {
        svcerr_noproc(xprt);
    } else {
        std::vector<long> storage(row->arg_size / sizeof(long) + 1, 0);
        Call call{*row, storage.data(), xprt};
        if (svc_getargs(xprt, row->arg, call.args))
            row->answer(call);
        else
            svcerr_decode(xprt);
        svc_freeargs(xprt, row->arg, call.args);
    }
}
}  // namespace

void Call::reply(const void *res) const { svc_sendreply(xprt, row.res, const_cast<void *>(res)); }

bool Call::refused() const { return g_directives.has("false", row.proc); }

std::optional<long> Call::number(const char *verb) const
{
    return g_directives.number(verb, row.proc);
}

short Call::error(short otherwise) const
{
    return static_cast<short>(number("error").value_or(otherwise));
}

void Call::exit_if_key(const char *key) const
{
    auto prefix = g_directives.text("exit", row.proc);
    if (prefix && !prefix->empty() && std::strncmp(key, prefix->c_str(), prefix->size()) == 0)
        _exit(3);
}

void answer_bool(Call &c, const std::function<bool()> &change)
{
    bool_t ok = !c.refused() && change();
    c.reply(&ok);
}

void answer_bool(Call &c)
{
    answer_bool(c, [] { return true; });
}

void answer_status(Call &c, const std::function<short()> &change)
{
    short status = c.refused() ? kFailed : change();
    status = c.error(status);
    c.reply(&status);
}

Options parse_options(int argc, char **argv, const char *name, const char *help)
{
    Options opt;
    if (const char *v = std::getenv("QUIRVERPCOFFSET"))
        opt.offset = std::strtol(v, nullptr, 10);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s: %s needs a value\n", name, a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--offset")
            opt.offset = std::strtol(value().c_str(), nullptr, 10);
        else if (a == "--data")
            opt.data = value();
        else if (a == "--log")
            opt.log = value();
        else if (a == "--control")
            opt.control = value();
        else if (a == "--pidfile")
            opt.pidfile = value();
        else if (a == "--set")
            opt.sets.push_back(value());
        else if (a == "--help" || a == "-h") {
            std::printf("%s", help);
            std::exit(0);
        } else {
            std::fprintf(stderr, "%s: unknown argument %s (see --help)\n", name, a.c_str());
            std::exit(2);
        }
    }
    return opt;
}

int serve(const Options &opt, unsigned long base, std::span<const Proc> catalogue)
{
    g_catalogue = catalogue;
    const unsigned long prog = base + opt.offset;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (sock < 0 || bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(sock, SOMAXCONN) != 0) {
        std::perror("bind");
        return 1;
    }
    SVCXPRT *xprt = svctcp_create(sock, 0, 0);
    if (xprt == nullptr) {
        std::fprintf(stderr, "cannot create the TCP service\n");
        return 1;
    }
    // Registered through rpcbind's own protocol with the bound address, so
    // that clients are sent to 127.0.0.1 and not to the wildcard address.
    netconfig *nconf = getnetconfigent("tcp");
    rpcb_unset(prog, 1, nullptr);
    pmap_unset(prog, 1);
    if (nconf == nullptr || !svc_reg(xprt, prog, 1, dispatch, nconf)) {
        std::fprintf(stderr, "cannot register program %lu with rpcbind\n", prog);
        return 1;
    }
    if (!opt.pidfile.empty()) {
        if (FILE *f = std::fopen(opt.pidfile.c_str(), "w")) {
            std::fprintf(f, "%ld\n", static_cast<long>(getpid()));
            std::fclose(f);
        }
    }
    reload_directives(opt);
    // libtirpc changes svc_pollfd while it serves (connections come and go),
    // so the loop polls a copy of it, as svc_run does.
    std::vector<pollfd> fds;
    while (!g_stop) {
        fds.assign(svc_pollfd, svc_pollfd + svc_max_pollfd);
        int n = poll(fds.data(), fds.size(), 200);
        if (n > 0) {
            reload_directives(opt);
            svc_getreq_poll(fds.data(), n);
        }
    }
    svc_unreg(prog, 1);
    freenetconfigent(nconf);
    return 0;
}

}  // namespace devserver
