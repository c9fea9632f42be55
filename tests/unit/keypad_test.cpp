// Unit tests of the keypad code: units per character, header and length,
// the 80-digit capacity, the clock-seeded choice for e/i/n, and the way back.
// Units are observed without repeating the PIN mixing: a password of spaces
// (all units 00) under the same PIN exposes the mask digit by digit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "pinpw2t.h"

namespace {

struct Code {
    int header = 0;
    std::string digits;
};

std::string encode(const std::string &pin, const std::string &pw) {
    return pinpw2t(pin.c_str(), pw.c_str());
}

Code split(const std::string &text) {
    size_t space = text.find(' ');
    return {std::atoi(text.substr(0, space).c_str()), text.substr(space + 1)};
}

int pin_digits(const std::string &pin) {
    return static_cast<int>(std::min<size_t>(pin.size(), 75));
}

// Code digits of 40 spaces: digit i is (20 - mask[i]) mod 10, for i < 80.
std::string reference(const std::string &pin) {
    return split(encode(pin, std::string(40, ' '))).digits;
}

// The password digits behind a code's whole digit run.
std::string unmask(const std::string &pin, const std::string &text) {
    std::string ref = reference(pin), digits = split(text).digits;
    for (size_t i = 0; i < digits.size(); ++i)
        digits[i] = static_cast<char>('0' + (ref[i] - digits[i] + 10) % 10);
    return digits;
}

std::string units_of(const std::string &pin, const std::string &pw) {
    std::string text = encode(pin, pw);
    return unmask(pin, text).substr(0, split(text).header + pin_digits(pin));
}

// A code with the given password digits under the PIN, laid out as pinpw2t does.
std::string craft(const std::string &pin, const std::string &units) {
    std::string ref = reference(pin), digits;
    int na = static_cast<int>(units.size()), nb = pin_digits(pin);
    for (int i = 0; i < std::max(na, nb); ++i)
        digits += static_cast<char>('0' + (ref[i] - units[i % na] + 10) % 10);
    return std::to_string(na - nb) + " " + digits;
}

std::pair<int, std::string> decode(const std::string &pin, const std::string &text) {
    char pw[100];
    int rc = t2pw(pin.c_str(), text.c_str(), pw, sizeof pw);
    return {rc, pw};
}

bool is_code_text(const std::string &text) {
    Code c = split(text);
    return text.find(' ') != std::string::npos && !c.digits.empty() &&
           c.digits.find_first_not_of("0123456789") == std::string::npos;
}

std::string times(int n, const std::string &s) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

}  // namespace

// Worked by hand from the mixing and masking rules:
// PIN "1": p=[1], s=17+1=18; pass 0: d=(1+18+1)%10=0, s=18; pass 1:
//   d=(0+18+1)%10=9 -> q=[9]. "a" is unit 65 -> w=6,5, header 2-1=1;
//   t=(20-6-9)%10=5, (20-5-9)%10=6 -> "1 56".
// PIN "12": p=[1,2], s=20; pass 0: j=1 d=(2+20+1)%10=3 s=24, j=0
//   d=(1+24+2)%10=7 s=31; pass 1: j=1 d=(3+0+1)%10=4 s=37, j=0
//   d=(7+6+2)%10=5 s=43 -> q=[5,4]. "A\xE9" -> 33, 99 73 -> w=3,3,9,9,7,3;
//   header 6-2=4; t=2,3,6,7,8,3 -> "4 236783".
// PIN "12345": s=32; pass 0 gives q=[1,6,3,1,7], s=60; pass 1 gives
//   q=[3,9,7,6,7]. "Z" is unit 58, header 2-5=-3, w cycles 5,8,5,8,5:
//   t=(20-5-3)%10=2,(20-8-9)=3,(20-5-7)=8,(20-8-6)=6,(20-5-7)=8 -> "-3 23868".
TEST(KeypadCode, MatchesHandComputedVectors) {
    EXPECT_EQ(encode("1", "a"), "1 56");
    EXPECT_EQ(encode("12", "A\xE9"), "4 236783");
    EXPECT_EQ(encode("12345", "Z"), "-3 23868");
}

// Guards the table: plain, shifted and double-shifted ranges and their ends.
TEST(KeypadCode, SingleCharactersGiveTheirUnits) {
    const struct {
        const char *pw, *units;
    } cases[] = {{"a", "65"},        {"A", "33"},        {" ", "00"},        {"~", "94"},
                 {"\x7f", "95"},     {"E", "37"},        {"I", "41"},        {"N", "46"},
                 {"\xE9", "9973"},   {"\xA0", "9900"},   {"\xFF", "9995"},   {"\t", "999909"},
                 {"\x01", "999901"}, {"\x85", "999937"}, {"\x80", "999932"}, {"\x9F", "999963"}};
    for (const char *pin : {"4711", "9", "80808080808080808080"})
        for (const auto &c : cases) EXPECT_EQ(units_of(pin, c.pw), c.units) << pin << " " << c.pw;
}

// e, i and n take one rand() draw each, in order, after srand(time): bit 0
// clear picks the second unit.
TEST(KeypadCode, LettersEinFollowOneClockSeededDrawEach) {
    const std::string pw = "nie eine in einen nie nein ie";
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::time_t before = std::time(nullptr);
        std::string text = encode("31415", pw);
        if (std::time(nullptr) != before) continue;  // second changed mid-call
        // Spaces take no draw.
        std::srand(static_cast<unsigned>(before));
        std::string expected;
        for (char ch : pw) {
            if (ch == ' ') {
                expected += "00";
                continue;
            }
            bool alt = (std::rand() & 1) == 0;
            expected += ch == 'e'   ? (alt ? "96" : "69")
                        : ch == 'i' ? (alt ? "98" : "73")
                                    : (alt ? "97" : "78");
        }
        EXPECT_EQ(unmask("31415", text).substr(0, expected.size()), expected);
        return;
    }
    FAIL() << "clock kept changing during the call";
}

TEST(KeypadCode, PasswordWithoutEinGivesTheSameCodeOnEveryCall) {
    EXPECT_EQ(encode("4711", "PASSWORT 42!"), encode("4711", "PASSWORT 42!"));
    Code first = split(encode("4711", "einnehmen")), second = split(encode("4711", "einnehmen"));
    EXPECT_EQ(first.header, second.header);
    EXPECT_EQ(first.digits.size(), second.digits.size());
}

// The header is password digits minus PIN digits; a longer PIN makes it
// negative and the run then repeats the password digits cyclically.
TEST(KeypadCode, HeaderAndRunLengthFollowTheLongerSequence) {
    const std::string pin75(75, '7');
    const struct {
        std::string pin, pw;
        int header;
        size_t run;
    } cases[] = {{"1234", "ab", 0, 4},       {"12345", "ab", -1, 5}, {"1", "abc", 5, 6},
                 {"123456789", "\t", -3, 9}, {pin75, "a", -73, 75},  {"8", "\xE9\x85", 9, 10}};
    for (const auto &c : cases) {
        std::string text = encode(c.pin, c.pw);
        Code code = split(text);
        EXPECT_EQ(code.header, c.header) << text;
        EXPECT_EQ(code.digits.size(), c.run) << text;
        std::string w = unmask(c.pin, text);
        size_t na = static_cast<size_t>(c.header + pin_digits(c.pin));
        for (size_t i = na; i < w.size(); ++i) EXPECT_EQ(w[i], w[i % na]) << text << " at " << i;
    }
}

// The caller's PIN check lets digits followed by other characters through.
TEST(KeypadCode, NonDigitPinCharactersStillGiveDigitsOnly) {
    for (const char *pin : {"12ab", "!!!!!!", "\xff\x80 z~", "/", ":", "9a", "0"}) {
        std::string text = encode(pin, "Geheim e1\xE4");
        EXPECT_TRUE(is_code_text(text)) << text;
        EXPECT_EQ(decode(pin, text), std::make_pair(T2PW_OK, std::string("Geheim e1\xE4")));
    }
}

TEST(KeypadCode, OnlyTheFirst75PinAndPasswordCharactersCount) {
    std::string pin75;
    for (int i = 0; i < 75; ++i) pin75 += static_cast<char>('0' + i * 7 % 10);
    EXPECT_EQ(encode(pin75, "Abc"), encode(pin75 + "9", "Abc"));
    EXPECT_EQ(encode(pin75, "Abc"), encode(pin75 + "12345", "Abc"));
    EXPECT_NE(encode(pin75.substr(0, 74), "Abc"), encode(pin75, "Abc"));
    std::string pw75(75, 'x');
    EXPECT_EQ(encode("4711", pw75), encode("4711", pw75 + "Z"));
}

TEST(KeypadCode, EmptyPinOrPasswordGivesEmptyText) {
    EXPECT_EQ(encode("", "abc"), "");
    EXPECT_EQ(encode("123", ""), "");
    EXPECT_EQ(encode("", ""), "");
}

// Characters are taken while their units fit 80 digits; the first one that
// does not fit ends the password, even if a shorter one follows.
TEST(KeypadCode, PasswordStopsBeforeTheUnitThatPassesEightyDigits) {
    const std::string dbl = "\x01", sh = "\xE9";
    const struct {
        std::string pw;
        size_t taken;
        int digits;
    } cases[] = {{times(40, "A"), 40, 80},
                 {times(41, "A"), 40, 80},
                 {times(41, "e"), 40, 80},
                 {times(39, "A") + "e", 40, 80},
                 {times(39, "A") + sh, 39, 78},
                 {times(13, dbl), 13, 78},
                 {times(14, dbl), 13, 78},
                 {times(13, dbl) + "a", 14, 80},
                 {times(13, dbl) + "\x85" + "a", 13, 78},
                 {times(20, sh), 20, 80},
                 {times(21, sh), 20, 80},
                 {times(19, sh) + dbl + "a", 19, 76},
                 {times(19, sh) + "ab", 21, 80}};
    for (const auto &c : cases) {
        std::string text = encode("4711", c.pw);
        EXPECT_EQ(split(text).header + 4, c.digits) << text;
        auto back = decode("4711", text);
        EXPECT_EQ(back.first, T2PW_OK) << text;
        EXPECT_EQ(back.second, c.pw.substr(0, c.taken)) << text;
    }
}

// The stored value holds 80 characters, header and space included.
TEST(KeypadCode, CodeTextLengthCountsHeaderAndSpace) {
    const struct {
        std::string pin, pw, prefix;
        size_t length;
    } cases[] = {{"4711", times(38, "A"), "72 ", 79},     {"4711", times(39, "A"), "74 ", 81},
                 {"4711", times(40, "A"), "76 ", 83},     {"1", times(13, "\x01"), "77 ", 81},
                 {std::string(75, '5'), "a", "-73 ", 79}, {"1", times(40, "A"), "79 ", 83}};
    for (const auto &c : cases) {
        std::string text = encode(c.pin, c.pw);
        EXPECT_EQ(text.size(), c.length) << text;
        EXPECT_EQ(text.substr(0, c.prefix.size()), c.prefix);
    }
}

// Random passwords over every byte class and random PINs (mostly digits):
// decoding gives back the prefix that fits, and any one changed digit is
// either refused or reads as another password.
TEST(KeypadRoundTrip, DecodingGivesBackEveryPrefixThatFits) {
    std::mt19937 rng(20240607);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 3000; ++round) {
        std::string pw, pin, fits;
        int len = pick(0, 75), used = 0;
        bool stopped = false;
        for (int i = 0; i < len; ++i) {
            int b = pick(1, 255);
            pw += static_cast<char>(b);
            int width = b < 0x20 || (b >= 0x80 && b < 0xA0) ? 6 : b >= 0xA0 ? 4 : 2;
            stopped = stopped || used + width > 80;
            if (!stopped) used += width, fits += static_cast<char>(b);
        }
        for (int i = pick(1, 80); i > 0; --i)
            pin += static_cast<char>(pick(0, 4) != 0 ? pick('0', '9') : pick(1, 255));

        std::string text = encode(pin, pw);
        if (fits.empty()) {
            EXPECT_EQ(text, "");
            continue;
        }
        ASSERT_TRUE(is_code_text(text)) << text;
        ASSERT_EQ(decode(pin, text), std::make_pair(T2PW_OK, fits)) << text;
        std::string changed = text;
        size_t at = text.size() - 1 -
                    static_cast<size_t>(pick(0, static_cast<int>(split(text).digits.size()) - 1));
        changed[at] = static_cast<char>('0' + (changed[at] - '0' + pick(1, 9)) % 10);
        auto back = decode(pin, changed);
        EXPECT_TRUE(back.first != T2PW_OK || back.second != fits) << changed;
    }
}

TEST(KeypadDecode, RefusesMalformedCodes) {
    const std::string pin = "4711";
    std::string repeated = craft("123456", "65");
    repeated.back() = static_cast<char>('0' + (repeated.back() - '0' + 1) % 10);
    const struct {
        std::string pin, code;
        int rc;
    } cases[] = {
        {pin, "", T2PW_EFORM},
        {pin, "0", T2PW_EFORM},
        {pin, " 6533", T2PW_EFORM},
        {pin, "0 ", T2PW_EFORM},
        {pin, "x 6533", T2PW_EFORM},
        {pin, "+0 6533", T2PW_EFORM},
        {pin, "00 6533", T2PW_EFORM},
        {pin, "-0 6533", T2PW_EFORM},
        {pin, "0  6533", T2PW_EFORM},
        {pin, "0 65a3", T2PW_EFORM},
        {pin, "0 6533 ", T2PW_EFORM},
        {pin, "1000 65", T2PW_EFORM},
        {pin, "0 653", T2PW_ELENGTH},
        {pin, "1 12345", T2PW_ELENGTH},
        {pin, "-4 1234", T2PW_ELENGTH},
        {pin, "-3 1234", T2PW_ELENGTH},
        {pin, "2 1234", T2PW_ELENGTH},
        {"", "1 12", T2PW_ELENGTH},
        {pin, "78 " + std::string(82, '1'), T2PW_ELENGTH},
        {"123456", repeated, T2PW_ELENGTH},
        {pin, craft(pin, "99"), T2PW_EUNITS},
        {pin, craft(pin, "6599"), T2PW_EUNITS},
        {pin, craft(pin, "9999"), T2PW_EUNITS},
        {pin, craft(pin, "999999"), T2PW_EUNITS},
        {pin, craft(pin, "999900"), T2PW_EUNITS},
        {pin, craft(pin, "999964"), T2PW_EUNITS},
        {pin, craft(pin, "9996"), T2PW_EUNITS},
        {pin, craft(pin, "999937"), T2PW_OK},
    };
    for (const auto &c : cases)
        EXPECT_EQ(decode(c.pin, c.code).first, c.rc) << "'" << c.code << "'";
    EXPECT_EQ(decode(pin, craft(pin, "99993765969798")).second, std::string("\x85") + "aeni");
}

TEST(KeypadDecode, NeedsRoomForPasswordAndTerminator) {
    std::string text = encode("4711", "abc");
    char pw[4] = "xyz";
    EXPECT_EQ(t2pw("4711", text.c_str(), pw, 3), T2PW_ESPACE);
    EXPECT_STREQ(pw, "");
    EXPECT_EQ(t2pw("4711", text.c_str(), nullptr, 0), T2PW_ESPACE);
    EXPECT_EQ(t2pw("4711", text.c_str(), pw, 4), T2PW_OK);
    EXPECT_STREQ(pw, "abc");
}
