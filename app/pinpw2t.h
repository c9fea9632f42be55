/* Keypad code: the digit-only text stored for a user's telephone access, made
 * from the numeric PIN and the mail password, and the way back from it to the
 * password. A keypad can type only digits, so every password byte becomes
 * two-digit units that the PIN masks; nothing else is needed to read it back. */
#ifndef DIALCRED_PINPW2T_H
#define DIALCRED_PINPW2T_H

#include <stddef.h>

#ifdef __cplusplus
#define PINPW2T_NOEXCEPT noexcept
extern "C" {
#else
#define PINPW2T_NOEXCEPT
#endif

/* Returns the keypad code of the PIN and the password as "%d %s": the header
 * (password digits minus PIN digits), one space, then max(password digits,
 * PIN digits) digit characters. The empty string when the PIN or the
 * password is empty (or NULL). At most 75 characters of each are taken;
 * password characters are taken only while their units fit into 80 digits,
 * so a longer password is cut (check with t2pw). The text lives in a static
 * 100-byte buffer that the next call overwrites; not reentrant. Reseeds
 * srand from the clock: e, i and n are written with one of two units each,
 * chosen by rand(). */
char *pinpw2t(const char *pin, const char *pw) PINPW2T_NOEXCEPT;

/* Results of t2pw. */
#define T2PW_OK 0
#define T2PW_EFORM 1   /* not "<header> <digits>" as pinpw2t writes it */
#define T2PW_ELENGTH 2 /* digit run does not fit the header and the PIN */
#define T2PW_EUNITS 3  /* units do not read back as password characters */
#define T2PW_ESPACE 4  /* pw (pwsize bytes) cannot hold password and NUL */

/* Reads the password back from a keypad code with the PIN that made it and
 * writes it NUL-terminated into pw. Returns T2PW_OK or one of the errors
 * above; on error pw holds the empty string (when pwsize is not 0). */
int t2pw(const char *pin, const char *code, char *pw, size_t pwsize) PINPW2T_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* DIALCRED_PINPW2T_H */
