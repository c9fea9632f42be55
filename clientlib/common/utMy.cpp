// Bounded string routines: every text that enters a fixed-width record field
// or a caller's buffer goes through my_strncpy, so no caller-supplied length
// can overflow a record.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "rpccommon.h"

namespace {
char g_unquoted[1001];
}

extern "C" {

void my_strncpy(char *dest, const char *src, short count) noexcept
{
    if (dest == nullptr)
        return;
    int n = 0;
    if (src != nullptr) {
        for (; n < count; ++n) {
            dest[n] = src[n];
            if (src[n] == '\0')
                return;
        }
    }
    dest[n] = '\0';
}

void my_getenv(const char *name, short count, char *dest) noexcept
{
    const char *v = name != nullptr ? std::getenv(name) : nullptr;
    my_strncpy(dest, v != nullptr ? v : "", count);
}

char *unquote(const char *src, char *dest) noexcept
{
    if (src == nullptr)
        return nullptr;
    char *out = dest != nullptr ? dest : g_unquoted;
    const char *open = src;
    while (*open != '\0' && std::isspace(static_cast<unsigned char>(*open)))
        ++open;
    if (*open == '\'' || *open == '"') {
        const char *close = src + std::strlen(src);
        while (close > open && std::isspace(static_cast<unsigned char>(close[-1])))
            --close;
        --close;  // the last character that is not white space
        if (close > open && *close == *open) {
            long inner = close - open - 1;
            // The static buffer holds 1000 characters; a caller's buffer is
            // taken to hold the inner text, which is never longer than src.
            if (dest == nullptr && inner > 1000)
                inner = 1000;
            my_strncpy(out, open + 1, static_cast<short>(inner > 32767 ? 32767 : inner));
            return out;
        }
    }
    if (dest != nullptr)
        std::strcpy(dest, src);
    else
        my_strncpy(g_unquoted, src, 1000);
    return out;
}

}  // extern "C"
