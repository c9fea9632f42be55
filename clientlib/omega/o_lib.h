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
 * use at omegahost(). Programs using this library should ignore SIGPIPE. */
#ifndef O_LIB_H
#define O_LIB_H

#include "rpccommon.h"
#include "omega.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The default handle; NULL until first used or after a failed call. */
extern CLIENT *omega_clnt_var;

/* Creates a client for host (omegahost() when NULL or empty) into *clnt, or
 * into the default when clnt is NULL; stores NULL on failure. 0 or 1. */
int o_open_client_lib(CLIENT **clnt, const char *host) RPCLIB_NOEXCEPT;
/* Destroys clnt, or the default when clnt is NULL. 0, or 1 when there was
 * nothing to close. */
int o_close_client_lib(CLIENT *clnt) RPCLIB_NOEXCEPT;
/* Leaves a caller's handle in *clnt alone; otherwise opens the default if
 * needed and copies it into *clnt. 0, or 1 when the default cannot be made. */
int o_clnt(CLIENT **clnt) RPCLIB_NOEXCEPT;
/* After a failed call: forgets the default if clnt is it (not destroyed). */
void o_clear(CLIENT *clnt) RPCLIB_NOEXCEPT;

/* Routes a called number (first 10 characters) with a qualifier (first 20).
 * On 0 writes target_host (36 bytes), target_user and target_id (11 bytes
 * each); otherwise the buffers are untouched and the answer's error (25 = no
 * route) or a failure code is returned. */
int o_apply_route_new_lib(CLIENT *clnt, const char *number, const char *qualifier,
                          char *host, char *user, char *id) RPCLIB_NOEXCEPT;
/* Reads one route by name into *route (version 0 only, else 32). */
int o_get_ron_lib(CLIENT *clnt, const char *route_name, o_route_new *route) RPCLIB_NOEXCEPT;
/* Stores a version-0 route; returns the server's status. */
int o_put_ron_lib(CLIENT *clnt, const char *route_name, const char *descr,
                  const char *number, const char *qualifier, const char *target_host,
                  const char *target_user, const char *target_id,
                  const char *target_text, long target_value) RPCLIB_NOEXCEPT;
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

#ifdef __cplusplus
}
#endif

#endif
