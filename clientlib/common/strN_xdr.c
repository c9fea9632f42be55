/* Fixed-width strings: N+1 characters held in the record, each sent as one
 * XDR unit (the unsigned byte value in the last of four bytes), terminator
 * and whatever follows it included, with no length prefix. */
#include "common.h"

#define STRN_XDR(name, n)                                                  \
    bool_t xdr_##name(XDR *xdrs, void *objp)                               \
    {                                                                      \
        return xdr_vector(xdrs, (char *)objp, (n) + 1, sizeof(u_char),     \
                          (xdrproc_t)xdr_u_char);                          \
    }

STRN_XDR(str10, 10)
STRN_XDR(str20, 20)
STRN_XDR(str30, 30)
STRN_XDR(str35, 35)
STRN_XDR(str60, 60)
STRN_XDR(str80, 80)
STRN_XDR(mailaddrtype, 80)
STRN_XDR(fntyp, 14)

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
