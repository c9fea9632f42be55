/* The fuzzer's extra chain shapes (see fuzz_chains.h). */
#include "fuzz_chains.h"

#include "chain_xdr.h"

CHAIN_XDR_DEFINE(link_last, fz_str10_last, next, value, xdr_str10)
CHAIN_XDR_DEFINE(link_first, fz_bytes_first, next, bytes, xdr_opaque_string)
CHAIN_XDR_DEFINE(link_last, fz_bytes_last, next, bytes, xdr_opaque_string)

/* As rpcgen writes a NODE *field: xdr_pointer to the node's routine. */
#define FZ_REF(name, node)                                                                   \
    bool_t xdr_##name(XDR *xdrs, name *objp)                                                 \
    {                                                                                        \
        return xdr_pointer(xdrs, (char **)&objp->list, sizeof(node), (xdrproc_t)xdr_##node); \
    }

FZ_REF(fz_str10_ll_ref, str10_ll)
FZ_REF(fz_text_ll_ref, text_ll)
FZ_REF(fz_str10_last_ref, fz_str10_last)
FZ_REF(fz_bytes_first_ref, fz_bytes_first)
FZ_REF(fz_bytes_last_ref, fz_bytes_last)
