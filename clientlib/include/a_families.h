/* The wrappers of the alpha program beyond usrconf, log and clock, grouped by
 * how they treat the answer. Included by a_lib.h; every wrapper takes the
 * client handle first (NULL: the default handle), resolves it (2 when the
 * default cannot be made), copies text arguments cut to their field's width,
 * and returns 16 when the call got no answer (a default handle is then let
 * go, as a_lib.h says). Out-arguments belong to the caller. The other procedures have
 * no wrapper: call their a_..._1 stub (alpha.h) directly. */
#ifndef A_FAMILIES_H
#define A_FAMILIES_H

#include "alpha.h"
#include "rpccommon.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Yes/no: 0 when the server answers TRUE, 34 when FALSE. */
int a_cp_dok_lib(CLIENT *clnt, const char *userid, short box, long nr, long target) RPCLIB_NOEXCEPT;
int a_cp_page_lib(CLIENT *clnt, const char *userid, short box, long nr, short page, long target_nr,
                  short target_page) RPCLIB_NOEXCEPT;
int a_del_dok_lib(CLIENT *clnt, const char *userid, short box, long nr,
                  bool_t flag) RPCLIB_NOEXCEPT;
int a_del_page_lib(CLIENT *clnt, const char *userid, long nr, short page) RPCLIB_NOEXCEPT;
int a_ins_page_lib(CLIENT *clnt, const char *userid, long nr, short page) RPCLIB_NOEXCEPT;
int a_put_bif_lib(CLIENT *clnt, const char *userid, short box, long nr,
                  bool_t flag) RPCLIB_NOEXCEPT;
int a_forward_lib(CLIENT *clnt, const char *userid, short box, long nr, const char *host,
                  const char *target, const char *target_id, short kind) RPCLIB_NOEXCEPT;
/* text is sent whole with its NUL (no length limit). */
int a_put_log_lib(CLIENT *clnt, const char *userid, short box, long nr,
                  const char *text) RPCLIB_NOEXCEPT;

/* Copy-out: the answer lands in the out-argument. */
/* Stores the answer; 0. */
int a_bif_lib(CLIENT *clnt, const char *userid, short box, bool_t *answer) RPCLIB_NOEXCEPT;
/* Stores a nonzero document number, 0; a zero answer gives 34. */
int a_mk_dok_lib(CLIENT *clnt, const char *userid, long *nr) RPCLIB_NOEXCEPT;
/* When the server confirms (first bool), stores its value, 0; else 34. */
int a_exc_bif_lib(CLIENT *clnt, const char *userid, short box, long nr, bool_t flag,
                  bool_t *value) RPCLIB_NOEXCEPT;
/* Returns the server's status; when it is 0, stores the value. */
int a_exc_status_lib(CLIENT *clnt, const char *userid, short box, long nr, short state, bool_t flag,
                     bool_t *value) RPCLIB_NOEXCEPT;
/* Stores both values when the first is nonzero (level = the server's
 * interface level), 0; else 32. */
int a_get_compat_lib(CLIENT *clnt, long *first, long *level) RPCLIB_NOEXCEPT;

/* Record: one record copied whole into the caller's. */
/* value: 81 bytes; a non-empty answer is copied, 0; an empty one gives 25. */
int a_get_config_lib(CLIENT *clnt, const char *key, short kind, char *value) RPCLIB_NOEXCEPT;
/* 25 when the answer's first long is 0 (no such document). */
int a_get_e_rec_lib(CLIENT *clnt, const char *userid, long nr, a_e_rec *rec) RPCLIB_NOEXCEPT;
int a_get_p_rec_lib(CLIENT *clnt, const char *userid, long nr, a_p_rec *rec) RPCLIB_NOEXCEPT;
int a_get_s_rec_lib(CLIENT *clnt, const char *userid, long nr, a_s_rec *rec) RPCLIB_NOEXCEPT;
/* 6 when the answer's user id is empty (no such user). */
int a_get_user_lib(CLIENT *clnt, const char *userid, a_user_rec *rec) RPCLIB_NOEXCEPT;
/* The omega user record of (alpha host, user id) as this alpha server knows
 * it; 6 when the answer's user id is empty. */
int a_get_o_user_lib(CLIENT *clnt, const char *host, const char *userid,
                     o_user *rec) RPCLIB_NOEXCEPT;

/* Hand-over: on 0 the caller owns the chain (or data block) in *out and
 * releases it with the matching _free function; on any other code nothing
 * is handed over and nothing must be released. An empty answer gives 25. */
int a_get_eb_lib(CLIENT *clnt, long nr, short box, long from, long max,
                 a_get_e_o *out) RPCLIB_NOEXCEPT;
int a_get_pb_lib(CLIENT *clnt, long nr, short box, long from, long max,
                 a_get_p_o *out) RPCLIB_NOEXCEPT;
int a_get_sb_lib(CLIENT *clnt, long nr, short box, long from, long max,
                 a_get_s_o *out) RPCLIB_NOEXCEPT;
/* A nonzero server code in the answer is returned as it is. */
int a_get_usrconf_ll_lib(CLIENT *clnt, const char *userid, const char *key, long max, bool_t flag,
                         a_usrconf_ll_o *out) RPCLIB_NOEXCEPT;
/* Hands the block over when the server confirms it and its length is not 0;
 * 29 otherwise. */
int a_get_pageb_lib(CLIENT *clnt, const char *userid, short box, long nr, short page, short kind,
                    long offset, long length, a_get_pageb_o *out) RPCLIB_NOEXCEPT;
/* host, then the request's second, third, fifth and sixth fields; max 0
 * asks for 30 entries. The request's flag is sent FALSE. */
int a_get_tgroupl_llb_lib(CLIENT *clnt, const char *host, const char *user, const char *group,
                          const char *from1, const char *from2, long max,
                          o_get_tgroupl_llb_o *out) RPCLIB_NOEXCEPT;
void a_get_eb_free(a_get_e_o *out) RPCLIB_NOEXCEPT;
void a_get_pb_free(a_get_p_o *out) RPCLIB_NOEXCEPT;
void a_get_sb_free(a_get_s_o *out) RPCLIB_NOEXCEPT;
void a_usrconf_ll_free(a_usrconf_ll_o *out) RPCLIB_NOEXCEPT;
void a_get_pageb_free(a_get_pageb_o *out) RPCLIB_NOEXCEPT;
void a_get_tgroupl_llb_free(o_get_tgroupl_llb_o *out) RPCLIB_NOEXCEPT;

/* New-only: procedures of the new generation alone. A server without the
 * procedure gives 76 and the handle stays in use. The version arguments name
 * the record version the caller reads; anything but 1 gives 23 and sends
 * nothing. */
int a_get_e_rec_new_ll_lib(CLIENT *clnt, long nr, int version, short box, long from, long max,
                           a_get_e_rec_new_ll_o *out) RPCLIB_NOEXCEPT;
/* text and pattern are sent only for selectors 5 and 6, empty otherwise;
 * a nonzero server code is returned as it is. */
int a_get_s_rec_new_ll_lib(CLIENT *clnt, long nr, int version, short selector, const char *text,
                           const char *pattern, long from, long max,
                           a_get_s_rec_new_ll_o *out) RPCLIB_NOEXCEPT;
void a_get_e_rec_new_ll_free(a_get_e_rec_new_ll_o *out) RPCLIB_NOEXCEPT;
void a_get_s_rec_new_ll_free(a_get_s_rec_new_ll_o *out) RPCLIB_NOEXCEPT;
/* Returns the server's status. */
int a_cha_userid_lib(CLIENT *clnt, long nr, const char *new_userid) RPCLIB_NOEXCEPT;

/* Level-chosen: the server's interface level (a_get_compat_lib, whose
 * failure code is returned) decides the generation of the fax line records;
 * a wrapper of the other generation gives 23 without a call. */
/* Levels up to 9. name is sent as it is and must be a whole str10 (11
 * bytes); 25 when the answer's name is empty. */
int a_get_faxl_lib(CLIENT *clnt, char *name, o_faxl *rec) RPCLIB_NOEXCEPT;
/* Levels from 10. Returns a nonzero server code as it is, 32 for a record
 * version other than 0. */
int a_get_faxl_new_lib(CLIENT *clnt, const char *name, o_faxl_new *rec) RPCLIB_NOEXCEPT;

/* Route: as o_apply_route_new_lib, asked of the alpha server. */
int a_apply_route_new_lib(CLIENT *clnt, const char *number, const char *qualifier, char *host,
                          char *user, char *id) RPCLIB_NOEXCEPT;

/* Upload of one page in chunks of chunk bytes (1488 when 0 or negative).
 * Chunks go at offsets 0, chunk, 2 * chunk ... while the offset does not
 * pass total, so a total that is a multiple of the chunk size ends with an
 * empty chunk. 0 when every chunk was taken (also for a negative total,
 * which sends nothing); 34 at the first refused chunk. */
int a_put_page_data_lib(CLIENT *clnt, const char *userid, long nr, short page, short kind,
                        const char *data, int total, int chunk) RPCLIB_NOEXCEPT;
/* The same with the whole content of a file; 13 (and a line on stderr) when
 * it cannot be read. */
int a_put_page_lib(CLIENT *clnt, const char *userid, long nr, short page, short kind,
                   const char *filename, int chunk) RPCLIB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
