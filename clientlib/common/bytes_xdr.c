/* Hand-written XDR routines of the common types beside the fixed-width
 * strings: the sign-keeping long and counted bytes. */
#include <stdlib.h>

#include "common.h"

/* A long is a signed 32-bit number on the wire. The platform's xdr_long
 * decodes it without sign extension into a 64-bit long (-5 comes back as
 * 4294967291); this reads and writes the same four bytes and keeps the sign.
 * Values are sent as their low 32 bits, as xdr_long does. */
bool_t xdr_slong(XDR *xdrs, long *lp)
{
    int32_t v;

    switch (xdrs->x_op) {
    case XDR_ENCODE:
        v = (int32_t)(uint32_t)(unsigned long)*lp;
        return xdr_int32_t(xdrs, &v);
    case XDR_DECODE:
        if (!xdr_int32_t(xdrs, &v))
            return FALSE;
        *lp = v;
        return TRUE;
    case XDR_FREE:
        return TRUE;
    }
    return FALSE;
}

/* Counted bytes: the count, the bytes, zero padding to a multiple of four,
 * as xdr_bytes writes them. A decode reads the bytes in steps and grows its
 * buffer at most to double what has arrived, so a count far beyond what the
 * stream holds costs little memory and fails at the stream's end; nothing
 * stays allocated when it fails. A buffer the caller already supplied is
 * filled as xdr_bytes fills it. */
#define COUNTED_STEP 65536u /* a multiple of four: only the last step is padded */

bool_t xdr_counted_bytes(XDR *xdrs, char **valp, u_int *lenp, u_int maxsize)
{
    u_int len, have = 0, cap = 0;
    char *buf = NULL;

    switch (xdrs->x_op) {
    case XDR_ENCODE:
        return xdr_bytes(xdrs, valp, lenp, maxsize);
    case XDR_FREE:
        free(*valp);
        *valp = NULL;
        return TRUE;
    case XDR_DECODE:
        break;
    default:
        return FALSE;
    }

    if (!xdr_u_int(xdrs, &len) || len > maxsize)
        return FALSE;
    *lenp = len;
    if (len == 0)
        return TRUE;
    if (*valp != NULL)
        return xdr_opaque(xdrs, *valp, len);
    while (have < len) {
        u_int step = len - have < COUNTED_STEP ? len - have : COUNTED_STEP;
        if (step > cap - have) {
            u_int want = cap == 0 ? step : cap;
            char *grown;
            cap = want > len - cap ? len : cap + want;
            grown = realloc(buf, cap);
            if (grown == NULL)
                break;
            buf = grown;
        }
        if (!xdr_opaque(xdrs, buf + have, step))
            break;
        have += step;
    }
    if (have < len) {
        free(buf);
        *lenp = 0;
        return FALSE;
    }
    *valp = buf;
    return TRUE;
}

bool_t xdr_opaque_string(XDR *xdrs, opaque_string *objp)
{
    return xdr_counted_bytes(xdrs, &objp->opaque_string_val, &objp->opaque_string_len, ~0u);
}
