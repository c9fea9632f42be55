/* The alpha library's public headers compile as C, and a C program links
 * against the library: the system's C programs use it so. */
#include "a_lib.h"

#include <stdio.h>

int main(void)
{
    /* Taking the addresses is enough to need every family at link time. */
    const void *used[] = {
        (const void *)a_cp_dok_lib,    (const void *)a_bif_lib,
        (const void *)a_get_e_rec_lib, (const void *)a_get_eb_lib,
        (const void *)a_get_eb_free,   (const void *)a_cha_userid_lib,
        (const void *)a_put_page_lib,  (const void *)a_apply_route_new_lib,
        (const void *)a_get_jetzt_1,   (const void *)xdr_a_usrconf_ll_o,
    };
    a_get_e_o list = {0, NULL};
    size_t i;
    for (i = 0; i < sizeof used / sizeof used[0]; ++i)
        if (used[i] == NULL)
            return 1;
    a_get_eb_free(&list);
    puts("ok");
    return 0;
}
