/* Text form of the omega records, and small helpers for programs that use
 * the omega library. A printer (fprint_...) writes one record as one line:
 * the fields in record order, the caller's separator between fields, a
 * newline at the end; a bool is written as J or N. A reader (frd_...) reads
 * one record written one field per line (a printer with the separator "\n"
 * writes exactly that) and returns non-zero when every field was read, 0 at
 * the first field that fails, the record then being partly filled:
 *   - a text field keeps at most its capacity of characters; the rest of an
 *     overlong line is skipped, a NUL byte ends the text, trailing white
 *     space is removed;
 *   - a short is a line read as unsigned decimal ("%hu"), a long as
 *     hexadecimal when its printer writes it so ("%lx"), else unsigned
 *     decimal ("%lu"), kept as the signed 32-bit number of its low bits;
 *   - each byte of a permission set is a line read as hexadecimal, 0 to ff;
 *   - a bool is the first character of its line, TRUE for J or Y (either
 *     case);
 *   - a version (versioned readers) is a line read as "%hu", 0 or 1. */
#ifndef OTOOLS_H
#define OTOOLS_H

#include <stdio.h>

#include "rpccommon.h"
#include "omega.h"

#ifdef __cplusplus
extern "C" {
#endif

void fprint_o_alpha(FILE *f, const o_alpha *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_theta(FILE *f, const o_theta *rec) RPCLIB_NOEXCEPT;
void fprint_o_pi(FILE *f, const o_pi *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_faxg(FILE *f, const o_faxg *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_faxl(FILE *f, const o_faxl *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_printer(FILE *f, const o_printer *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_groupl(FILE *f, const o_groupl *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_route(FILE *f, const o_route *rec, const char *sep) RPCLIB_NOEXCEPT;
/* The body of version 0 or 1; nothing for another version. */
void fprint_o_route_new(FILE *f, const o_route_new *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_tele(FILE *f, const o_tele *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_tebu(FILE *f, const o_tebu *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_tebul(FILE *f, const o_tebul *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_tgroup(FILE *f, const o_tgroup *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_tgroupl(FILE *f, const o_tgroupl *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_muser(FILE *f, const o_muser *rec, const char *sep) RPCLIB_NOEXCEPT;
/* The body only: version 0 with a 10-character third field, every other
 * version with the 20-character one. */
void fprint_o_gwuser(FILE *f, const o_gwuser *rec, const char *sep) RPCLIB_NOEXCEPT;
/* The body only, whatever the version. */
void fprint_o_reply_addr(FILE *f, const o_reply_addr *rec, const char *sep) RPCLIB_NOEXCEPT;
void fprint_o_user(FILE *f, const o_user *rec, const char *sep) RPCLIB_NOEXCEPT;
/* The version first, then the body; for a version other than 0 and 1 only
 * the version and the separator, without newline. */
void fprint_o_faxl_new(FILE *f, const o_faxl_new *rec, const char *sep) RPCLIB_NOEXCEPT;

int frd_o_alpha(FILE *f, o_alpha *rec) RPCLIB_NOEXCEPT;
int frd_o_faxg(FILE *f, o_faxg *rec) RPCLIB_NOEXCEPT;
int frd_o_faxl(FILE *f, o_faxl *rec) RPCLIB_NOEXCEPT;
int frd_o_printer(FILE *f, o_printer *rec) RPCLIB_NOEXCEPT;
int frd_o_tgroup(FILE *f, o_tgroup *rec) RPCLIB_NOEXCEPT;
int frd_o_tgroupl(FILE *f, o_tgroupl *rec) RPCLIB_NOEXCEPT;
int frd_o_tebu(FILE *f, o_tebu *rec) RPCLIB_NOEXCEPT;
int frd_o_tebul(FILE *f, o_tebul *rec) RPCLIB_NOEXCEPT;
/* The version, then the first three fields of that version; the long is
 * left as it was. */
int frd_o_gwuser(FILE *f, o_gwuser *rec) RPCLIB_NOEXCEPT;
/* The version, then every field of that version. */
int frd_o_faxl_new(FILE *f, o_faxl_new *rec) RPCLIB_NOEXCEPT;
/* Always makes a version-1 record: a version-0 text fills the version-1
 * fields by position (field 19 with at most 10 characters) and leaves field
 * 34 as it was. */
int frd_o_faxl_new_v1(FILE *f, o_faxl_new *rec) RPCLIB_NOEXCEPT;

/* TRUE when host resolves through the system's host lookup. */
bool_t legalhost(const char *host) RPCLIB_NOEXCEPT;
/* "allowed" for TRUE, "not allowed" for FALSE (static strings). */
const char *allowed(bool_t flag) RPCLIB_NOEXCEPT;
/* Adds name under host to a distribution list built in memory: a host not
 * yet in the list gets a new element at the head of *list, a name not yet
 * under its host a new node at the head of the host's names. Returns 1 when
 * something was added, 0 when the name was there already. Texts are cut to
 * 35 and 10 characters. The list is released like a decoded one: as the
 * list of an o_make_verteiler_o, with xdr_free and xdr_o_make_verteiler_o.
 * When memory runs out the process ends. */
int add_to_verteiler(o_verteiler_alpha **list, const char *host, const char *name) RPCLIB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
