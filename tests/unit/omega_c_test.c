/* The public omega headers serve a C program: it builds a distribution list,
 * prints a record, and encodes and releases a list answer. */
#include <stdio.h>
#include <string.h>

#include "o_lib.h"

int main(void)
{
    o_make_verteiler_o v;
    o_faxg g;
    char buf[4096];
    XDR x;
    int ok;

    memset(&v, 0, sizeof v);
    ok = add_to_verteiler(&v.list, "host", "name") == 1 && add_to_verteiler(&v.list, "host", "name") == 0;
    xdrmem_create(&x, buf, sizeof buf, XDR_ENCODE);
    ok = ok && xdr_o_make_verteiler_o(&x, &v) && xdr_getpos(&x) == 4 * 4 + 144 + 44 + 4;
    xdr_destroy(&x);
    xdr_free((xdrproc_t)xdr_o_make_verteiler_o, (char *)&v);

    memset(&g, 0, sizeof g);
    my_strncpy(g.name, "g", 10);
    fprint_o_faxg(stdout, &g, ";");
    setdebuglevel(3);
    ok = ok && getdebuglevel() == 3 && strcmp(allowed(FALSE), "not allowed") == 0;
    puts(ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
