// XDR fuzz check: a decoded input re-encodes to its own bytes; a failed answer keeps nothing.
#include <cstdlib>
#include <vector>

#include "fuzz_checks.hpp"

namespace fuzzcheck {
namespace {

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

}  // namespace fuzzcheck
