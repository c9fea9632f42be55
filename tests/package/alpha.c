/* The installed alpha library offline: a record's wire form, the handles' rules, no host. */
#include <stdio.h>
#include <string.h>

#include <a_lib.h>

int main(void)
{
    a_put_usrconf_i rec;
    char value[81], wire[512];
    XDR x;
    CLIENT *c = NULL;
    int ok;

    memset(&rec, 0, sizeof rec);
    my_strncpy(rec.userid, "mueller", 10);
    xdrmem_create(&x, wire, sizeof wire, XDR_ENCODE);
    ok = xdr_a_put_usrconf_i(&x, &rec) && xdr_getpos(&x) == (11 + 11 + 81) * 4 && wire[3] == 'm';
    /* An explicit host needs a handle variable of the caller's. */
    ok = ok && a_open_client_lib(NULL, "bad..host") == RPCLIB_NOT_SENT;
    ok = ok && a_open_client_lib(&c, "bad..host") == RPCLIB_A_NO_CLIENT && c == NULL;
    ok = ok && a_get_usrconf_lib(NULL, "mueller", "t4711", value) == RPCLIB_A_NO_CLIENT;
    ok = ok && rpc_prog_nr(ALPHA_PROGRAM_BASE) == 16011967L;
    printf("alpha consumer: %s\n", ok ? "ok" : "FAILED");
    return !ok;
}
