/* The alpha library's public headers serve a C program: their types, names and C linkage. */
#include "a_lib.h"

int main(void)
{
    /* Taking the addresses is enough to need every family at link time. */
    const void *used[] = {(const void *)a_cp_dok_lib,         (const void *)a_bif_lib,
                          (const void *)a_get_e_rec_lib,      (const void *)a_get_eb_lib,
                          (const void *)a_cha_userid_lib,     (const void *)a_put_page_lib,
                          (const void *)a_apply_route_new_lib, (const void *)a_get_jetzt_1,
                          (const void *)xdr_a_usrconf_ll_o};
    a_get_e_o list = {0, NULL};
    a_get_eb_free(&list);
    return used[0] == NULL || used[8] == NULL;
}
