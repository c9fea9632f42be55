// The keypad code: units, header and run, the 80-digit capacity, e, i and n, and the way back.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

#include "pinpw2t.h"

namespace {

std::string encode(std::string pin, std::string pw) { return pinpw2t(pin.c_str(), pw.c_str()); }

std::string run_of(const std::string &text) { return text.substr(text.find(' ') + 1); }

// Takes the PIN's mask (the code of spaces: units 00) off a run, or puts it on: mask - unit mod 10.
std::string mask(const std::string &pin, std::string digits)
{
    const std::string ref = run_of(encode(pin, std::string(40, ' ')));
    for (size_t i = 0; i < digits.size(); ++i)
        digits[i] = '0' + (ref[i] - digits[i] + 10) % 10;
    return digits;
}

// t2pw's result and pw, which starts as "x" so that an error must leave it empty.
std::pair<int, std::string> decode(std::string pin, std::string code, size_t size = 99)
{
    char pw[100] = "x";
    return {t2pw(pin.c_str(), code.c_str(), pw, size), pw};  // a braced list runs in order
}

}  // namespace

// By hand, PIN "1": s=18; pass 0: d=(1+18+1)%10=0, pass 1: d=(0+18+1)%10=9, so q=[9]; "a" is
// unit 65, header 2-1=1, t=(20-6-9)%10=5, (20-5-9)%10=6: "1 56". A longer PIN gives a negative
// header and a run of its length over the repeated password digits; only 75 PIN digits count.
TEST(KeypadCode, EncodesToTheExpectedText)
{
    const std::string pin75 = std::string(70, '3') + "12345";
    for (const auto &[pin, pw, text] :
         {std::tuple{"1", "a", "1 56"}, {"12", "A\xE9", "4 236783"}, {"12345", "Z", "-3 23868"}})
        EXPECT_EQ(encode(pin, pw), text) << pin << " " << pw;
    EXPECT_EQ(encode("", "abc") + encode("123", ""), "");  // no PIN or no password: no code
    EXPECT_EQ(encode(pin75 + "9", "Abc"), encode(pin75, "Abc"));
    EXPECT_NE(encode(pin75.substr(0, 74), "Abc"), encode(pin75, "Abc"));
    // Plain, shifted and double-shifted characters at the ends of their ranges; E, I, N are plain.
    for (const auto &[pw, units] : {std::pair{" EIN\x7f", "0037414695"},
                                    {"\xA0\xE9\xFF", "990099739995"},
                                    {"\x01\x1f\x80\x9F", "999901999931999932999963"}})
        EXPECT_EQ(mask("9", run_of(encode("9", pw))), units) << pw;
}

// e, i and n take one rand() draw each, in order, after srand(time): bit 0 clear picks the
// second unit (96, 98, 97). Spaces take no draw.
TEST(KeypadCode, LettersEinFollowOneClockSeededDrawEach)
{
    const std::string pw = "nie eine in einen nie nein ie";
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string units = mask("31415", run_of(encode("31415", pw)));
        if (std::time(nullptr) != before)
            continue;  // the second changed during the call
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

// Random passwords over every byte class and random PINs (mostly digits): decoding gives back the
// prefix that fits 80 digits, and one changed digit is refused or reads as another password.
TEST(KeypadRoundTrip, DecodingGivesBackEveryPrefixThatFits)
{
    std::mt19937 rng(20240607);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 3000; ++round) {
        std::string pw, pin, fits;
        for (int i = pick(1, 75), used = 0; i > 0; --i) {
            const int b = pick(1, 255);
            const int w = b < 0x20 || (b >= 0x80 && b < 0xA0) ? 6 : b >= 0xA0 ? 4 : 2;
            pw += static_cast<char>(b);
            used = used < 0 || used + w > 80 ? -1 : used + w;  // -1: the password has ended
            if (used >= 0)
                fits += static_cast<char>(b);
        }
        for (int i = pick(1, 80); i > 0; --i)
            pin += static_cast<char>(pick(0, 4) != 0 ? pick('0', '9') : pick(1, 255));
        const std::string text = encode(pin, pw);
        ASSERT_EQ(decode(pin, text), std::make_pair(T2PW_OK, fits)) << text;
        std::string changed = text;
        char &d = changed[changed.size() - 1 - pick(0, static_cast<int>(run_of(text).size()) - 1)];
        d = static_cast<char>('0' + (d - '0' + pick(1, 9)) % 10);
        EXPECT_NE(decode(pin, changed), std::make_pair(T2PW_OK, fits)) << changed;
    }
}

// Each row a way a code can be malformed (a header not as "%d" writes it, a run that does not fit
// the header and the PIN, units that are no character); an error leaves pw empty.
TEST(KeypadDecode, RefusesMalformedCodesAndShortBuffers)
{
    const std::string pin = "4711";
    const int F = T2PW_EFORM, L = T2PW_ELENGTH, U = T2PW_EUNITS;
    const std::string run82 = "78 " + std::string(82, '1');
    const std::pair<std::string, int> cases[] = {
        {" 6533", F},  {"00 6533", F}, {"-0 6533", F}, {"1000 65", F}, {"0", F},  {"0 ", F},
        {"0 65a3", F}, {"0 653", L},   {"1 12345", L}, {"-4 1234", L}, {run82, L}};
    for (const auto &[code, rc] : cases)
        EXPECT_EQ(decode(pin, code), std::make_pair(rc, std::string())) << code;
    // Units that are no character, laid out as pinpw2t lays them out under the PIN's mask.
    for (std::string u : {"6599", "999999", "999900", "9996", "999964"})
        EXPECT_EQ(decode(pin, std::to_string(u.size() - 4) + " " + mask(pin, u)).first, U) << u;
    EXPECT_EQ(decode("", "1 12").first, L);
    // Room for the password and its NUL, else an error.
    EXPECT_EQ(decode("1", "1 56", 1), std::make_pair(T2PW_ESPACE, std::string()));
    EXPECT_EQ(decode("1", "1 56", 2), std::make_pair(T2PW_OK, std::string("a")));
    EXPECT_EQ(t2pw("1", "1 56", nullptr, 0), T2PW_ESPACE);
}
