// The mailbox password check: a login to the user's mailbox proves the
// password. Built on c-client, whose headers define macros (T, NIL, min, max,
// write, ...) that break other C++ code: this is the command's only file that
// includes them, and it defines the callbacks every c-client program must
// supply.
#include <alloca.h>
#include <string.h>
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

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
// The lowest address of the buffers the library handed to mm_login: they
// live in the library's stack frames, below imap4login's.
std::uintptr_t g_lowest_login_buffer = 0;

// A mail server that accepts the connection and never answers would hold
// mail_open forever; 25 seconds is the RPC call limit and above the longest
// failed-login penalty of a slow but working server.
constexpr long kMailTimeoutSeconds = 25;
// The library hands mm_login buffers of MAILTMPLEN bytes.
constexpr std::size_t kLoginBufferSize = MAILTMPLEN;
// Stack wiped when the login buffers' place is not known.
constexpr std::size_t kDefaultStackWipe = 64 * 1024;
constexpr std::size_t kMaxStackWipe = 1024 * 1024;

// Overwrites the stack below the caller's frame, where the library's frames
// held the user name and the password it was given: they are dead once
// mail_open has returned, but their bytes stay until something else is
// written there.
[[gnu::noinline]] void wipe_stack_below(std::size_t bytes)
{
    void *area = alloca(bytes);
    explicit_bzero(area, bytes);
}

// Whether the mailbox specification asks for TLS, or for none, itself.
bool names_tls(const NETMBX &mb) { return mb.sslflag || mb.tlsflag || mb.notlsflag; }
}  // namespace

int imap4login(const char *imaphost, const char *user, const char *password)
{
    if (!g_bLinked) {
        // TLS is there for mailbox names that ask for it ("/ssl", "/tls").
        ssl_onceonlyinit();
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
    NETMBX mb;
    if (!mail_valid_net_parse(mailbox, &mb))
        return 0;
    // With TLS initialised, the library would switch to STARTTLS by itself
    // wherever a server offers it, and check a certificate that a set-up
    // made for plain logins never had: a mailbox name that says nothing
    // about TLS stays plain, as it always was.
    // STARTTLS ("/tls") on its own takes a TLS 1.0-only method, which
    // current servers refuse; "/tls-sslv23" lets it negotiate the version.
    const char *flag = !names_tls(mb)                ? "/notls"
                       : mb.tlsflag && !mb.tlssslv23 ? "/tls-sslv23"
                                                     : nullptr;
    if (flag != nullptr) {
        char flagged[sizeof mailbox];
        const char *close = std::strchr(mailbox, '}');
        int n = static_cast<int>(close - mailbox);
        std::snprintf(flagged, sizeof flagged, "%.*s%s%s", n, mailbox, flag, close);
        std::memcpy(mailbox, flagged, sizeof mailbox);
    }
    // Half-open: the login proves the password and no mailbox is selected,
    // so the user's mail keeps its state (new mail stays new). The POP3
    // driver cannot open half-open (it refuses at once), and a POP3 session
    // does not select anything a client would miss: options 0 there.
    const long options = strcasecmp(mb.service, "pop3") == 0 ? 0 : OP_HALFOPEN;

    g_nLoginTries = 0;
    g_lowest_login_buffer = 0;
    MAILSTREAM *stream = mail_open(NIL, mailbox, options);
    int accepted = 0;
    if (stream != NIL) {
        mail_close_full(stream, 0);
        accepted = 1;
    }
    // The library's copies of the credentials: wipe the stack down to below
    // the lowest buffer it handed to mm_login.
    std::size_t wipe = kDefaultStackWipe;
    const std::uintptr_t here = reinterpret_cast<std::uintptr_t>(&mb);
    if (g_lowest_login_buffer != 0 && g_lowest_login_buffer < here &&
        here - g_lowest_login_buffer < kMaxStackWipe - 2 * kLoginBufferSize &&
        here - g_lowest_login_buffer + 2 * kLoginBufferSize > wipe)
        wipe = here - g_lowest_login_buffer + 2 * kLoginBufferSize;
    wipe_stack_below(wipe);
    return accepted;
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
    for (const char *b : {user, pwd}) {
        const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(b);
        if (g_lowest_login_buffer == 0 || a < g_lowest_login_buffer)
            g_lowest_login_buffer = a;
    }
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
