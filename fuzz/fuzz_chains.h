/* Chain shapes for the fuzzer that the common lists leave out, and the
 * pointer through which a record holds each chain. Written in C: the
 * routines are called through xdrproc_t, and C++ functions called that way
 * trip the sanitizer's function type check. */
#ifndef FUZZ_CHAINS_H
#define FUZZ_CHAINS_H

#include "common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Link last, an entry without heap memory. */
typedef struct fz_str10_last {
    str10 value;
    struct fz_str10_last *next;
} fz_str10_last;

/* Both link orders with an entry that owns heap memory, so that a decode
 * failing inside the chain has entries to release. */
typedef struct fz_bytes_first {
    struct fz_bytes_first *next;
    opaque_string bytes;
} fz_bytes_first;

typedef struct fz_bytes_last {
    opaque_string bytes;
    struct fz_bytes_last *next;
} fz_bytes_last;

/* A record field holding a chain: presence flag, then the chain. */
typedef struct {
    str10_ll *list;
} fz_str10_ll_ref;
typedef struct {
    text_ll *list;
} fz_text_ll_ref;
typedef struct {
    fz_str10_last *list;
} fz_str10_last_ref;
typedef struct {
    fz_bytes_first *list;
} fz_bytes_first_ref;
typedef struct {
    fz_bytes_last *list;
} fz_bytes_last_ref;

bool_t xdr_fz_str10_last(XDR *, fz_str10_last *);
bool_t xdr_fz_bytes_first(XDR *, fz_bytes_first *);
bool_t xdr_fz_bytes_last(XDR *, fz_bytes_last *);
bool_t xdr_fz_str10_ll_ref(XDR *, fz_str10_ll_ref *);
bool_t xdr_fz_text_ll_ref(XDR *, fz_text_ll_ref *);
bool_t xdr_fz_str10_last_ref(XDR *, fz_str10_last_ref *);
bool_t xdr_fz_bytes_first_ref(XDR *, fz_bytes_first_ref *);
bool_t xdr_fz_bytes_last_ref(XDR *, fz_bytes_last_ref *);

#ifdef __cplusplus
}
#endif

#endif
