// Keypad fuzz check: t2pw takes any code, and gives back the password that pinpw2t encoded.
#include <cstdlib>
#include <cstring>

#include "fuzz_checks.hpp"
#include "pinpw2t.h"

namespace fuzzcheck {
namespace {

// The part of pw that pinpw2t takes: at most 75 characters, and only while
// their units fit 80 digits (two per character, four for bytes from 0xa0,
// six for control characters and bytes 0x80 to 0x9f).
std::string taken_part(const std::string &pw)
{
    size_t digits = 0, k = 0;
    for (; k < pw.size() && k < 75; ++k) {
        const auto b = static_cast<unsigned char>(pw[k]);
        const size_t units = b < 0x20 || (b >= 0x80 && b < 0xa0) ? 6 : b >= 0xa0 ? 4 : 2;
        if (digits + units > 80)
            break;
        digits += units;
    }
    return pw.substr(0, k);
}

std::string quoted(const std::string &s)
{
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            q += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            q += esc;
        }
    }
    return q + "\"";
}

std::string keypad_failure(const std::string &pin, const std::string &pw, const std::string &code,
                           const char *what)
{
    return std::string("keypad: ") + what + " (PIN " + quoted(pin) + ", password " + quoted(pw) +
           ", code " + quoted(code) + ")";
}

// t2pw into a buffer of exactly `size` bytes (none for 0).
int decode_into(const std::string &pin, const std::string &code, size_t size, std::string &pw)
{
    Block buf(size == 0 ? nullptr : static_cast<char *>(std::malloc(size)));
    if (size != 0 && !buf)
        std::abort();
    if (size != 0)
        std::memset(buf.get(), 'X', size);
    const int rc = t2pw(pin.c_str(), code.c_str(), buf.get(), size);
    pw.clear();
    if (size != 0) {
        const void *nul = std::memchr(buf.get(), '\0', size);
        if (nul == nullptr)
            return -1;  // t2pw left the buffer unterminated
        pw.assign(buf.get());
    }
    return rc;
}

std::string check_round_trip(const std::string &pin, const std::string &pw)
{
    const std::string code = pinpw2t(pin.c_str(), pw.c_str());
    if (pin.empty() || pw.empty())
        return code.empty() ? std::string()
                            : keypad_failure(pin, pw, code, "a code without PIN or password");
    if (code.empty())
        return keypad_failure(pin, pw, code, "no code for a PIN and a password");
    const std::string expected = taken_part(pw);
    std::string back;
    if (decode_into(pin, code, 128, back) != T2PW_OK)
        return keypad_failure(pin, pw, code, "t2pw refuses the code that pinpw2t made");
    if (back != expected)
        return keypad_failure(pin, pw, code,
                              ("t2pw gives " + quoted(back) + ", not " + quoted(expected)).c_str());
    if (decode_into(pin, code, expected.size() + 1, back) != T2PW_OK)
        return keypad_failure(pin, pw, code, "t2pw refuses a buffer that just holds the password");
    if (decode_into(pin, code, expected.size(), back) != T2PW_ESPACE)
        return keypad_failure(pin, pw, code, "t2pw takes a buffer one byte too short");
    return {};
}

}  // namespace

std::string check_keypad(const uint8_t *data, size_t size)
{
    if (size < 1)
        return {};
    const size_t pwsize = data[0];
    std::string parts[3];
    size_t part = 0;
    for (size_t i = 1; i < size && part < 3; ++i) {
        if (data[i] == '\0')
            ++part;
        else
            parts[part] += static_cast<char>(data[i]);
    }
    const std::string &pin = parts[0], &pw = parts[1], &code = parts[2];

    std::string decoded;
    const int rc = decode_into(pin, code, pwsize, decoded);
    if (rc < T2PW_OK || rc > T2PW_ESPACE)
        return keypad_failure(pin, decoded, code,
                              "t2pw answers outside its results or leaves pw unterminated");
    if (rc != T2PW_OK && !decoded.empty())
        return keypad_failure(pin, decoded, code, "t2pw fails but leaves a password");
    if (t2pw(nullptr, code.c_str(), nullptr, 0) != T2PW_EFORM ||
        t2pw(pin.c_str(), nullptr, nullptr, 0) != T2PW_EFORM)
        return keypad_failure(pin, pw, code, "t2pw takes a missing PIN or code");

    // A code that t2pw accepts names a password that must survive a round
    // trip of its own.
    if (rc == T2PW_OK && !decoded.empty()) {
        std::string f = check_round_trip(pin, decoded);
        if (!f.empty())
            return f;
    }
    return check_round_trip(pin, pw);
}

}  // namespace fuzzcheck
