// The parts of dialcred and how they call each other. The command runs one
// fixed sequence in a single thread and ends through exit() at the first
// refusal; the message buffers are process-wide and shared by every step.
#pragma once

#include <rpc/rpc.h>

#include <cstddef>

// The alpha handle of this run: set once, by main, to the client for the
// alpha host of the extension's route; never closed.
extern CLIENT *a_client;

// Messages that embed a number or a name are composed here first.
constexpr std::size_t kLogBufSize = 1000;
extern char logbuf[kLogBufSize];

// Message levels: 0 log line (standard error and the alpha event log),
// 1 and 2 user text and internal errors (standard output), 3 and more both.
// A log line carries no control character: each becomes "?".
int wlog(int level, const char *text);
// "internal error: <text>" at level 2; returns the constant empty text.
const char *cgi_error(const char *text);
// "internal error: <function> returns <LDAP text for code>".
const char *myldap_error(int code, const char *function);

// Reads one usrconf entry of user into value (81 bytes); on any failure the
// value is def, or the empty text when def is null.
void GetConfig(CLIENT *clnt, const char *user, const char *key, const char *def, char *value);

// One attempt at a time per alpha host, alpha user and extension on this
// machine: an exclusive lock on a file in $DIALCRED_LOCKDIR (default
// /run/lock/dialcred). Returns the locked descriptor, or -1 when no lock file
// could be made or trusted (a level-0 notice says why; the server-side
// counter stays the floor). Refuses the attempt and exits with status 1 when
// the lock is not had within 60 seconds.
int lock_attempts(const char *host, const char *user, const char *extension);
// Releases what lock_attempts returned (-1: nothing).
void unlock_attempts(int fd);

// The failed-attempt throttle: counts this attempt, may sleep up to 59
// seconds, or refuses the attempt and exits with status 1. A counter key
// the alpha server cannot read (RPCLIB_NOT_SENT) is refused before anything is
// written.
void check_delay(CLIENT *clnt, const char *user, const char *extension);
// Counts one attempt in the counter value "%lu %d" (rewritten in place, 81
// bytes); 1 when the count was held at its cap.
int inc(CLIENT *clnt, char *value, int base);

// The mailbox user name of the extension from the directory, or the empty
// text; writes the IMAP host (81 bytes).
const char *restest(CLIENT *clnt, const char *user, const char *extension, char *imaphost);

// 1 when the mail server accepted the login, else 0.
int imap4login(const char *imaphost, const char *user, const char *password);
