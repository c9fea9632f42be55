/* The installed keypad code: made, read back with the PIN, and a malformed one refused. */
#include <stdio.h>
#include <string.h>

#include <pinpw2t.h>

int main(void)
{
    char code[100], pw[100];
    int ok;

    snprintf(code, sizeof code, "%s", pinpw2t("1234", "Geheim42"));
    ok = strncmp(code, "12 ", 3) == 0 && strlen(code) == 19 && strspn(code + 3, "0123456789") == 16;
    ok = ok && t2pw("1234", code, pw, sizeof pw) == T2PW_OK && strcmp(pw, "Geheim42") == 0;
    ok = ok && t2pw("1234", "x", pw, sizeof pw) == T2PW_EFORM && pw[0] == '\0';
    printf("keypad consumer: %s\n", ok ? "ok" : "FAILED");
    return !ok;
}
