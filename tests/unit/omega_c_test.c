/* The omega library's public headers serve a C program: their types, names and C linkage. */
#include <string.h>

#include "o_lib.h"

int main(void)
{
    /* Taking the addresses is enough to need the families at link time. */
    const void *used[] = {(const void *)o_get_config_lib, (const void *)o_get_faxl_new_ll_lib,
                          (const void *)o_apply_route_new_lib, (const void *)frd_o_faxl_new_v1};
    o_make_verteiler_o v = {0};
    o_faxg g = {0};
    my_strncpy(g.name, "g", 10);
    fprint_o_faxg(stdout, &g, ";");
    setdebuglevel(3);
    if (add_to_verteiler(&v.list, "host", "name") != 1 || getdebuglevel() != 3 || !used[3] ||
        strcmp(allowed(TRUE), "allowed") != 0 || strcmp(allowed(FALSE), "not allowed") != 0)
        return 1;
    xdr_free((xdrproc_t)xdr_o_make_verteiler_o, (char *)&v);
    return 0;
}
