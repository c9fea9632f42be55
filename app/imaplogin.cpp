// The mailbox password check: a login to the user's mailbox proves the
// password. Built on c-client, whose headers define macros (T, NIL, min, max,
// write, ...) that break other C++ code: this is the only file that includes
// them, and it defines the callbacks every c-client program must supply.
#include <cstdio>
#include <cstring>

extern "C" {
#include <c-client/c-client.h>
}
#undef min
#undef max
#undef write

#include "dialcred.h"

extern "C" {
extern DRIVER imapdriver, pop3driver;
extern AUTHENTICATOR auth_md5, auth_log;
}

namespace {
int g_bLinked = 0;
const char *g_pszUsr = nullptr;
const char *g_pszPwd = nullptr;
int g_nLoginTries = 0;

// A mail server that accepts the connection and never answers would hold
// mail_open forever; 25 seconds is the RPC call limit and above the longest
// failed-login penalty of a slow but working server.
constexpr long kMailTimeoutSeconds = 25;
// The library hands mm_login buffers of MAILTMPLEN bytes.
constexpr std::size_t kLoginBufferSize = MAILTMPLEN;
}  // namespace

int imap4login(const char *imaphost, const char *user, const char *password)
{
    if (!g_bLinked) {
        mail_link(&imapdriver);
        mail_link(&pop3driver);
        auth_link(&auth_md5);
        auth_link(&auth_log);
        mail_parameters(NIL, SET_OPENTIMEOUT, reinterpret_cast<void *>(kMailTimeoutSeconds));
        mail_parameters(NIL, SET_READTIMEOUT, reinterpret_cast<void *>(kMailTimeoutSeconds));
        g_bLinked = 1;
    }
    g_pszUsr = user;
    g_pszPwd = password;
    char mailbox[1024];
    if (imaphost[0] == '{')
        std::snprintf(mailbox, sizeof mailbox, "%s", imaphost);
    else
        std::snprintf(mailbox, sizeof mailbox, "{%s}", imaphost);
    g_nLoginTries = 0;
    MAILSTREAM *stream = mail_open(NIL, mailbox, 0);
    if (stream == NIL)
        return 0;
    mail_close_full(stream, 0);
    return 1;
}

// Answers alternate: credentials, then empty texts (which make the library
// abandon the method in progress), so no method is retried with a password
// that was refused. Credentials that do not fit the library's buffers are
// never cut: the empty answer makes the login fail instead.
void mm_login(NETMBX *, char *user, char *pwd, long)
{
    const bool fits = g_pszUsr != nullptr && g_pszPwd != nullptr &&
                      std::strlen(g_pszUsr) < kLoginBufferSize &&
                      std::strlen(g_pszPwd) < kLoginBufferSize;
    if (g_nLoginTries != 0 || !fits) {
        user[0] = '\0';
        pwd[0] = '\0';
        g_nLoginTries = 0;
        return;
    }
    std::strcpy(user, g_pszUsr);
    std::strcpy(pwd, g_pszPwd);
    ++g_nLoginTries;
}

// Everything the library reports is discarded: the user sees one message.
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
