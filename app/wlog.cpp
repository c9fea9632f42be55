// The diagnostic log: every text dialcred emits goes through wlog, which
// sends it by level to the user (standard output), to the administrator
// (standard error) and to the event log of the extension's alpha server.
#include <cstdio>

#include "a_lib.h"
#include "dialcred.h"

CLIENT *a_client = nullptr;
char logbuf[kLogBufSize];

namespace {
// Room for "dialcred: " and anything that fits in logbuf.
char g_logline[1100];
const char g_empty[] = "";
}  // namespace

int wlog(int level, const char *text)
{
    if (level > 0)
        std::printf("%s\n", text);
    if (level == 1 || level == 2 || level < 0)
        return 0;
    std::snprintf(g_logline, sizeof g_logline, "dialcred: %s", text);
    // One message, one line: no text can end it early or forge another, on
    // a terminal or in the event log. C0, DEL and the C1 range of
    // ISO-8859-1 are control characters; the letters above stay.
    for (char *p = g_logline; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0))
            *p = '?';
    }
    std::fprintf(stderr, " %s\n", g_logline);
    // The event log takes 79 characters; a longer line fails there silently
    // and is kept on standard error only.
    if (a_client != nullptr)
        a_a_log_lib(a_client, g_logline);
    return 0;
}

const char *cgi_error(const char *text)
{
    std::snprintf(logbuf, sizeof logbuf, "internal error: %s", text);
    wlog(2, logbuf);
    return g_empty;
}
