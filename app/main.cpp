// dialcred <extension> <PIN> <password>
// dialcred --stdin <extension>     (PIN and password on the first two lines)
//
// Sets a user's telephone PIN: routes the extension to its alpha server,
// checks the PIN, throttles repeated attempts, finds the mailbox user in the
// directory, proves the password by a mailbox login and stores the keypad
// code derived from PIN and password under "t<extension>". Prints "Ok" and
// exits 0 on success; every refusal prints a message and exits 1.
//
// The PIN and the password are the secrets this program guards: they are
// copied out of the argument vector (which every local user can read in
// /proc) before anything else happens, the process can leave no core file,
// and every copy is wiped on every way out.
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "a_lib.h"
#include "dialcred.h"
#include "o_lib.h"
#include "pinpw2t.h"

namespace {

constexpr std::size_t kUserNameSize = 320;
constexpr std::size_t kMaxExtensionDigits = 20;  // what "T"/"t" + extension hold uncut
constexpr std::size_t kMaxPinChars = 75;         // what the keypad code takes of a PIN
constexpr std::size_t kMaxCodeChars = 80;        // what a usrconf value holds
constexpr std::size_t kSecretMax = 1024;         // longest line of --stdin
constexpr std::size_t kKeypadResultSize = 100;   // pinpw2t's static result buffer

// A PIN or a password as given. text holds at most kSecretMax bytes; length
// is the length of the whole text, so that an over-long argument is still
// refused as too long rather than cut.
struct Secret {
    char text[kSecretMax + 1];
    std::size_t length;
    bool digits;  // one or more ASCII digits and nothing else, not all zeros
};

// Every copy of the secrets the program itself holds.
struct Secrets {
    Secret pin;
    Secret password;
    char code[128];       // the keypad code
    char decoded[256];    // what the code gives back
    char *keypad_result;  // pinpw2t's static result
};
Secrets g_secrets;

void wipe_secrets()
{
    if (g_secrets.keypad_result != nullptr)
        explicit_bzero(g_secrets.keypad_result, kKeypadResultSize);
    explicit_bzero(&g_secrets, sizeof g_secrets);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// One or more ASCII digits, not all of them zeros.
bool nonzero_digits(const char *text)
{
    bool nonzero = false;
    for (const char *p = text; *p != '\0'; ++p) {
        if (!is_digit(*p))
            return false;
        nonzero = nonzero || *p != '0';
    }
    return nonzero;
}

bool valid_extension(const char *text)
{
    std::size_t n = 0;
    for (; text[n] != '\0'; ++n)
        if (!is_digit(text[n]) || n == kMaxExtensionDigits)
            return false;
    return n > 0;
}

// Copies the argument and overwrites it in the argument vector.
void take_argument(Secret &s, char *arg)
{
    s.length = std::strlen(arg);
    s.digits = nonzero_digits(arg);
    std::size_t n = s.length < kSecretMax ? s.length : kSecretMax;
    std::memcpy(s.text, arg, n);
    s.text[n] = '\0';
    explicit_bzero(arg, s.length);
}

enum class Line { Read, Missing, TooLong };

// One line of standard input, read byte by byte with read(2) so that no
// stdio buffer keeps a copy and nothing past the line is consumed. A
// trailing LF or CR LF is removed; the last line may lack its LF.
Line read_line(Secret &s)
{
    std::size_t n = 0;
    bool any = false, overlong = false;
    for (;;) {
        char c;
        ssize_t got = read(0, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        any = true;
        if (c == '\n')
            break;
        if (n < kSecretMax + 1)  // one byte more, for a CR before the LF
            s.text[n++] = c;
        else
            overlong = true;
    }
    if (!any)
        return Line::Missing;
    if (n > 0 && s.text[n - 1] == '\r')
        --n;
    if (overlong || n > kSecretMax) {
        explicit_bzero(s.text, sizeof s.text);
        return Line::TooLong;
    }
    s.text[n] = '\0';
    s.length = std::strlen(s.text);
    s.digits = nonzero_digits(s.text);
    return Line::Read;
}

void usage() { wlog(1, "Sie m\xfcssen alle drei Felder ausf\xfcllen."); }

[[noreturn]] void refuse(int level, const char *text)
{
    wlog(level, text);
    std::exit(1);
}

// The minimum PIN length from the omega configuration ("%d" of the value's
// leading number), 0 when there is none.
int pin_length_minimum()
{
    char text[81];
    if (o_get_config_lib(nullptr, "PINLENMIN", text) != RPCLIB_OK)
        return 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text)
        return 0;
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// The keypad code of the PIN and the password, refused when the PIN is too
// long for it, or when the code would not fit the 80 characters of a usrconf
// value or would not give the whole password back. Decided before the
// attempt is counted or any password is tried, so that an over-long input
// can test nothing and reset nothing.
void make_code(const Secret &pin, const Secret &password)
{
    if (pin.length > kMaxPinChars)
        refuse(1, "Der Pincode ist zu lang.");
    if (password.length > kSecretMax)
        refuse(1, "Das Passwort ist zu lang.");
    g_secrets.keypad_result = pinpw2t(pin.text, password.text);
    std::snprintf(g_secrets.code, sizeof g_secrets.code, "%s", g_secrets.keypad_result);
    explicit_bzero(g_secrets.keypad_result, kKeypadResultSize);
    // An empty password gives no code; the mailbox refuses it anyway.
    if (password.length == 0)
        return;
    if (std::strlen(g_secrets.code) > kMaxCodeChars ||
        t2pw(pin.text, g_secrets.code, g_secrets.decoded, sizeof g_secrets.decoded) != 0 ||
        std::strcmp(g_secrets.decoded, password.text) != 0)
        refuse(1, "Das Passwort ist zu lang.");
}

}  // namespace

CLIENT *remote_a_clnt(const char *host)
{
    CLIENT *c = clnt_create(host, rpc_prog_nr(ALPHA_PROGRAM_BASE), ALPHAVERS, rpc_transport());
    if (c == nullptr)
        clnt_pcreateerror(host);
    return c;
}

int main(int argc, char **argv)
{
    // Before anything else: the secrets out of the argument vector, which
    // /proc/PID/cmdline shows to every local user.
    const bool from_stdin = argc == 3 && std::strcmp(argv[1], "--stdin") == 0;
    if (argc == 4) {
        take_argument(g_secrets.pin, argv[2]);
        take_argument(g_secrets.password, argv[3]);
    } else if (!from_stdin) {
        // A wrong count may still be a PIN and a password (split by a
        // shell, say): wiped too, before the usage message.
        for (int i = 2; i < argc; ++i)
            explicit_bzero(argv[i], std::strlen(argv[i]));
    }
    std::atexit(wipe_secrets);
    // No core file and no ptrace attach by other processes of this user.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    // A server that goes away while we hold its connection must fail the
    // call, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);

    if (argc != 4 && !from_stdin) {
        usage();
        std::exit(0);
    }
    const char *extension = from_stdin ? argv[2] : argv[1];
    if (!valid_extension(extension))
        refuse(1, "Die Durchwahl ist unbekannt (route).\n");
    if (from_stdin) {
        Line pin = read_line(g_secrets.pin);
        Line password = pin == Line::Missing ? Line::Missing : read_line(g_secrets.password);
        if (pin == Line::Missing || password == Line::Missing) {
            usage();
            std::exit(0);
        }
        if (pin == Line::TooLong)
            refuse(1, "Der Pincode ist zu lang.");
        if (password == Line::TooLong)
            refuse(1, "Das Passwort ist zu lang.");
    }
    const Secret &pin = g_secrets.pin;
    const Secret &password = g_secrets.password;

    char alpha_host[36] = "";
    char alpha_user[11] = "";
    char target_id[11] = "";
    int rc = o_apply_route_new_lib(nullptr, extension, "", alpha_host, alpha_user, target_id);
    if (rc == RPCLIB_NO_ENTRY)
        refuse(1, "Die Durchwahl ist unbekannt (route).\n");
    if (rc != RPCLIB_OK) {
        std::snprintf(logbuf, sizeof logbuf, "internal error: o_apply_route returns error EC_%d\n",
                      rc);
        refuse(2, logbuf);
    }

    if (!pin.digits)
        refuse(1, "Der Pincode muss aus Ziffern bestehen.");
    int minimum = pin_length_minimum();
    if (minimum != 0 && pin.length < static_cast<unsigned int>(minimum)) {
        std::snprintf(logbuf, sizeof logbuf,
                      "Der Pincode ist zu kurz, verwenden Sie mindestens %d Ziffern.", minimum);
        refuse(1, logbuf);
    }
    make_code(pin, password);

    char code_key[32];
    char counter_key[32];
    std::snprintf(code_key, sizeof code_key, "t%s", extension);
    std::snprintf(counter_key, sizeof counter_key, "T%s", extension);

    a_client = remote_a_clnt(alpha_host);
    if (a_client == nullptr) {
        std::snprintf(logbuf, sizeof logbuf, "internal error: no connect to server %s", alpha_host);
        refuse(2, logbuf);
    }

    // Held from before the counter is read until it is deleted or the run
    // ends, so that parallel attempts are counted one after the other.
    int lock = lock_attempts(alpha_host, alpha_user, extension);
    check_delay(a_client, alpha_user, extension);

    char imap_host[81];
    char mailbox_user[kUserNameSize];
    const char *found = restest(a_client, alpha_user, extension, imap_host);
    // A name that does not fit is refused like one the directory lacks.
    if (std::strlen(found) >= sizeof mailbox_user)
        found = "";
    std::snprintf(mailbox_user, sizeof mailbox_user, "%s", found);
    if (mailbox_user[0] == '\0')
        refuse(2, "Die Durchwahl ist unbekannt (LDAP).");

    if (imap4login(imap_host, mailbox_user, password.text) == 0)
        refuse(1, "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n");

    a_del_usrconf_lib(a_client, alpha_user, counter_key);
    unlock_attempts(lock);

    rc = a_put_usrconf_lib(a_client, alpha_user, code_key, g_secrets.code);
    if (rc != RPCLIB_OK) {
        std::snprintf(logbuf, sizeof logbuf, "internal error: a_put_usrconf_lib returns EC_%d\n",
                      rc);
        refuse(2, logbuf);
    }
    std::fputs("Ok", stdout);
    std::exit(0);
}
