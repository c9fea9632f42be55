// Shared machinery of the project's development omega and alpha servers:
// registration with rpcbind on loopback, the request loop that ends cleanly on
// SIGTERM, the text files they keep their tables in (saved by write-to-
// temporary-and-rename, so a killed server loses no entry), and the behaviour
// directives with which tests make a procedure misbehave.
#pragma once

#include <rpc/rpc.h>

#include <functional>
#include <map>
#include <optional>
#include <span>
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
//   false P         a change of P is not made, its bool answer is FALSE (a
//                   status answer: 1)
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
    long offset = 0;      // added to the base program number
    std::string data;     // table file
    std::string log;      // event log file (alpha)
    std::string control;  // control file, read before each request
    std::string pidfile;
    std::vector<std::string> sets;  // --set directives
};

// Parses the common command line; prints usage and exits on --help or error.
Options parse_options(int argc, char **argv, const char *name, const char *help);

// The directives in force now (--set lines, then the control file).
const Directives &directives();
void reload_directives(const Options &opt);

struct Call;

// One procedure of a server's catalogue. The dispatcher answers procedure 0
// and the directives noproc, systemerr, hang and exit itself, decodes the
// request into a zeroed object of arg_size bytes and hands it to the handler.
struct Proc {
    unsigned long proc;  // the generated constant, e.g. O_APPLY_ROUTE_NEW
    xdrproc_t arg;       // decodes the request
    size_t arg_size;
    xdrproc_t res;           // encodes the answer
    void (*answer)(Call &);  // answers (or, to misbehave, does not)
};

// A row's request routine and size, and its answer routine, by type name.
#define DEVSERVER_ARG(t) reinterpret_cast<xdrproc_t>(xdr_##t), sizeof(t)
#define DEVSERVER_RES(t) reinterpret_cast<xdrproc_t>(xdr_##t)

// A request being answered: its row, its decoded arguments, its connection.
struct Call {
    const Proc &row;
    void *args;
    SVCXPRT *xprt;

    template <class T>
    T &arg() const
    {
        return *static_cast<T *>(args);
    }
    // Sends res through the row's answer routine.
    void reply(const void *res) const;
    // The directives of this procedure: `false P`, and the N of `VERB P N`.
    bool refused() const;
    std::optional<long> number(const char *verb) const;
    short error(short otherwise = 0) const;  // `error P N`, else otherwise
    // `exit P PREFIX`: ends the process when key begins with PREFIX.
    void exit_if_key(const char *key) const;
};

// The answers of a change. Under `false P` the change is not made and the
// answer is FALSE, or the status 1; else the change's own answer, which for a
// status answer `error P N` replaces with N.
constexpr short kFailed = 1;  // a status answer's "not done"
void answer_bool(Call &c, const std::function<bool()> &change);
void answer_bool(Call &c);  // nothing to change: TRUE unless `false P`
void answer_status(Call &c, const std::function<short()> &change);

// An answer that carries no data.
bool_t xdr_nothing(XDR *, ...);

// Registers the catalogue as program base + offset, version 1, over TCP on
// 127.0.0.1, and serves until SIGTERM or SIGINT; unregisters and returns 0.
// A procedure without a row is answered as unavailable.
int serve(const Options &opt, unsigned long base, std::span<const Proc> catalogue);

}  // namespace devserver
