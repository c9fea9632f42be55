// The directory lookup: finds the mailbox user name of an extension in LDAP.
// The directory and mail server settings are usrconf entries of the user
// (keys GD_...), so that each alpha server's users can point at their own
// directory. The command's only file that includes the LDAP headers (the
// benchmark's floor client makes the same exchanges on its own).
#include <string.h>
#include <sys/time.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define LDAP_DEPRECATED 1
#include <ldap.h>

#include "a_lib.h"
#include "dialcred.h"

namespace {

constexpr std::size_t kFilterSize = 1024;
constexpr int kTimeoutSeconds = 10;
const char g_empty[] = "";

// The mailbox user name found, copied out of the directory's answer: the
// caller's buffer holds 320 bytes, and a longer name is refused as unknown.
char g_user[320];
char g_ldaperr[1000];

// The handle, the search result and the values, released on every way out
// of restest (a handle whose bind failed needs its unbind too).
struct Directory {
    LDAP *ld = nullptr;
    LDAPMessage *result = nullptr;
    char **values = nullptr;
    ~Directory()
    {
        if (values != nullptr)
            ldap_value_free(values);
        if (result != nullptr)
            ldap_msgfree(result);
        if (ld != nullptr)
            ldap_unbind_ext_s(ld, nullptr, nullptr);
    }
};

// The port text read the way atoi reads it, without its overflow.
int read_port(const char *text)
{
    long v = std::strtol(text, nullptr, 10);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// Builds the search filter from the template: its one "%s" receives the
// extension escaped as an assertion value, so that "*", "(", ")" and "\"
// match literally; "%%" stands for "%". The template is never used as a
// format. Returns an error text, or null when the filter was built whole.
const char *build_filter(const char *tmpl, const char *extension, char *filter)
{
    berval in{};
    in.bv_val = const_cast<char *>(extension);
    in.bv_len = std::strlen(extension);
    berval escaped{};
    if (ldap_bv2escaped_filter_value(&in, &escaped) != 0)
        return "cannot escape the extension for the LDAP filter";
    std::string out;
    int holes = 0;
    for (const char *p = tmpl; *p != '\0'; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            ++p;
        } else if (p[1] == 's') {
            out.append(escaped.bv_val, escaped.bv_len);
            ++holes;
            ++p;
        } else {
            holes = -1;  // any other conversion is refused
            break;
        }
    }
    ber_memfree(escaped.bv_val);
    if (holes != 1)
        return "GD_LDFIL must hold exactly one %s";
    if (out.size() >= kFilterSize)
        return "LDAP filter too long";
    std::memcpy(filter, out.c_str(), out.size() + 1);
    return nullptr;
}

}  // namespace

const char *myldap_error(int code, const char *function)
{
    std::snprintf(g_ldaperr, sizeof g_ldaperr, "%s returns %s", function, ldap_err2string(code));
    return cgi_error(g_ldaperr);
}

void GetConfig(CLIENT *clnt, const char *user, const char *key, const char *def, char *value)
{
    if (a_get_usrconf_lib(clnt, user, key, value) != RPCLIB_OK)
        my_strncpy(value, def != nullptr ? def : "", 80);
}

const char *restest(CLIENT *clnt, const char *user, const char *extension, char *imaphost)
{
    char host[81], bind_dn[81], bind_pw[81], tmpl[81], base[81], attr[81], port[81];
    GetConfig(clnt, user, "GD_IMH", "localhost", imaphost);
    GetConfig(clnt, user, "GD_LDH", "localhost", host);
    GetConfig(clnt, user, "GD_LDU", nullptr, bind_dn);
    GetConfig(clnt, user, "GD_LDP", nullptr, bind_pw);
    GetConfig(clnt, user, "GD_LDFIL", "facsimileTelephoneNumber=%s", tmpl);
    GetConfig(clnt, user, "GD_LDBAS", nullptr, base);
    GetConfig(clnt, user, "GD_LDAIU", "uid", attr);
    GetConfig(clnt, user, "GD_LDPRT", "389", port);

    Directory d;
    d.ld = ldap_init(host, read_port(port));
    if (d.ld == nullptr)
        return cgi_error("ldap_init failed.");
    int version = LDAP_VERSION3;
    if (ldap_set_option(d.ld, LDAP_OPT_PROTOCOL_VERSION, &version) == LDAP_OPT_SUCCESS)
        ldap_set_option(d.ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    // Without these a directory that accepts the connection but never
    // answers would hold the bind forever.
    timeval limit{kTimeoutSeconds, 0};
    ldap_set_option(d.ld, LDAP_OPT_NETWORK_TIMEOUT, &limit);
    ldap_set_option(d.ld, LDAP_OPT_TIMEOUT, &limit);

    int rc = ldap_simple_bind_s(d.ld, bind_dn, bind_pw);
    explicit_bzero(bind_pw, sizeof bind_pw);
    if (rc != 0)
        return myldap_error(rc, "ldap_simple_bind_s");

    char filter[kFilterSize];
    if (const char *why = build_filter(tmpl, extension, filter))
        return cgi_error(why);

    char *attrs[] = {attr, nullptr};
    timeval search_limit{kTimeoutSeconds, 0};
    rc = ldap_search_st(d.ld, base, LDAP_SCOPE_SUBTREE, filter, attrs, 0, &search_limit, &d.result);
    if (rc != 0)
        return myldap_error(rc, "ldap_search_st");
    if (ldap_count_entries(d.ld, d.result) == 0)
        return g_empty;
    LDAPMessage *entry = ldap_first_entry(d.ld, d.result);
    if (entry == nullptr)
        return myldap_error(0, "ldap_first_entry");
    d.values = ldap_get_values(d.ld, entry, attr);
    if (d.values == nullptr || d.values[0] == nullptr || std::strlen(d.values[0]) >= sizeof g_user)
        return g_empty;
    std::memcpy(g_user, d.values[0], std::strlen(d.values[0]) + 1);
    return g_user;
}
