/* Client library of the omega RPC program (routes, system configuration and
 * the other system-wide tables). The generated omega.h declares the records,
 * their XDR routines and the raw stubs (o_..._1, returning a pointer to a
 * static result that the next call of the same stub overwrites, or NULL when
 * the call failed). The wrappers below (o_..._lib) resolve the handle, copy
 * their arguments into the request with my_strncpy, call the stub, copy out
 * what the caller asked for, release the answer, and return a code:
 *
 *   0 done; 1 no handle given and the default could not be created;
 *   22 the call failed (the default handle is forgotten) or, for
 *   o_put_config_lib, the server said FALSE; 24 record version not sent;
 *   25 no such entry; 32 empty or unsupported answer; 34 server said FALSE;
 *   otherwise the server's own status or error value.
 *
 * A NULL handle selects the process-wide default omega handle, opened on first
 * use at omegahost(). Programs using this library should ignore SIGPIPE.
 *
 * Which handles the library destroys:
 *   - a handle the caller passed in: never, also not after a failed call;
 *   - the default, when a wrapper called with NULL resolved it itself and
 *     the call failed: destroyed as it is forgotten, so the next call
 *     connects anew and no descriptor is lost;
 *   - the default that o_clnt handed to a caller: after a failed call only
 *     forgotten, since the caller may still hold it (close it with
 *     o_close_client_lib when done);
 *   - the default when o_open_client_lib without a handle variable replaces
 *     it: destroyed, unless o_clnt had handed it out.
 * Take the default through o_clnt, not by copying omega_clnt_var: a copy
 * may be destroyed under you. A refusal that sends nothing (a record
 * version the wrapper does not send, 24) keeps every handle.
 *
 * Every call ends within RPC_CALL_TIMEOUT_SECONDS in total, whatever the
 * server sends (rpccommon.h). Threads: as rpccommon.h says, one thread at
 * a time. */
#ifndef O_LIB_H
#define O_LIB_H

#include "rpccommon.h"
#include "omega.h"
#include "otools.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The default handle; NULL until first used or after a failed call. Read
 * it, do not keep it: take the default through o_clnt. */
extern CLIENT *omega_clnt_var;

/* Creates a client for host (omegahost() when NULL or empty) into *clnt, or
 * into the default when clnt is NULL (the one replaced is destroyed unless
 * o_clnt handed it out); stores NULL on failure. 0 or 1. */
int o_open_client_lib(CLIENT **clnt, const char *host) RPCLIB_NOEXCEPT;
/* Destroys clnt, or the default when clnt is NULL (the default is
 * forgotten also when clnt is it). 0, or 1 when there was nothing to close. */
int o_close_client_lib(CLIENT *clnt) RPCLIB_NOEXCEPT;
/* Leaves a caller's handle in *clnt alone; otherwise opens the default if
 * needed and copies it into *clnt, after which the library no longer
 * destroys it on a failed call. 0, or 1 when the default cannot be made. */
int o_clnt(CLIENT **clnt) RPCLIB_NOEXCEPT;
/* Forgets the default if clnt is it, without destroying it (for a program
 * that calls the stubs itself and holds the handle). */
void o_clear(CLIENT *clnt) RPCLIB_NOEXCEPT;

/* Routes a called number (first 10 characters) with a qualifier (first 20).
 * On 0 writes target_host (36 bytes), target_user and target_id (11 bytes
 * each); otherwise the buffers are untouched and the answer's error (25 = no
 * route) or a failure code is returned. */
int o_apply_route_new_lib(CLIENT *clnt, const char *number, const char *qualifier, char *host,
                          char *user, char *id) RPCLIB_NOEXCEPT;
/* Reads one route by name into *route (version 0 only, else 32). */
int o_get_ron_lib(CLIENT *clnt, const char *route_name, o_route_new *route) RPCLIB_NOEXCEPT;
/* Stores a version-0 route; returns the server's status. */
int o_put_ron_lib(CLIENT *clnt, const char *route_name, const char *descr, const char *number,
                  const char *qualifier, const char *target_host, const char *target_user,
                  const char *target_id, const char *target_text,
                  long target_value) RPCLIB_NOEXCEPT;
/* Deletes one route; returns the server's status. */
int o_del_ron_lib(CLIENT *clnt, const char *route_name) RPCLIB_NOEXCEPT;
/* Reads a configuration value (key cut to 10) into value (81 bytes); 25 and
 * value untouched when the server has no such entry (empty answer). */
int o_get_config_lib(CLIENT *clnt, const char *key, char *value) RPCLIB_NOEXCEPT;
/* Stores key (10) = value (80); 22 when the server answers FALSE. */
int o_put_config_lib(CLIENT *clnt, const char *key, const char *value) RPCLIB_NOEXCEPT;
/* Deletes a configuration entry; 25 when the server answers FALSE. */
int o_del_config_lib(CLIENT *clnt, const char *key) RPCLIB_NOEXCEPT;
/* Both compat_o values, or 32 (nothing written) when the first is 0. */
int o_get_compat_lib(CLIENT *clnt, long *first, long *second) RPCLIB_NOEXCEPT;

/* Fax groups, fax lines and versioned fax lines. A get copies the whole
 * record into the caller's buffer (0), or returns 25 when the server has no
 * entry of that name (cut to 10 characters); put and delete return 0, or 34
 * when the server answers FALSE. A list wrapper hands the count and the chain
 * over to the caller's record, who releases the chain with the family's
 * _free function; the faxg and faxl lists leave the caller's record
 * untouched when the count is 0, so initialise it before the call. */
int o_get_faxg_lib(CLIENT *clnt, const char *name, o_faxg *faxg) RPCLIB_NOEXCEPT;
int o_put_faxg_lib(CLIENT *clnt, const o_faxg *faxg) RPCLIB_NOEXCEPT;
int o_del_faxg_lib(CLIENT *clnt, const char *name) RPCLIB_NOEXCEPT;
int o_get_faxg_ll_lib(CLIENT *clnt, o_get_faxg_ll_o *list) RPCLIB_NOEXCEPT;
void o_get_faxg_ll_free(o_get_faxg_ll_o *list) RPCLIB_NOEXCEPT;

int o_get_faxl_lib(CLIENT *clnt, const char *name, o_faxl *faxl) RPCLIB_NOEXCEPT;
int o_put_faxl_lib(CLIENT *clnt, const o_faxl *faxl) RPCLIB_NOEXCEPT;
int o_del_faxl_lib(CLIENT *clnt, const char *name) RPCLIB_NOEXCEPT;
/* *request is sent as the list request's long. */
int o_get_faxl_ll_lib(CLIENT *clnt, long *request, o_get_faxl_ll_o *list) RPCLIB_NOEXCEPT;
void o_get_faxl_ll_free(o_get_faxl_ll_o *list) RPCLIB_NOEXCEPT;

/* Versioned fax lines: requests go out as version 0. A get returns the
 * answer's error when not 0, 32 when the record is not of version 0, else
 * copies it (version and body). A put sends only a version-0 record (else
 * 24, nothing sent; at debug level 5 and up the record is first written to
 * standard error) and returns the server's status, as does a delete. The
 * list hands over count, chain and error, also for an empty list, and
 * returns the error when not 0, or 32 (nothing handed over) when the first
 * element is not of version 0. */
int o_get_faxl_new_lib(CLIENT *clnt, const char *name, o_faxl_new *faxl) RPCLIB_NOEXCEPT;
int o_put_faxl_new_lib(CLIENT *clnt, const o_faxl_new *faxl) RPCLIB_NOEXCEPT;
int o_del_faxl_new_lib(CLIENT *clnt, const char *name) RPCLIB_NOEXCEPT;
int o_get_faxl_new_ll_lib(CLIENT *clnt, long *request, o_get_faxl_new_ll_o *list) RPCLIB_NOEXCEPT;
void o_get_faxl_new_ll_free(o_get_faxl_new_ll_o *list) RPCLIB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
