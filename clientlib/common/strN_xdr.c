/* Hand-written XDR routines of the fixed-width strings: N+1 characters held
 * in the record, each sent as one XDR unit (the unsigned byte value in the
 * last of four bytes), terminator and whatever follows it included, with no
 * length prefix: the bytes of xdr_vector over xdr_u_char.
 *
 * A record carries hundreds of these characters, so a call per character
 * dominated every codec. When the stream holds the whole field in its buffer
 * (xdr_inline), the field is written or read there in one pass; otherwise
 * (a record stream at a fragment boundary, a stream without a buffer) one
 * unit per character, as before. Decoding takes the low byte of each unit,
 * as xdr_u_char does, and always leaves a NUL in the last position, so that
 * a field sent without its terminator cannot run on into the next one.
 * A fixed-width string owns no heap: freeing it does nothing. */
#include <string.h>

#include "common.h"

static bool_t xdr_fixed_chars(XDR *xdrs, char *s, u_int n)
{
    const u_int bytes = (n + 1) * BYTES_PER_XDR_UNIT;
    unsigned char *p;
    u_int i;

    switch (xdrs->x_op) {
    case XDR_FREE:
        return TRUE;
    case XDR_ENCODE:
        p = (unsigned char *)xdr_inline(xdrs, (int)bytes);
        if (p != NULL) {
            /* Big-endian units whose last byte is the character. */
            for (i = 0; i <= n; ++i) {
                const unsigned char unit[4] = {0, 0, 0, (unsigned char)s[i]};
                memcpy(p + i * 4, unit, 4);
            }
            return TRUE;
        }
        for (i = 0; i <= n; ++i)
            if (!xdr_u_char(xdrs, (u_char *)&s[i]))
                return FALSE;
        return TRUE;
    case XDR_DECODE:
        p = (unsigned char *)xdr_inline(xdrs, (int)bytes);
        if (p != NULL) {
            for (i = 0; i <= n; ++i)
                s[i] = (char)p[i * 4 + 3];
        } else {
            for (i = 0; i <= n; ++i)
                if (!xdr_u_char(xdrs, (u_char *)&s[i])) {
                    s[n] = '\0';
                    return FALSE;
                }
        }
        s[n] = '\0';
        return TRUE;
    }
    return FALSE;
}

#define STRN_XDR(name, n) \
    bool_t xdr_##name(XDR *xdrs, void *objp) { return xdr_fixed_chars(xdrs, (char *)objp, (n)); }

STRN_XDR(str10, 10)
STRN_XDR(str20, 20)
STRN_XDR(str30, 30)
STRN_XDR(str35, 35)
STRN_XDR(str60, 60)
STRN_XDR(str80, 80)
STRN_XDR(mailaddrtype, 80)
STRN_XDR(fntyp, 14)
