/* Public C interface shared by the omega and alpha client libraries: where
 * the servers are found (environment), RPC program numbering and transport,
 * and the bounded string routines through which every text enters a record.
 * The wire types themselves are declared in the generated common.h.
 *
 * A program using these libraries should ignore SIGPIPE: a call on a handle
 * whose server has gone away otherwise kills the process.
 *
 * Whole-call deadline: every stub call, and so every wrapper call, ends
 * within RPC_CALL_TIMEOUT_SECONDS (plus half a second) in total, whatever
 * the server sends. libtirpc's own time-out bounds only each wait for bytes;
 * on a stream handle a watchdog thread of the library (started on the first
 * call, blocking every signal) shuts the connection down at the call's
 * deadline, and the call fails as on a dead connection: the default handle
 * is then opened anew, a caller's handle stays dead until the caller closes
 * it. No signal, handler or timer of the program is touched, each handle's
 * call has its own deadline, and a forked child starts its own watchdog. A
 * server that is merely silent still ends the call at the time-out itself
 * (RPC_TIMEDOUT, the connection kept). Datagram handles (RPCTRANSPORT=udp)
 * are bounded by libtirpc, which counts the time-out over the whole call.
 *
 * Threads: the stubs keep their answers in static storage, and the default
 * handles, the host cache, the program number offset and unquote's buffer
 * are process-wide state without locks. Call the omega and alpha libraries
 * from one thread at a time; my_strncpy, Maximum and Minimum may be called
 * from any thread. */
#ifndef RPCCOMMON_H
#define RPCCOMMON_H

#include "common.h"

#ifdef __cplusplus
#define RPCLIB_NOEXCEPT noexcept
extern "C" {
#else
#define RPCLIB_NOEXCEPT
#endif

/* Base program numbers; the offset of QUIRVERPCOFFSET is added. */
#define OMEGA_PROGRAM_BASE 16011931L
#define ALPHA_PROGRAM_BASE 16011967L
#define RPC_CALL_TIMEOUT_SECONDS 25

/* Result codes of the handle routines and the wrappers of both libraries;
 * each wrapper's header comment says which of them it returns. */
#define RPCLIB_OK 0
#define RPCLIB_O_NO_CLIENT 1        /* the omega client could not be created, or none to close */
#define RPCLIB_A_NO_CLIENT 2        /* the alpha client could not be created, or none to close */
#define RPCLIB_A_NO_USER 6          /* the alpha server knows no such user */
#define RPCLIB_A_FILE_UNREADABLE 13 /* the file to upload cannot be read */
#define RPCLIB_A_CALL_FAILED 16     /* alpha call without a usable reply */
#define RPCLIB_O_CALL_FAILED 22     /* omega call without a usable reply */
#define RPCLIB_A_WRONG_LEVEL 23     /* record version or server level does not suit the wrapper */
#define RPCLIB_NOT_SENT 24 /* the request cannot be formed from the arguments; nothing sent */
#define RPCLIB_NO_ENTRY 25 /* the server holds no such entry */
#define RPCLIB_A_NO_PAGE_DATA \
    29                         /* the alpha server did not confirm the page block, or it is empty */
#define RPCLIB_EMPTY_ANSWER 32 /* the server returned an empty or zero result */
#define RPCLIB_REFUSED 34      /* the server refused the operation */
#define RPCLIB_A_NO_NEW_PROCEDURE 76 /* an old-generation alpha server lacks the procedure */

/* Host names. Each returns a NUL-terminated name that the caller does not
 * free: localhost() is LOCALHOST (read once, at most 35 characters) or
 * "localhost"; the others return their variable's value when it is set and
 * not empty (read on every call), else localhost(). */
char *localhost(void) RPCLIB_NOEXCEPT;
char *omegahost(void) RPCLIB_NOEXCEPT;
char *alphahost(void) RPCLIB_NOEXCEPT;
char *lambdahost(void) RPCLIB_NOEXCEPT;
char *gammahost(void) RPCLIB_NOEXCEPT;
char *thetahost(void) RPCLIB_NOEXCEPT;
char *pihost(void) RPCLIB_NOEXCEPT;

/* base + the signed offset read once from QUIRVERPCOFFSET ("%ld"). */
long rpc_prog_nr(long base) RPCLIB_NOEXCEPT;
/* RPCTRANSPORT, or "tcp" when unset; an empty value stays empty. */
char *rpc_transport(void) RPCLIB_NOEXCEPT;

/* Copies at most count characters of src and always terminates, so dest
 * needs count + 1 bytes; a shorter src is copied with its NUL and the bytes
 * behind it are left alone. A negative count copies nothing but the NUL. */
void my_strncpy(char *dest, const char *src, short count) RPCLIB_NOEXCEPT;
/* my_strncpy of the variable's value, or the empty text when it is unset. */
void my_getenv(const char *name, short count, char *dest) RPCLIB_NOEXCEPT;
/* Strips one pair of enclosing quotes (' or "), and the white space outside
 * them. Writes into dest, or into a static buffer of 1000 characters when
 * dest is NULL; returns the buffer used, or NULL when src is NULL. When the
 * text is not quoted, dest receives it whole (dest must have room). */
char *unquote(const char *src, char *dest) RPCLIB_NOEXCEPT;
int Maximum(int a, int b) RPCLIB_NOEXCEPT;
int Minimum(int a, int b) RPCLIB_NOEXCEPT;

/* The process debug level: 0 until a program sets it. Library code writes
 * diagnostic dumps to standard error when it is high enough. */
int getdebuglevel(void) RPCLIB_NOEXCEPT;
void setdebuglevel(int level) RPCLIB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
