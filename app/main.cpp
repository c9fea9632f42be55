// dialcred <extension> <PIN> <password>
//
// Sets a user's telephone PIN: routes the extension to its alpha server,
// checks the PIN, throttles repeated attempts, finds the mailbox user in the
// directory, proves the password by a mailbox login and stores the keypad
// code derived from PIN and password under "t<extension>". Prints "Ok" and
// exits 0 on success; every refusal prints a message and exits 1.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>

#include "a_lib.h"
#include "dialcred.h"
#include "o_lib.h"
#include "pinpw2t.h"

namespace {

constexpr std::size_t kUserNameSize = 320;
constexpr std::size_t kMaxPinChars = 75;      // what the keypad code takes of a PIN
constexpr std::size_t kMaxCodeChars = 80;     // what a usrconf value holds

void usage() { wlog(1, "Sie m\xfcssen alle drei Felder ausf\xfcllen."); }

[[noreturn]] void refuse(int level, const char *text)
{
    wlog(level, text);
    std::exit(1);
}

// Whether the PIN reads as a non-zero number the way atoi reads it: white
// space, one optional sign, then digits up to the first other character.
// Decided on the digits themselves, so that no PIN is mistaken for 0 by an
// overflow.
bool pin_is_nonzero(const char *pin)
{
    const char *p = pin;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (*p != '0')
            return true;
    return false;
}

// The minimum PIN length from the omega configuration ("%d" of the value's
// leading number), 0 when there is none.
int pin_length_minimum()
{
    char text[81];
    if (o_get_config_lib(nullptr, "PINLENMIN", text) != 0)
        return 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text)
        return 0;
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// A keypad code is stored only when it gives back the whole password with
// the whole PIN: the store keeps 80 characters, and the code takes at most 75
// PIN characters and 80 password digits.
void check_code_decodes(const char *pin, const char *password, const char *code)
{
    if (std::strlen(pin) > kMaxPinChars)
        refuse(1, "Der Pincode ist zu lang.");
    if (password[0] == '\0')
        return;
    static char decoded[256];
    if (std::strlen(code) > kMaxCodeChars ||
        t2pw(pin, code, decoded, sizeof decoded) != 0 || std::strcmp(decoded, password) != 0)
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
    // A server that goes away while we hold its connection must fail the
    // call, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);

    if (argc != 4) {
        usage();
        std::exit(0);
    }
    const char *extension = argv[1];
    const char *pin = argv[2];
    const char *password = argv[3];

    char alpha_host[36] = "";
    char alpha_user[11] = "";
    char target_id[11] = "";
    int rc = o_apply_route_new_lib(nullptr, extension, "", alpha_host, alpha_user, target_id);
    if (rc == 25)
        refuse(1, "Die Durchwahl ist unbekannt (route).\n");
    if (rc != 0) {
        std::snprintf(logbuf, sizeof logbuf, "internal error: o_apply_route returns error EC_%d\n",
                      rc);
        refuse(2, logbuf);
    }

    if (!pin_is_nonzero(pin))
        refuse(1, "Der Pincode muss aus Ziffern bestehen.");
    int minimum = pin_length_minimum();
    if (minimum != 0 && std::strlen(pin) < static_cast<unsigned int>(minimum)) {
        std::snprintf(logbuf, sizeof logbuf,
                      "Der Pincode ist zu kurz, verwenden Sie mindestens %d Ziffern.", minimum);
        refuse(1, logbuf);
    }

    char code_key[32];
    char counter_key[32];
    std::snprintf(code_key, sizeof code_key, "t%.20s", extension);
    std::snprintf(counter_key, sizeof counter_key, "T%.20s", extension);

    a_client = remote_a_clnt(alpha_host);
    if (a_client == nullptr) {
        std::snprintf(logbuf, sizeof logbuf, "internal error: no connect to server %s", alpha_host);
        refuse(2, logbuf);
    }

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

    if (imap4login(imap_host, mailbox_user, password) == 0)
        refuse(1, "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n");

    a_del_usrconf_lib(a_client, alpha_user, counter_key);

    char code[128];
    std::snprintf(code, sizeof code, "%s", pinpw2t(pin, password));
    check_code_decodes(pin, password, code);

    rc = a_put_usrconf_lib(a_client, alpha_user, code_key, code);
    if (rc != 0) {
        std::snprintf(logbuf, sizeof logbuf, "internal error: a_put_usrconf_lib returns EC_%d\n",
                      rc);
        refuse(2, logbuf);
    }
    std::fputs("Ok", stdout);
    std::exit(0);
}
