/* Both libraries' public headers serve one C program: their types, names and C linkage. */
#include <string.h>

#include "o_lib.h"
#include "a_lib.h"

int main(void)
{
    /* Taking an address is enough to need a function at link time, by its C name. */
    const void *used[] = {(const void *)o_get_config_lib, (const void *)a_put_page_lib};
    o_make_verteiler_o v = {0};
    a_get_e_o list = {0, NULL};
    a_get_eb_free(&list);
    if (add_to_verteiler(&v.list, "host", "name") != 1 || !used[1] ||
        strcmp(allowed(FALSE), "not allowed") != 0)
        return 1;
    xdr_free((xdrproc_t)xdr_o_make_verteiler_o, (char *)&v);
    return 0;
}
