// The keypad code: units per character, header and run, the 80-digit capacity, the clock-seeded
// e, i and n, and the way back. A password of spaces (all units 00) exposes the PIN's mask.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <regex>
#include <string>

#include "pinpw2t.h"

namespace {

std::string encode(const std::string &pin, const std::string &pw) {
    return pinpw2t(pin.c_str(), pw.c_str());
}

std::string run_of(const std::string &text) { return text.substr(text.find(' ') + 1); }

// Takes the PIN's mask off a digit run, or puts it on (a code's digit is mask - unit mod 10).
std::string mask(const std::string &pin, std::string digits) {
    const std::string ref = run_of(encode(pin, std::string(40, ' ')));
    for (size_t i = 0; i < digits.size(); ++i) digits[i] = '0' + (ref[i] - digits[i] + 10) % 10;
    return digits;
}

// The units of the password digits, when pin has no more digits than they.
std::string units_of(const std::string &pin, const std::string &pw) {
    return mask(pin, run_of(encode(pin, pw)));
}

// A code holding units under a PIN of at most as many digits, laid out as pinpw2t lays it out.
std::string craft(const std::string &pin, const std::string &units) {
    return std::to_string(units.size() - pin.size()) + " " + mask(pin, units);
}

std::pair<int, std::string> decode(const std::string &pin, const std::string &text) {
    char pw[100];
    int rc = t2pw(pin.c_str(), text.c_str(), pw, sizeof pw);
    return {rc, pw};
}

}  // namespace

// By hand, PIN "1": s=18; pass 0: d=(1+18+1)%10=0, pass 1: d=(0+18+1)%10=9, so q=[9]; "a" is
// unit 65, header 2-1=1, t=(20-6-9)%10=5, (20-5-9)%10=6: "1 56". A longer PIN gives a negative
// header and a run of its length over the repeated password digits; only 75 PIN digits count.
TEST(KeypadCode, EncodesToTheExpectedText) {
    const std::string pin75 = std::string(70, '3') + "12345";
    const struct {
        std::string pin, pw, text;
    } cases[] = {{"1", "a", "1 56"},
                 {"12", "A\xE9", "4 236783"},
                 {"12345", "Z", "-3 23868"},
                 {"", "abc", ""},
                 {"123", "", ""},
                 {pin75 + "9", "Abc", encode(pin75, "Abc")},
                 {"4711", "PASSWORT 42!", encode("4711", "PASSWORT 42!")}};  // no e, i or n
    for (const auto &c : cases) EXPECT_EQ(encode(c.pin, c.pw), c.text) << c.pin << " " << c.pw;
    EXPECT_NE(encode(pin75.substr(0, 74), "Abc"), encode(pin75, "Abc"));
}

// Plain, shifted and double-shifted ranges and their ends.
TEST(KeypadCode, SingleCharactersGiveTheirUnits) {
    const struct {
        const char *pw, *units;
    } cases[] = {{"a", "65"},        {"A", "33"},        {" ", "00"},        {"~", "94"},
                 {"\x7f", "95"},     {"E", "37"},        {"I", "41"},        {"N", "46"},
                 {"\xE9", "9973"},   {"\xA0", "9900"},   {"\xFF", "9995"},   {"\t", "999909"},
                 {"\x01", "999901"}, {"\x85", "999937"}, {"\x80", "999932"}, {"\x9F", "999963"}};
    for (const auto &c : cases) EXPECT_EQ(units_of("9", c.pw), c.units) << c.pw;
}

// e, i and n take one rand() draw each, in order, after srand(time): bit 0 clear picks the
// second unit (96, 98, 97). Spaces take no draw.
TEST(KeypadCode, LettersEinFollowOneClockSeededDrawEach) {
    const std::string pw = "nie eine in einen nie nein ie";
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string units = units_of("31415", pw);
        if (std::time(nullptr) != before) continue;  // the second changed during the call
        std::srand(static_cast<unsigned>(before));
        std::string expected;
        for (char ch : pw) {
            const std::string u = ch == 'e' ? "6996" : ch == 'i' ? "7398" : ch == 'n' ? "7897" : "";
            expected += u.empty() ? "00" : u.substr((std::rand() & 1) == 0 ? 2 : 0, 2);
        }
        EXPECT_EQ(units, expected);
        return;
    }
    FAIL() << "the clock kept changing during the call";
}

// Random passwords over every byte class and random PINs (mostly digits): the code is a header
// and digits, decoding gives back the prefix that fits 80 digits, and one changed digit is
// refused or reads as another password.
TEST(KeypadRoundTrip, DecodingGivesBackEveryPrefixThatFits) {
    std::mt19937 rng(20240607);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const std::regex code("(0|-?[1-9][0-9]*) [0-9]+");
    for (int round = 0; round < 3000; ++round) {
        std::string pw, pin, fits;
        for (int i = pick(0, 75), used = 0; i > 0; --i) {
            const int b = pick(1, 255);
            const int w = b < 0x20 || (b >= 0x80 && b < 0xA0) ? 6 : b >= 0xA0 ? 4 : 2;
            pw += static_cast<char>(b);
            used = used < 0 || used + w > 80 ? -1 : used + w;  // -1: the password has ended
            if (used >= 0) fits += static_cast<char>(b);
        }
        for (int i = pick(1, 80); i > 0; --i)
            pin += static_cast<char>(pick(0, 4) != 0 ? pick('0', '9') : pick(1, 255));
        const std::string text = encode(pin, pw);
        ASSERT_TRUE(fits.empty() ? text.empty() : std::regex_match(text, code)) << text;
        if (fits.empty()) continue;
        ASSERT_EQ(decode(pin, text), std::make_pair(T2PW_OK, fits)) << text;
        std::string changed = text;
        char &d = changed[changed.size() - 1 - pick(0, static_cast<int>(run_of(text).size()) - 1)];
        d = static_cast<char>('0' + (d - '0' + pick(1, 9)) % 10);
        EXPECT_NE(decode(pin, changed), std::make_pair(T2PW_OK, fits)) << changed;
    }
}

TEST(KeypadDecode, RefusesMalformedCodesAndShortBuffers) {
    const std::string pin = "4711";
    std::string repeated = "-4 " + mask("123456", "656565");  // repeats must equal the units
    repeated.back() = static_cast<char>('0' + (repeated.back() - '0' + 1) % 10);
    const int F = T2PW_EFORM, L = T2PW_ELENGTH, U = T2PW_EUNITS;
    const std::pair<std::string, int> cases[] = {
        {"", F},          {"0", F},         {" 6533", F},      {"0 ", F},        {"x 6533", F},
        {"+0 6533", F},   {"00 6533", F},   {"-0 6533", F},    {"0  6533", F},   {"0 65a3", F},
        {"0 6533 ", F},   {"1000 65", F},   {"0 653", L},      {"1 12345", L},   {"-4 1234", L},
        {"-3 1234", L},   {"2 1234", L},    {"78 " + std::string(82, '1'), L},
        {craft(pin, "9999"), U},   {craft(pin, "6599"), U},   {craft(pin, "999999"), U},
        {craft(pin, "999900"), U}, {craft(pin, "999964"), U}, {craft(pin, "9996"), U},
        {craft(pin, "999937"), T2PW_OK}};
    for (const auto &[code, rc] : cases)
        EXPECT_EQ(decode(pin, code).first, rc) << "'" << code << "'";
    EXPECT_EQ(decode("", "1 12").first, L);
    EXPECT_EQ(decode("123456", repeated).first, L);
    // Room for the password and its NUL, else an empty string.
    char pw[4] = "xyz";
    const std::string abc = encode(pin, "abc");
    EXPECT_EQ(t2pw(pin.c_str(), abc.c_str(), pw, 3), T2PW_ESPACE);
    EXPECT_STREQ(pw, "");
    EXPECT_EQ(t2pw(pin.c_str(), abc.c_str(), nullptr, 0), T2PW_ESPACE);
    EXPECT_EQ(t2pw(pin.c_str(), abc.c_str(), pw, 4), T2PW_OK);
    EXPECT_STREQ(pw, "abc");

}
