/* The installed omega library offline: the bounded copy, a record's wire form, no host. */
#include <stdio.h>
#include <string.h>

#include <o_lib.h>

int main(void)
{
    char buf[8], value[81], wire[512];
    o_config rec;
    XDR x;
    CLIENT *c = NULL;
    int ok;

    memset(&rec, 0, sizeof rec);
    my_strncpy(buf, "PINLENMIN", 5);
    xdrmem_create(&x, wire, sizeof wire, XDR_ENCODE);
    ok = strcmp(buf, "PINLE") == 0 && xdr_o_config(&x, &rec) && xdr_getpos(&x) == (11 + 81 + 1) * 4;
    ok = ok && o_open_client_lib(&c, "bad..host") == RPCLIB_O_NO_CLIENT && c == NULL;
    ok = ok && o_get_config_lib(NULL, "PINLENMIN", value) == RPCLIB_O_NO_CLIENT; /* OMEGAHOST */
    ok = ok && rpc_prog_nr(OMEGA_PROGRAM_BASE) == 16011931L;
    printf("omega consumer: %s\n", ok ? "ok" : "FAILED");
    return !ok;
}
