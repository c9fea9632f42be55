// The failed-attempt throttle. Every attempt for an extension is counted in
// the usrconf entry "T<extension>" as "<unlock time> <count>"; the unlock time
// doubles with each attempt. An attempt that comes before the previous
// attempt's unlock time waits when the wait is short and is refused when it is
// long. Times are the alpha server's clock, never the local one, so that all
// hosts of the system throttle alike.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "a_lib.h"
#include "dialcred.h"

namespace {

constexpr int kBase = 1;            // attempts up to this count set no delay
constexpr uint32_t kMaxSteps = 15;  // count cap = base + 15, delay 2^15 s
constexpr uint32_t kWaitLimit = 59;

struct Counter {
    uint32_t unlock = 0;
    int32_t count = 0;
};

// Reads "%lu %d" as the counter entry was written; a field that does not scan
// counts as 0. Out-of-range numbers are taken modulo 2^32 (unlock) or held at
// the int range (count) rather than being undefined.
Counter scan_counter(const char *value)
{
    Counter c;
    char *end = nullptr;
    errno = 0;
    unsigned long unlock = std::strtoul(value, &end, 10);
    if (end == value)
        return c;
    c.unlock = static_cast<uint32_t>(unlock);
    const char *rest = end;
    long count = std::strtol(rest, &end, 10);
    if (end != rest)
        c.count = static_cast<int32_t>(count > INT_MAX   ? INT_MAX
                                       : count < INT_MIN ? INT_MIN
                                                         : count);
    return c;
}

// The alpha server's time, or 0 when it cannot be read (0 is never valid).
uint32_t alpha_now(CLIENT *clnt)
{
    long *now = a_get_jetzt_1(nullptr, clnt);
    return now != nullptr ? static_cast<uint32_t>(*now) : 0;
}

}  // namespace

int inc(CLIENT *clnt, char *value, int base)
{
    Counter c;
    if (value[0] != '\0')
        c = scan_counter(value);
    uint32_t now = alpha_now(clnt);
    if (now == 0) {
        wlog(2, "internal error: can't get alpha timestamp (ignored)");
        return 0;
    }
    // Unsigned arithmetic: a stored count below base - 1 (a negative one)
    // reads as far beyond the cap and is held there.
    uint32_t count = static_cast<uint32_t>(c.count) + 1;
    int held = 0;
    if (count - static_cast<uint32_t>(base) > kMaxSteps) {
        count = static_cast<uint32_t>(base) + kMaxSteps;
        held = 1;
    }
    uint32_t unlock = now;
    if (count > static_cast<uint32_t>(base))
        unlock = now + (UINT32_C(1) << (count - static_cast<uint32_t>(base)));
    std::snprintf(value, 81, "%lu %d", static_cast<unsigned long>(unlock), static_cast<int>(count));
    return held;
}

void check_delay(CLIENT *clnt, const char *user, const char *extension)
{
    char key[32];
    std::snprintf(key, sizeof key, "T%.20s", extension);
    char value[81];
    // Any other failure reads as no earlier attempt; RPCLIB_NOT_SENT says the
    // server cannot hold the key at all (an old-generation server and a key
    // over 10 characters), so it could never count this attempt: refused.
    int rc = a_get_usrconf_lib(clnt, user, key, value);
    if (rc == RPCLIB_NOT_SENT) {
        std::snprintf(logbuf, sizeof logbuf, "internal error: a_get_usrconf_lib returns EC_%d\n",
                      rc);
        wlog(2, logbuf);
        std::exit(1);
    }
    if (rc != RPCLIB_OK)
        value[0] = '\0';

    // The wait is measured against the unlock time of the previous attempt,
    // not the one this attempt is about to store.
    uint32_t earlier = value[0] != '\0' ? scan_counter(value).unlock : 0;

    if (inc(clnt, value, kBase) == 1) {
        std::snprintf(logbuf, sizeof logbuf, "ZU VIELE FEHLVERSUCHE F\xfcR DURCHWAHL %s!",
                      extension);
        wlog(0, logbuf);
    }
    // Counted before the decision below, so a refused attempt counts too.
    a_put_usrconf_lib(clnt, user, key, value);

    if (earlier == 0)
        return;
    uint32_t now = alpha_now(clnt);
    if (now == 0 || now >= earlier)
        return;
    uint32_t wait = earlier - now;
    if (wait > kWaitLimit) {
        wlog(1, "Der Zugriff ist blockiert, versuchen Sie es sp\xe4ter.");
        std::snprintf(logbuf, sizeof logbuf, "Viele Fehlversuche f\xfcr Durchwahl %s!", extension);
        wlog(0, logbuf);
        std::exit(1);
    }
    // sleep() may return early on a signal; the attempt waits the whole time.
    while (wait > 0)
        wait = sleep(wait);
}
