// The checks of fuzz_checks.hpp.
#include "fuzz_checks.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "otools.h"
#include "pinpw2t.h"

namespace fuzzcheck {
namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Block = std::unique_ptr<char, FreeDeleter>;

// A heap copy of exactly n bytes, so that AddressSanitizer sees any read
// past the input's end; malloc also gives the alignment that a received RPC
// buffer has and that the generated inline decoders rely on.
Block copy_of(const void *p, size_t n)
{
    Block b(static_cast<char *>(std::malloc(n == 0 ? 1 : n)));
    if (!b)
        std::abort();
    if (n != 0)
        std::memcpy(b.get(), p, n);
    return b;
}

// Zeroed storage of a row's type, released on every path as a stub's
// answer is: xdr_free with the row's routine, then the storage itself.
class Object {
public:
    explicit Object(const XdrType &type) : type_(type), p_(std::calloc(1, type.size))
    {
        if (p_ == nullptr)
            std::abort();
    }
    ~Object()
    {
        if (!abandoned_)
            xdr_free(type_.proc, p_);
        std::free(p_);
    }
    // Frees only the storage, not what the object points to.
    void abandon_contents() { abandoned_ = true; }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    void *get() const { return p_; }

private:
    const XdrType &type_;
    void *p_;
    bool abandoned_ = false;
};

// Under AddressSanitizer, what a failed decode of an answer kept is left
// for LeakSanitizer to report; elsewhere nothing could tell, and it is
// released like everything else.
#if defined(__SANITIZE_ADDRESS__)
#define FUZZ_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FUZZ_LEAK_CHECKED 1
#endif
#endif

// Runs the routine over a memory stream of len bytes; *pos is where it
// stopped.
bool run(const XdrType &type, void *obj, char *buf, size_t len, xdr_op op, u_int *pos)
{
    XDR x;
    xdrmem_create(&x, buf, static_cast<u_int>(len), op);
    const bool ok = type.proc(&x, obj) != 0;
    *pos = xdr_getpos(&x);
    xdr_destroy(&x);
    return ok;
}

// Encodes obj; the buffer leaves room beyond `expected` so that an encoding
// longer than its decoding shows as a length, not as a failure.
bool encode(const XdrType &type, void *obj, size_t expected, std::vector<char> &out)
{
    out.assign(expected + 64, '\0');
    u_int pos = 0;
    const bool ok = run(type, obj, out.data(), out.size(), XDR_ENCODE, &pos);
    out.resize(pos);
    return ok;
}

std::string failure(const XdrCatalogue &cat, const XdrType &type, const char *what)
{
    return std::string(cat.program) + " " + type.name + ": " + what;
}

}  // namespace

std::string check_xdr(const XdrCatalogue &cat, const uint8_t *data, size_t size)
{
    if (size < kSelectorBytes)
        return {};
    const XdrType &type = pick(cat, data);
    const size_t len = size - kSelectorBytes;
    Block in = copy_of(data + kSelectorBytes, len);

    Object first(type);
    u_int used = 0;
    if (!run(type, first.get(), in.get(), len, XDR_DECODE, &used)) {
#ifdef FUZZ_LEAK_CHECKED
        if (type.answer)
            first.abandon_contents();
#endif
        return {};
    }

    std::vector<char> once;
    if (!encode(type, first.get(), used, once))
        return failure(cat, type, "a decoded object does not encode");
    if (once.size() != used)
        return failure(cat, type, "encoding and decoding use different lengths");

    Object second(type);
    Block again = copy_of(once.data(), once.size());
    u_int used_again = 0;
    if (!run(type, second.get(), again.get(), once.size(), XDR_DECODE, &used_again))
        return failure(cat, type, "its own encoding does not decode");
    if (used_again != once.size())
        return failure(cat, type, "its own encoding decodes to another length");
    std::vector<char> twice;
    if (!encode(type, second.get(), used_again, twice) || twice != once)
        return failure(cat, type, "decoding and encoding again changes the bytes");
    return {};
}

// --- readers ------------------------------------------------------------

namespace {

template <class T, int (*Read)(FILE *, T *)>
int read_as(FILE *f, void *rec)
{
    return Read(f, static_cast<T *>(rec));
}

template <class T, void (*Print)(FILE *, const T *, const char *)>
void print_as(FILE *f, const void *rec, const char *sep)
{
    Print(f, static_cast<const T *>(rec), sep);
}

// The gwuser printer writes the body only; its reader starts with the
// version.
void print_gwuser(FILE *f, const void *rec, const char *sep)
{
    const auto *g = static_cast<const o_gwuser *>(rec);
    std::fprintf(f, "%d%s", g->version, sep);
    fprint_o_gwuser(f, g, sep);
}

std::string print_to_string(const ReaderRow &row, const void *rec, const char *sep)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    if (f == nullptr)
        std::abort();
    row.print(f, rec, sep);
    std::fclose(f);
    std::string text(buf, len);
    std::free(buf);
    return text;
}

int read_from(const ReaderRow &row, void *rec, const char *text, size_t len)
{
    Block copy = copy_of(text, len);
    FILE *f = fmemopen(copy.get(), len, "r");
    if (f == nullptr)
        std::abort();
    const int ok = row.read(f, rec);
    std::fclose(f);
    return ok;
}

#define READER_ROW(T) \
    {#T, sizeof(T), read_as<T, frd_##T>, print_as<T, fprint_##T>}

}  // namespace

const ReaderRow kReaders[] = {
    READER_ROW(o_alpha),
    READER_ROW(o_faxg),
    READER_ROW(o_faxl),
    READER_ROW(o_printer),
    READER_ROW(o_tgroup),
    READER_ROW(o_tgroupl),
    READER_ROW(o_tebu),
    READER_ROW(o_tebul),
    {"o_gwuser", sizeof(o_gwuser), read_as<o_gwuser, frd_o_gwuser>, print_gwuser},
    READER_ROW(o_faxl_new),
    {"o_faxl_new_v1", sizeof(o_faxl_new), read_as<o_faxl_new, frd_o_faxl_new_v1>,
     print_as<o_faxl_new, fprint_o_faxl_new>},
};
const size_t kReaderCount = std::size(kReaders);

std::string check_reader(const uint8_t *data, size_t size)
{
    if (size < 1)
        return {};
    const ReaderRow &row = kReaders[(data[0] & 0x7f) % kReaderCount];
    const bool filled = (data[0] & 0x80) != 0;
    Block rec(static_cast<char *>(std::malloc(row.size)));
    if (!rec)
        std::abort();
    std::memset(rec.get(), filled ? 'A' : 0, row.size);

    const int ok = read_from(row, rec.get(), reinterpret_cast<const char *>(data + 1), size - 1);
    print_to_string(row, rec.get(), " | ");
    if (!ok || filled)
        return {};

    const std::string text = print_to_string(row, rec.get(), "\n");
    Block back = copy_of(rec.get(), row.size);
    if (!read_from(row, back.get(), text.data(), text.size()))
        return std::string(row.name) + ": the reader refuses what the printer wrote:\n" + text;
    if (std::memcmp(rec.get(), back.get(), row.size) != 0)
        return std::string(row.name) + ": printed and read back, the record changed:\n" + text;
    return {};
}

// --- keypad code --------------------------------------------------------

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
        return code.empty() ? std::string() : keypad_failure(pin, pw, code, "a code without PIN or password");
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
        return keypad_failure(pin, decoded, code, "t2pw answers outside its results or leaves pw unterminated");
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

void require(const std::string &failure)
{
    if (failure.empty())
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", failure.c_str());
    std::abort();
}

}  // namespace fuzzcheck
