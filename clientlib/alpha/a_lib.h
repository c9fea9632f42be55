/* Client library of the alpha RPC program (per-user configuration entries,
 * event log, clock, documents and the other tables of one alpha server). The
 * generated alpha.h declares the records, their XDR routines and the raw
 * stubs (a_..._1, returning a pointer to a static result that the next call of
 * the same stub overwrites, or NULL when the call failed). The wrappers below
 * (a_..._lib) return a code:
 *
 *   0 done; 2 no handle given and the default could not be created;
 *   16 the call failed (the default handle is forgotten, a caller's handle is
 *   kept); 24 usrconf read on an old server with a key over 10 characters;
 *   25 no such entry; 34 the server said no; otherwise the server's own code.
 *
 * A NULL handle selects the process-wide default alpha handle, opened on first
 * use at alphahost(). Programs using this library should ignore SIGPIPE.
 * The wrappers of the rest of the program are declared in a_families.h. */
#ifndef A_LIB_H
#define A_LIB_H

#include "rpccommon.h"
#include "alpha.h"
#include "a_families.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The default handle; NULL until first used or after a failed call. */
extern CLIENT *alpha_clnt_var;

/* Creates a client for host (alphahost() when NULL or empty) into *clnt, or
 * into the default when clnt is NULL. An explicit host needs a handle
 * variable (24). 2 when no client could be created (nothing is changed). */
int a_open_client_lib(CLIENT **clnt, const char *host) RPCLIB_NOEXCEPT;
/* Destroys clnt, or the default when clnt is NULL; 2 when nothing to close. */
int a_close_client_lib(CLIENT *clnt) RPCLIB_NOEXCEPT;
/* Leaves a caller's handle in *clnt alone; otherwise opens the default if
 * needed and copies it into *clnt. 0, or 2 when the default cannot be made. */
int a_clnt(CLIENT **clnt) RPCLIB_NOEXCEPT;
/* After a failed call: forgets the default if clnt is it (not destroyed). */
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
 * a longer line is not sent and gives 16. The server's answer is not read. */
int a_a_log_lib(CLIENT *clnt, const char *text) RPCLIB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
