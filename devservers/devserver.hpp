// Shared machinery of the project's development omega and alpha servers:
// registration with rpcbind on loopback, the request loop that ends cleanly on
// SIGTERM, the text files they keep their tables in (saved by write-to-
// temporary-and-rename, so a killed server loses no entry), and the behaviour
// directives with which tests make a procedure misbehave.
#pragma once

#include <rpc/rpc.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

// Table files: one record a line, fields separated by tabs; bytes below 0x20
// and '%' are written as %XX so that any value survives.
std::string escape(const std::string &s);
std::string unescape(const std::string &s);
std::vector<std::vector<std::string>> read_table(const std::string &path);
// Writes all lines to path atomically; false (and errno) on failure.
bool write_table(const std::string &path, const std::vector<std::vector<std::string>> &rows);

// Behaviour directives, one a line, from --set arguments and from a control
// file that is read again before every request (so a test can change them
// while the server runs):
//   clock +N | clock -N | clock =N   server time offset, or a fixed time
//   noproc P        answer procedure P with PROC_UNAVAIL
//   systemerr P     answer P with SYSTEM_ERR
//   false P         a bool answer of P is FALSE (a status answer: 1)
//   error P N       the error/status field of P's answer is N
//   version P N     the record version in P's answer is N
//   hang P          never answer P
//   exit P [PREFIX] end the process, without answering, when P arrives (and
//                   its key begins with PREFIX)
//   nosave          the store file cannot be written (as on a full disk)
struct Directives {
    long clock_offset = 0;
    std::optional<long> clock_fixed;
    std::map<std::string, std::vector<std::string>> by_proc;  // "verb P" -> args
    bool nosave = false;

    bool has(const std::string &verb, unsigned long proc) const;
    std::optional<long> number(const std::string &verb, unsigned long proc) const;
    std::optional<std::string> text(const std::string &verb, unsigned long proc) const;
};

struct Options {
    long offset = 0;                // added to the base program number
    std::string data;               // table file
    std::string log;                // event log file (alpha)
    std::string control;            // control file, read before each request
    std::string pidfile;
    std::vector<std::string> sets;  // --set directives
};

// Parses the common command line; prints usage and exits on --help or error.
Options parse_options(int argc, char **argv, const char *name, const char *help);

// The directives in force now (--set lines, then the control file).
const Directives &directives();
void reload_directives(const Options &opt);

// Handles the directives that apply to every procedure before it is decoded:
// noproc, systemerr, hang, exit (without a key). Returns true when the
// request has been dealt with and the dispatcher must not answer it.
bool misbehave(unsigned long proc, SVCXPRT *xprt);
// The part of every dispatcher before its own procedures: the null
// procedure, then misbehave(). True when the request has been dealt with.
bool handled_generically(unsigned long proc, SVCXPRT *xprt);

// exit with a key prefix, for procedures that carry a key.
void exit_if_key(unsigned long proc, const char *key);

// Decodes the arguments of a request into a zeroed object; answers a
// decoding error itself and returns false when they do not decode.
template <class T>
bool get_args(SVCXPRT *xprt, xdrproc_t fn, T *arg)
{
    std::memset(static_cast<void *>(arg), 0, sizeof *arg);
    if (!svc_getargs(xprt, fn, reinterpret_cast<char *>(arg))) {
        svcerr_decode(xprt);
        return false;
    }
    return true;
}

template <class T>
void free_args(SVCXPRT *xprt, xdrproc_t fn, T *arg)
{
    svc_freeargs(xprt, fn, reinterpret_cast<char *>(arg));
}

inline void reply(SVCXPRT *xprt, xdrproc_t fn, void *res)
{
    svc_sendreply(xprt, fn, reinterpret_cast<char *>(res));
}

// An answer that carries no data.
bool_t xdr_nothing(XDR *, ...);

// Registers the dispatcher for base + offset, version 1, over TCP on
// 127.0.0.1, and serves until SIGTERM or SIGINT; unregisters and returns 0.
int serve(const Options &opt, unsigned long base, void (*dispatch)(svc_req *, SVCXPRT *));

}  // namespace devserver
