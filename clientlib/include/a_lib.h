/* Client library of the alpha RPC program (per-user configuration entries,
 * event log, clock, documents and the other tables of one alpha server). The
 * generated alpha.h declares the records, their XDR routines and the raw
 * stubs (a_..._1, returning a pointer to a static result that the next call of
 * the same stub overwrites, or NULL when the call failed). The wrappers below
 * (a_..._lib) return a code:
 *
 *   0 done; 2 no handle given and the default could not be created;
 *   16 the call failed (the default handle is let go, a caller's handle is
 *   kept) or a log line was too long (nothing sent, the handle kept); 24 usrconf read on an old
 * server with a key over 10 characters; 25 no such entry; 34 the server said no; otherwise the
 * server's own code.
 *
 * A NULL handle selects the process-wide default alpha handle, opened on first
 * use at alphahost(). Programs using this library should ignore SIGPIPE.
 * The wrappers of the rest of the program are declared in a_families.h.
 *
 * Which handles the library destroys:
 *   - a handle the caller passed in: never, also not after a failed call;
 *   - the default, when a wrapper called with NULL resolved it itself and
 *     the call failed: destroyed as it is forgotten, so the next call
 *     connects anew and no descriptor is lost;
 *   - the default that a_clnt handed to a caller: after a failed call only
 *     forgotten, since the caller may still hold it (close it with
 *     a_close_client_lib when done);
 *   - the default when a_open_client_lib without a handle variable replaces
 *     it: destroyed, unless a_clnt had handed it out.
 * Take the default through a_clnt, not by copying alpha_clnt_var: a copy
 * may be destroyed under you. A refusal that sends nothing (a log line over
 * 79 characters, a record version a wrapper does not send, a key too long
 * for an old server) keeps every handle.
 *
 * Every call ends within RPC_CALL_TIMEOUT_SECONDS in total, whatever the
 * server sends (rpccommon.h). Threads: as rpccommon.h says, one thread at
 * a time. */
#ifndef A_LIB_H
#define A_LIB_H

#include "rpccommon.h"
#include "alpha.h"
#include "a_families.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The default handle; NULL until first used or after a failed call. Read
 * it, do not keep it: take the default through a_clnt. */
extern CLIENT *alpha_clnt_var;

/* Creates a client for host (alphahost() when NULL or empty) into *clnt, or
 * into the default when clnt is NULL (the one replaced is destroyed unless
 * a_clnt handed it out). An explicit host needs a handle variable (24). 2
 * when no client could be created (nothing is changed). */
int a_open_client_lib(CLIENT **clnt, const char *host) RPCLIB_NOEXCEPT;
/* Destroys clnt, or the default when clnt is NULL (the default is forgotten
 * also when clnt is it); 2 when nothing to close. */
int a_close_client_lib(CLIENT *clnt) RPCLIB_NOEXCEPT;
/* Leaves a caller's handle in *clnt alone; otherwise opens the default if
 * needed and copies it into *clnt, after which the library no longer
 * destroys it on a failed call. 0, or 2 when the default cannot be made. */
int a_clnt(CLIENT **clnt) RPCLIB_NOEXCEPT;
/* Forgets the default if clnt is it, without destroying it (for a program
 * that calls the stubs itself and holds the handle). */
void a_clear(CLIENT *clnt) RPCLIB_NOEXCEPT;

/* usrconf entries: a value of up to 80 characters under (userid, key). The
 * new procedures (keys up to 30 characters) are tried first; only when the
 * server does not offer them are the old ones (keys up to 10) used. */

/* Reads into value (81 bytes; set to "" first). Returns 0, the server's
 * error code, 24, 25 (old server: empty value) or 16. */
int a_get_usrconf_lib(CLIENT *clnt, const char *userid, const char *key,
                      char *value) RPCLIB_NOEXCEPT;
/* Writes value (cut to 80). 0, 34 when refused, 16. */
int a_put_usrconf_lib(CLIENT *clnt, const char *userid, const char *key,
                      const char *value) RPCLIB_NOEXCEPT;
/* Deletes. 0, 34 when refused, 16. */
int a_del_usrconf_lib(CLIENT *clnt, const char *userid, const char *key) RPCLIB_NOEXCEPT;
/* Sends one line (at most 79 characters, sent with its NUL) to the event log;
 * a longer line is not sent and gives 16, the handle kept. The server's
 * answer is not read. */
int a_a_log_lib(CLIENT *clnt, const char *text) RPCLIB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
