/* The installed omega library offline: the bounded copy, the wire form of a configuration
 * record, and a client and a wrapper for a host that cannot exist. */
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
    memset(buf, 'x', sizeof buf);
    my_strncpy(buf, "PINLENMIN", 5);
    my_strncpy(rec.key, "PINLENMIN", 10);
    xdrmem_create(&x, wire, sizeof wire, XDR_ENCODE);
    /* One 4-byte unit per character of str10 and str80, then the bool. */
    ok = strcmp(buf, "PINLE") == 0 && xdr_o_config(&x, &rec) && xdr_getpos(&x) == (11 + 81 + 1) * 4;
    xdr_destroy(&x);
    ok = ok && o_open_client_lib(&c, "bad..host") == RPCLIB_O_NO_CLIENT && c == NULL;
    ok = ok && o_get_config_lib(NULL, "PINLENMIN", value) == RPCLIB_O_NO_CLIENT; /* OMEGAHOST */
    ok = ok && rpc_prog_nr(OMEGA_PROGRAM_BASE) == 16011931L;
    printf("omega consumer: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
