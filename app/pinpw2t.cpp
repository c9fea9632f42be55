// Keypad code: PIN and mail password to the digit string stored for telephone
// access, and back. Pure computation on fixed local arrays (no heap, no
// exceptions); its only outside calls are time, srand and rand, and
// explicit_bzero, which wipes the working arrays that hold the secrets.

#include "pinpw2t.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string.h>
#include <ctime>
#include <tuple>

// How a password byte is written as units.
enum : unsigned char {
    KIND_PLAIN = 0,          // one unit
    KIND_ALTERNATING = 1,    // one unit, code or alt_code by a coin toss
    KIND_SHIFTED = 2,        // 99, then the unit
    KIND_DOUBLE_SHIFTED = 3  // 99, 99, then the unit
};

struct ctable_row {
    unsigned char kind;
    unsigned char code;
    unsigned char alt_code;
};

static constexpr int MAXCHARS = 75;   // PIN or password characters taken
static constexpr int MAXDIGITS = 80;  // capacity of every working digit array
static constexpr int SHIFT_UNIT = 99;

// One row per byte value. e, i and n each get a second unit (96..98, unused
// by any other byte) so that the same password does not always give the
// same digits; upper-case E, I and N stay plain.
static constexpr std::array<ctable_row, 256> make_ctable()
{
    std::array<ctable_row, 256> t{};
    for (int b = 0; b < 256; ++b) {
        unsigned char kind, code;
        if (b < 0x20) {
            kind = KIND_DOUBLE_SHIFTED, code = static_cast<unsigned char>(b);
        } else if (b < 0x80) {
            kind = KIND_PLAIN, code = static_cast<unsigned char>(b - 32);
        } else if (b < 0xA0) {
            kind = KIND_DOUBLE_SHIFTED, code = static_cast<unsigned char>(b - 96);
        } else {
            kind = KIND_SHIFTED, code = static_cast<unsigned char>(b - 160);
        }
        t[b] = {kind, code, 0};
    }
    t['e'] = {KIND_ALTERNATING, 69, 96};
    t['i'] = {KIND_ALTERNATING, 73, 98};
    t['n'] = {KIND_ALTERNATING, 78, 97};
    return t;
}

static constexpr std::array<ctable_row, 256> ctable = make_ctable();

// The byte a unit stands for after 0, 1 or 2 shift prefixes; -1 for none
// (byte 0 included: it would end the password).
static constexpr int unit2byte(int shifts, int unit)
{
    switch (shifts) {
    case 0:
        if (unit == 96)
            return 'e';
        if (unit == 97)
            return 'n';
        if (unit == 98)
            return 'i';
        return unit >= 0 && unit <= 95 ? unit + 32 : -1;
    case 1:
        return unit >= 0 && unit <= 95 ? unit + 160 : -1;
    default:
        if (unit >= 1 && unit <= 31)
            return unit;
        return unit >= 32 && unit <= 63 ? unit + 96 : -1;
    }
}

static constexpr int ctable_max_unit()
{
    int m = 0;
    for (const ctable_row &r : ctable) {
        if (r.code > m)
            m = r.code;
        if (r.alt_code > m)
            m = r.alt_code;
    }
    return m;
}

static constexpr bool ctable_uses_unit(int unit)
{
    for (const ctable_row &r : ctable)
        if (r.code == unit || r.alt_code == unit)
            return true;
    return false;
}

// Every unit a byte may be written with reads back as that byte, so decoding
// is unambiguous.
static constexpr bool ctable_reads_back()
{
    for (int b = 1; b < 256; ++b) {
        const ctable_row &r = ctable[b];
        int shifts = r.kind == KIND_SHIFTED ? 1 : r.kind == KIND_DOUBLE_SHIFTED ? 2 : 0;
        if (unit2byte(shifts, r.code) != b)
            return false;
        if (r.kind == KIND_ALTERNATING && unit2byte(0, r.alt_code) != b)
            return false;
    }
    return true;
}

// 99 must stay free for the shift prefix, and every unit must fit two digits.
static_assert(!ctable_uses_unit(SHIFT_UNIT), "ctable: no row may use the shift unit 99");
static_assert(ctable_max_unit() == 98, "ctable: largest unit must be 98");
static_assert(ctable_reads_back(), "ctable: every unit must read back as its byte");

// Also in release builds: a unit of three digits would silently corrupt the
// stream.
static void keypad_check(bool ok, const char *condition)
{
    if (!ok) {
        std::fprintf(stderr, "pinpw2t: assertion failed: %s\n", condition);
        std::abort();
    }
}
#define KEYPAD_CHECK(cond) keypad_check((cond), #cond)

static char result[100];

// The working arrays hold the PIN and the password in other shapes: wiped
// on every way out of the call that filled them.
template <typename... Arrays>
struct wipe_on_return {
    std::tuple<Arrays &...> arrays;
    explicit wipe_on_return(Arrays &...a) : arrays(a...) {}
    ~wipe_on_return()
    {
        std::apply([](auto &...a) { (explicit_bzero(&a, sizeof a), ...); }, arrays);
    }
    wipe_on_return(const wipe_on_return &) = delete;
    wipe_on_return &operator=(const wipe_on_return &) = delete;
};

// PIN characters to digit values (byte minus '0'; non-digits give values
// outside 0..9, which the mixing copes with).
static void num2a(const char *s, std::int32_t *a, int *n, int max)
{
    for (int k = 0; k < max && s[k] != '\0'; ++k)
        a[(*n)++] = static_cast<unsigned char>(s[k]) - 48;
}

static void i2a(std::int32_t i, std::int32_t *slot)
{
    KEYPAD_CHECK(i < 100);
    slot[0] = i / 10;
    slot[1] = i % 10;
}

static void simple2a(std::int32_t i, std::int32_t *pos, int *n)
{
    i2a(i, pos);
    *n += 2;
}

static void shift2a(std::int32_t i, std::int32_t *pos, int *n)
{
    pos[0] = 9;
    pos[1] = 9;
    i2a(i, pos + 2);
    *n += 4;
}

static void doubleshift2a(std::int32_t i, std::int32_t *pos, int *n)
{
    pos[0] = 9;
    pos[1] = 9;
    pos[2] = 9;
    pos[3] = 9;
    i2a(i, pos + 4);
    *n += 6;
}

static int unit_digits(unsigned char kind)
{
    return kind == KIND_DOUBLE_SHIFTED ? 6 : kind == KIND_SHIFTED ? 4 : 2;
}

// Password characters to unit digits. Stops at the first character whose
// units would pass the digit capacity: such a code could not be stored
// whole, and stopping (rather than skipping) keeps what is taken a prefix
// of the password.
static void str2a(const char *s, std::int32_t *a, int *n, int max)
{
    for (int k = 0; k < max && s[k] != '\0'; ++k) {
        const ctable_row &r = ctable[static_cast<unsigned char>(s[k])];
        if (*n + unit_digits(r.kind) > MAXDIGITS)
            break;
        switch (r.kind) {
        case KIND_PLAIN:
            simple2a(r.code, a + *n, n);
            break;
        case KIND_ALTERNATING:
            simple2a((std::rand() & 1) == 0 ? r.alt_code : r.code, a + *n, n);
            break;
        case KIND_SHIFTED:
            shift2a(r.code, a + *n, n);
            break;
        default:
            doubleshift2a(r.code, a + *n, n);
            break;
        }
    }
}

static std::int32_t xs(int i, const std::int32_t *a, int n) { return a[i % n]; }

// Spreads every PIN digit over the whole mask: each mixed digit depends on
// its neighbour and on a running sum of all earlier results.
static void p2pp(const std::int32_t *p, int n, std::int32_t *q)
{
    std::int32_t s = 17;
    for (int j = 0; j < n; ++j) {
        q[j] = p[j];
        s += p[j];
    }
    for (int r = 0; r < 2; ++r) {
        for (int j = n - 1; j >= 0; --j) {
            std::int32_t d = (q[j] + s % 31 + xs(j + 1, p, n)) % 10;
            q[j] = d;
            s += j + d + r;
        }
    }
}

static void mkt(const std::int32_t *w, int na, const std::int32_t *q, int nb, int *header,
                std::int32_t *t, int *length)
{
    *header = na - nb;
    *length = na > nb ? na : nb;
    for (int i = 0; i < *length; ++i)
        t[i] = (20 - xs(i, w, na) - xs(i, q, nb)) % 10;
}

static char *a2num(const std::int32_t *t, int n, char *text)
{
    for (int i = 0; i < n; ++i)
        text[i] = static_cast<char>((t[i] & 0xFF) + 48);
    text[n] = '\0';
    return text;
}

extern "C" char *pinpw2t(const char *pin, const char *pw) noexcept
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    int header = 0, length = 0, na = 0, nb = 0;
    result[0] = '\0';

    std::int32_t pin_digits[MAXDIGITS] = {};
    std::int32_t pw_digits[MAXDIGITS] = {};
    std::int32_t mixed[MAXDIGITS] = {};
    std::int32_t code_digits[MAXDIGITS] = {};
    char text[128];
    wipe_on_return wipe(pin_digits, pw_digits, mixed, code_digits, text);

    num2a(pin != nullptr ? pin : "", pin_digits, &nb, MAXCHARS);
    str2a(pw != nullptr ? pw : "", pw_digits, &na, MAXCHARS);
    if (nb != 0)
        p2pp(pin_digits, nb, mixed);
    if (na == 0 || nb == 0)
        return result;
    mkt(pw_digits, na, mixed, nb, &header, code_digits, &length);
    // The run never exceeds 80 digits; the precision only tells the compiler so.
    std::snprintf(result, sizeof result, "%d %.80s", header, a2num(code_digits, length, text));
    return result;
}

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Header as "%d" writes it: optional minus, no leading zeros, no "-0".
// Anything beyond three digits is far outside every possible header.
static bool parse_header(const char **s, int *header)
{
    const char *c = *s;
    bool negative = *c == '-';
    if (negative)
        ++c;
    if (!is_digit(*c) || (c[0] == '0' && is_digit(c[1])))
        return false;
    int value = 0, ndigits = 0;
    for (; is_digit(*c); ++c) {
        if (++ndigits > 3)
            return false;
        value = value * 10 + (*c - '0');
    }
    if (negative && value == 0)
        return false;
    *header = negative ? -value : value;
    *s = c;
    return true;
}

extern "C" int t2pw(const char *pin, const char *code, char *pw, size_t pwsize) noexcept
{
    if (pw != nullptr && pwsize != 0)
        pw[0] = '\0';
    if (pin == nullptr || code == nullptr)
        return T2PW_EFORM;

    int header = 0;
    const char *c = code;
    if (!parse_header(&c, &header) || *c++ != ' ')
        return T2PW_EFORM;
    const char *digits = c;
    size_t run = std::strlen(digits);
    if (run == 0)
        return T2PW_EFORM;
    for (size_t i = 0; i < run; ++i)
        if (!is_digit(digits[i]))
            return T2PW_EFORM;

    std::int32_t pin_digits[MAXDIGITS] = {};
    std::int32_t mixed[MAXDIGITS] = {};
    std::int32_t pw_digits[MAXDIGITS] = {};
    char decoded[MAXDIGITS / 2 + 1];
    wipe_on_return wipe(pin_digits, mixed, pw_digits, decoded);
    int nb = 0;
    num2a(pin, pin_digits, &nb, MAXCHARS);
    if (nb == 0)
        return T2PW_ELENGTH;
    int na = header + nb;
    if (na < 2 || na > MAXDIGITS || na % 2 != 0)
        return T2PW_ELENGTH;
    if (run != static_cast<size_t>(na > nb ? na : nb))
        return T2PW_ELENGTH;
    p2pp(pin_digits, nb, mixed);

    // The mask is taken off the first na digits; the rest (when the PIN is
    // longer) repeats them and must agree, or the code was not made this way.
    for (int i = 0; i < static_cast<int>(run); ++i) {
        std::int32_t w = (20 - (digits[i] - '0') - xs(i, mixed, nb)) % 10;
        if (i < na)
            pw_digits[i] = w;
        else if (w != pw_digits[i % na])
            return T2PW_ELENGTH;
    }

    // Validated whole before pw is touched, so that a malformed code is never
    // reported as a short buffer.
    size_t out = 0;
    for (int k = 0; k < na;) {
        int shifts = 0, unit;
        while ((unit = pw_digits[k] * 10 + pw_digits[k + 1]) == SHIFT_UNIT && shifts < 2) {
            ++shifts;
            k += 2;
            if (k >= na)
                return T2PW_EUNITS;
        }
        k += 2;
        int byte = unit2byte(shifts, unit);
        if (byte < 0)
            return T2PW_EUNITS;
        decoded[out++] = static_cast<char>(byte);
    }
    if (pw == nullptr || out >= pwsize)
        return T2PW_ESPACE;
    std::memcpy(pw, decoded, out);
    pw[out] = '\0';
    return T2PW_OK;
}
