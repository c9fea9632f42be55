// The floor under dialcred's success path: one process that makes the same
// exchanges in the same order (route and configuration from omega; counter
// read, clock, counter write and the eight directory settings from alpha;
// LDAP bind and search; the IMAP login; counter delete and code store) and
// nothing else: no checks, no messages, no keypad code arithmetic. It prints
// the time of each exchange, in milliseconds, as "name=ms" pairs on one line.
//
//   floor_client EXTENSION PIN PASSWORD
#include <sys/time.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define LDAP_DEPRECATED 1
#include <ldap.h>

#include "a_lib.h"
#include "o_lib.h"

// c-client last: its macros (T, NIL, ERROR, min, max, write) break what
// follows it otherwise.
extern "C" {
#include <c-client/c-client.h>
}
#undef min
#undef max
#undef write

extern "C" {
extern DRIVER imapdriver, pop3driver;
extern AUTHENTICATOR auth_md5, auth_log;
}

namespace {

using Clock = std::chrono::steady_clock;

const char *g_user = "";
const char *g_password = "";
bool g_answered = false;
std::string g_line;

// Runs one exchange and notes its time under name.
template <class F>
auto timed(const char *name, F f)
{
    const Clock::time_point t0 = Clock::now();
    auto r = f();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%s=%.3f", g_line.empty() ? "" : " ", name, ms);
    g_line += buf;
    return r;
}

std::string setting(CLIENT *c, const char *user, const char *key, const char *def)
{
    char value[81] = "";
    return a_get_usrconf_lib(c, user, key, value) == 0 ? value : def;
}

}  // namespace

// The password goes once; a second request (a retry) gets the empty answer,
// which ends the login.
void mm_login(NETMBX *, char *user, char *pwd, long)
{
    if (g_answered) {
        user[0] = pwd[0] = '\0';
        return;
    }
    std::snprintf(user, MAILTMPLEN, "%s", g_user);
    std::snprintf(pwd, MAILTMPLEN, "%s", g_password);
    g_answered = true;
}
void mm_searched(MAILSTREAM *, unsigned long) {}
void mm_exists(MAILSTREAM *, unsigned long) {}
void mm_expunged(MAILSTREAM *, unsigned long) {}
void mm_flags(MAILSTREAM *, unsigned long) {}
void mm_notify(MAILSTREAM *, char *, long) {}
void mm_list(MAILSTREAM *, int, char *, long) {}
void mm_lsub(MAILSTREAM *, int, char *, long) {}
void mm_status(MAILSTREAM *, char *, MAILSTATUS *) {}
void mm_log(char *, long) {}
void mm_dlog(char *) {}
void mm_critical(MAILSTREAM *) {}
void mm_nocritical(MAILSTREAM *) {}
long mm_diskerror(MAILSTREAM *, long, long) { return 0; }
void mm_fatal(char *) {}

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: floor_client EXTENSION PIN PASSWORD\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const char *extension = argv[1];
    const char *password = argv[3];
    const std::string counter_key = std::string("T") + extension;
    const std::string code_key = std::string("t") + extension;

    char host[36], user[11], id[11], pinlenmin[81];
    if (timed("route",
              [&] { return o_apply_route_new_lib(nullptr, extension, "", host, user, id); }) != 0)
        return 1;
    timed("config", [&] { return o_get_config_lib(nullptr, "PINLENMIN", pinlenmin); });
    CLIENT *alpha = timed("alpha_connect", [&] {
        return clnt_create(host, rpc_prog_nr(ALPHA_PROGRAM_BASE), ALPHAVERS, rpc_transport());
    });
    if (alpha == nullptr)
        return 1;
    char counter[81] = "";
    timed("counter_read",
          [&] { return a_get_usrconf_lib(alpha, user, counter_key.c_str(), counter); });
    long *now = timed("clock", [&] { return a_get_jetzt_1(nullptr, alpha); });
    std::snprintf(counter, sizeof counter, "%lu 1",
                  now != nullptr ? static_cast<unsigned long>(*now) : 0UL);
    timed("counter_write",
          [&] { return a_put_usrconf_lib(alpha, user, counter_key.c_str(), counter); });

    std::string imap_host, ldap_host, bind_dn, bind_pw, filter, base, attr, port;
    timed("settings", [&] {
        imap_host = setting(alpha, user, "GD_IMH", "localhost");
        ldap_host = setting(alpha, user, "GD_LDH", "localhost");
        bind_dn = setting(alpha, user, "GD_LDU", "");
        bind_pw = setting(alpha, user, "GD_LDP", "");
        filter = setting(alpha, user, "GD_LDFIL", "facsimileTelephoneNumber=%s");
        base = setting(alpha, user, "GD_LDBAS", "");
        attr = setting(alpha, user, "GD_LDAIU", "uid");
        port = setting(alpha, user, "GD_LDPRT", "389");
        return 0;
    });

    LDAP *ld = nullptr;
    int rc = timed("ldap_bind", [&] {
        ld = ldap_init(ldap_host.c_str(), std::atoi(port.c_str()));
        int version = LDAP_VERSION3;
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        return ldap_simple_bind_s(ld, bind_dn.c_str(), bind_pw.c_str());
    });
    if (rc != 0)
        return 1;
    std::string mailbox_user;
    timed("ldap_search", [&] {
        // The extension is digits here: no escaping needed for the floor.
        char search[256];
        std::snprintf(search, sizeof search, "facsimileTelephoneNumber=%s", extension);
        char *attrs[] = {attr.data(), nullptr};
        timeval limit{10, 0};
        LDAPMessage *result = nullptr;
        int r = ldap_search_st(ld, base.c_str(), LDAP_SCOPE_SUBTREE, search, attrs, 0, &limit,
                               &result);
        LDAPMessage *entry = r == 0 ? ldap_first_entry(ld, result) : nullptr;
        char **values = entry != nullptr ? ldap_get_values(ld, entry, attr.c_str()) : nullptr;
        if (values != nullptr && values[0] != nullptr)
            mailbox_user = values[0];
        ldap_value_free(values);
        ldap_msgfree(result);
        return r;
    });
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    if (mailbox_user.empty())
        return 1;

    const bool logged_in = timed("imap_login", [&] {
        mail_link(&imapdriver);
        mail_link(&pop3driver);
        auth_link(&auth_md5);
        auth_link(&auth_log);
        g_user = mailbox_user.c_str();
        g_password = password;
        std::string mailbox = imap_host[0] == '{' ? imap_host : "{" + imap_host + "}";
        // Half-open, as dialcred logs in: no mailbox is selected.
        MAILSTREAM *stream = mail_open(NIL, mailbox.data(), OP_HALFOPEN);
        if (stream == NIL)
            return false;
        mail_close_full(stream, 0);
        return true;
    });
    if (!logged_in)
        return 1;

    timed("counter_delete", [&] { return a_del_usrconf_lib(alpha, user, counter_key.c_str()); });
    rc = timed("code_store", [&] {
        return a_put_usrconf_lib(alpha, user, code_key.c_str(), "0 0000000000000000");
    });
    std::printf("%s\n", g_line.c_str());
    return rc == 0 ? 0 : 1;
}
