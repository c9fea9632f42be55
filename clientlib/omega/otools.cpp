// Text form of the omega records: one printer and one reader that walk a
// table of the record's fields (offset, kind, the printer's conversion), so
// that a record's text layout is written down once and the printers and
// readers of one record cannot disagree. Also legalhost, allowed and
// add_to_verteiler.
#include "otools.h"

#include <netdb.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

enum class Kind { Text, Number, Flag, Bytes };

// One field, or a run of equal elements (the ten texts of o_tebu, the three
// bytes of a permission set); the printer separates every element.
struct Field {
    size_t offset;
    size_t size;   // of one element; a text's capacity is size - 1
    size_t count;  // elements
    Kind kind;
    const char *conv;  // the printer's conversion of a number, e.g. "%-15ld"
};

using Fields = std::vector<Field>;

Fields operator+(Fields a, const Fields &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <class M>
Field make_field(size_t offset, const char *conv)
{
    if constexpr (std::rank_v<M> == 2)
        return {offset, std::extent_v<M, 1>, std::extent_v<M, 0>, Kind::Text, nullptr};
    else if constexpr (std::rank_v<M> == 1)
        return conv == nullptr ? Field{offset, sizeof(M), 1, Kind::Text, nullptr}
                               : Field{offset, 1, std::extent_v<M>, Kind::Bytes, conv};
    else
        return {offset, sizeof(M), 1, std::strcmp(conv, "%c") == 0 ? Kind::Flag : Kind::Number,
                conv};
}

// Text fields are written "%-Ns" at their capacity N; every other field
// names its conversion.
#define TEXT(T, m) make_field<decltype(T::m)>(offsetof(T, m), nullptr)
#define FIELD(T, m, conv) make_field<decltype(T::m)>(offsetof(T, m), conv)

// --- Record layouts -----------------------------------------------------

template <class T>  // o_faxl, o_faxl_v0, o_faxl_v1 share their first eight
Fields faxl_head()
{
    return {TEXT(T, name),        TEXT(T, f2), TEXT(T, f3), TEXT(T, f4),
            FIELD(T, f5, "%5hd"), TEXT(T, f6), TEXT(T, f7), FIELD(T, f8, "%8lx")};
}

template <class T>  // o_faxl_v0 and o_faxl_v1, fields 1 to 33
Fields faxl_new_fields()
{
    return faxl_head<T>() +
           Fields{TEXT(T, f9),           TEXT(T, f10),          FIELD(T, f11, "%8lx"),
                  TEXT(T, f12),          TEXT(T, f13),          TEXT(T, f14),
                  FIELD(T, f15, "%5hu"), FIELD(T, f16, "%5hu"), FIELD(T, f17, "%5hu"),
                  FIELD(T, f18, "%5hu"), TEXT(T, f19),          FIELD(T, f20, "%8ld"),
                  TEXT(T, f21),          TEXT(T, f22),          TEXT(T, f23),
                  TEXT(T, f24),          FIELD(T, f25, "%5hu"), FIELD(T, f26, "%5hu"),
                  FIELD(T, f27, "%8lx"), TEXT(T, f28),          TEXT(T, f29),
                  TEXT(T, f30),          TEXT(T, f31),          FIELD(T, f32, "%8lu"),
                  FIELD(T, f33, "%8lu")};
}

template <class T>  // o_route and the first seven fields of o_route_v0/_v1
Fields route_head()
{
    return {TEXT(T, route_name),  TEXT(T, descr),       TEXT(T, number),   TEXT(T, qualifier),
            TEXT(T, target_host), TEXT(T, target_user), TEXT(T, target_id)};
}

template <class T>
Fields route_new_fields()
{
    return route_head<T>() + Fields{TEXT(T, target_text), FIELD(T, target_value, "%-10ld")};
}

template <class T>
Fields gwuser_fields()
{
    return {TEXT(T, f1), TEXT(T, address), TEXT(T, f3), FIELD(T, f4, "%-15ld")};
}

const Fields kAlpha = {TEXT(o_alpha, host), TEXT(o_alpha, f2), TEXT(o_alpha, descr)};
const Fields kTheta = {TEXT(o_theta, host)};
const Fields kPi = {TEXT(o_pi, host), TEXT(o_pi, f2)};
const Fields kFaxg = {TEXT(o_faxg, name),        TEXT(o_faxg, descr),
                      FIELD(o_faxg, f3, "%5hu"), FIELD(o_faxg, f4, "%5hu"),
                      FIELD(o_faxg, f5, "%8lx"), FIELD(o_faxg, f6, "%8lx")};
const Fields kFaxl = faxl_head<o_faxl>() +
                     Fields{TEXT(o_faxl, f9),           FIELD(o_faxl, f10, "%8lx"),
                            FIELD(o_faxl, f11, "%8lx"), TEXT(o_faxl, f12),
                            TEXT(o_faxl, f13),          TEXT(o_faxl, f14),
                            FIELD(o_faxl, f15, "%5hu"), TEXT(o_faxl, f16),
                            FIELD(o_faxl, f17, "%5hu"), TEXT(o_faxl, f18)};
const Fields kFaxlV0 = faxl_new_fields<o_faxl_v0>();
const Fields kFaxlV1 = faxl_new_fields<o_faxl_v1>() + Fields{TEXT(o_faxl_v1, f34)};
const Fields kPrinter = {TEXT(o_printer, name),        TEXT(o_printer, descr),
                         FIELD(o_printer, f3, "%5hu"), TEXT(o_printer, f4),
                         TEXT(o_printer, f5),          FIELD(o_printer, f6, "%5hu"),
                         FIELD(o_printer, f7, "%5hu")};
const Fields kGroupl = {TEXT(o_groupl, f1), TEXT(o_groupl, f2), TEXT(o_groupl, f3)};
const Fields kRoute = route_head<o_route>();
const Fields kRouteV0 = route_new_fields<o_route_v0>();
const Fields kRouteV1 = route_new_fields<o_route_v1>();
const Fields kTele = {TEXT(o_tele, name), TEXT(o_tele, f2),        TEXT(o_tele, f3),
                      TEXT(o_tele, f4),   FIELD(o_tele, f5, "%c"), FIELD(o_tele, f6, "%5hu")};
const Fields kTebu = {TEXT(o_tebu, name),       TEXT(o_tebu, f2), TEXT(o_tebu, f3),
                      TEXT(o_tebu, f4),         TEXT(o_tebu, f5), FIELD(o_tebu, perm, "%2hx"),
                      FIELD(o_tebu, f7, "%2d"), TEXT(o_tebu, f8), TEXT(o_tebu, f9),
                      TEXT(o_tebu, f10)};
const Fields kTebul = {TEXT(o_tebul, f1),         TEXT(o_tebul, f2), TEXT(o_tebul, f3),
                       TEXT(o_tebul, f4),         TEXT(o_tebul, f5), FIELD(o_tebul, f6, "%c"),
                       FIELD(o_tebul, f7, "%5hu")};
const Fields kTgroup = {TEXT(o_tgroup, name), TEXT(o_tgroup, f2), TEXT(o_tgroup, f3),
                        TEXT(o_tgroup, f4),   TEXT(o_tgroup, f5), FIELD(o_tgroup, perm, "%2hx")};
const Fields kTgroupl = {TEXT(o_tgroupl, f1), TEXT(o_tgroupl, f2), TEXT(o_tgroupl, f3)};
const Fields kMuser = {TEXT(o_muser, address), TEXT(o_muser, line), FIELD(o_muser, f3, "%-15ld")};
const Fields kGwuserV0 = gwuser_fields<o_gwuser_v0>();
const Fields kGwuserV1 = gwuser_fields<o_gwuser_v1>();
const Fields kReplyAddr = {
    FIELD(o_reply_addr_v0, f1, "%-5hu"), TEXT(o_reply_addr_v0, f2),
    TEXT(o_reply_addr_v0, f3),           TEXT(o_reply_addr_v0, f4),
    TEXT(o_reply_addr_v0, f5),           FIELD(o_reply_addr_v0, f6, "%c"),
    FIELD(o_reply_addr_v0, f7, "%-6d"),  FIELD(o_reply_addr_v0, f8, "%-15ld"),
    FIELD(o_reply_addr_v0, f9, "%-15ld")};
const Fields kUser = {TEXT(o_user, alpha_host), TEXT(o_user, alpha_user), TEXT(o_user, f3),
                      TEXT(o_user, f4),         TEXT(o_user, f5),         FIELD(o_user, f6, "%c"),
                      TEXT(o_user, f7),         FIELD(o_user, f8, "%5lu")};

// --- Printer --------------------------------------------------------------

long load_number(const char *p, size_t size)
{
    switch (size) {
    case sizeof(short): {
        short v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case sizeof(int): {
        int v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    default: {
        long v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    }
}

void store_number(char *p, size_t size, long v)
{
    if (size == sizeof(short)) {
        auto s = static_cast<short>(v);
        std::memcpy(p, &s, sizeof s);
    } else if (size == sizeof(int)) {
        auto i = static_cast<int>(v);
        std::memcpy(p, &i, sizeof i);
    } else {
        std::memcpy(p, &v, sizeof v);
    }
}

// Writes one number as conv would: "%[-][width][h|l](d|u|x)". Our longs
// hold 32-bit values, so unsigned and hexadecimal conversions see the low 32
// bits (16 with h), signed ones the value those bits have as a signed number.
void print_number(FILE *f, const char *conv, long v)
{
    const char *p = conv + 1;
    const bool left = *p == '-';
    if (left)
        ++p;
    char *end;
    const int width = static_cast<int>(std::strtol(p, &end, 10));
    p = end;
    const bool half = *p == 'h';
    if (*p == 'h' || *p == 'l')
        ++p;
    if (*p == 'd') {
        long s = half ? static_cast<short>(v) : static_cast<int32_t>(v);
        std::fprintf(f, left ? "%-*ld" : "%*ld", width, s);
    } else {
        unsigned long u = half ? static_cast<uint16_t>(v) : static_cast<uint32_t>(v);
        if (*p == 'x')
            std::fprintf(f, left ? "%-*lx" : "%*lx", width, u);
        else
            std::fprintf(f, left ? "%-*lu" : "%*lu", width, u);
    }
}

void print_element(FILE *f, const Field &fd, const char *p)
{
    switch (fd.kind) {
    case Kind::Text: {
        // Bounded by the array, should a caller have left it unterminated.
        const int cap = static_cast<int>(fd.size - 1);
        std::fprintf(f, "%-*.*s", cap, cap + 1, p);
        break;
    }
    case Kind::Flag:
        std::fputc(load_number(p, fd.size) ? 'J' : 'N', f);
        break;
    case Kind::Bytes:
        print_number(f, fd.conv, static_cast<unsigned char>(*p));
        break;
    case Kind::Number:
        print_number(f, fd.conv, load_number(p, fd.size));
        break;
    }
}

// The fields of rec, sep between every two; no newline.
void print_fields(FILE *f, const void *rec, const Fields &fields, const char *sep)
{
    const char *base = static_cast<const char *>(rec);
    bool first = true;
    for (const Field &fd : fields) {
        for (size_t i = 0; i < fd.count; ++i) {
            if (!first)
                std::fputs(sep, f);
            first = false;
            print_element(f, fd, base + fd.offset + i * fd.size);
        }
    }
}

void print_line(FILE *f, const void *rec, const Fields &fields, const char *sep)
{
    if (f == nullptr || rec == nullptr)
        return;
    print_fields(f, rec, fields, sep != nullptr ? sep : "");
    std::fputc('\n', f);
}

// --- Reader ---------------------------------------------------------------

// Reads one line into buf (cap + 1 bytes), keeping at most cap characters
// and skipping the rest up to and including the newline; trailing white
// space is not stored, and the bytes behind the terminator are left as they
// were, as a bounded copy leaves them. False only at end of input.
bool read_line(FILE *f, char *buf, size_t cap)
{
    int c = std::getc(f);
    if (c == EOF)
        return false;
    std::string line;
    for (; c != EOF && c != '\n'; c = std::getc(f))
        if (line.size() < cap)
            line += static_cast<char>(c);
    // A NUL ends the text, as it ends the C string the field holds: white
    // space before it is trailing, and nothing behind it is stored.
    line.resize(std::strlen(line.c_str()));
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    std::memcpy(buf, line.c_str(), line.size() + 1);
    return true;
}

void skip_line(FILE *f)
{
    int c;
    do
        c = std::getc(f);
    while (c != EOF && c != '\n');
}

// A line of at most cap characters read as one unsigned number in base,
// as scanf's %u and %x conversions read it (white space, a sign and for base
// 16 a 0x may lead); false when it holds no digits.
bool read_unsigned(FILE *f, size_t cap, int base, unsigned long *out)
{
    char line[32];
    char *end;
    if (!read_line(f, line, cap))
        return false;
    *out = std::strtoul(line, &end, base);
    return end != line;
}

bool read_element(FILE *f, const Field &fd, char *p)
{
    switch (fd.kind) {
    case Kind::Text:
        return read_line(f, p, fd.size - 1);
    case Kind::Flag: {
        int c = std::getc(f);
        if (c == EOF)
            return false;
        if (c == '\n')
            c = '\0';
        else
            skip_line(f);
        const int up = std::toupper(c);
        store_number(p, fd.size, up == 'J' || up == 'Y');
        return true;
    }
    case Kind::Bytes: {
        unsigned long v;
        if (!read_unsigned(f, 20, 16, &v) || v > 0xff)
            return false;
        *p = static_cast<char>(v);
        return true;
    }
    case Kind::Number: {
        // A short as "%hu", a long as "%lx" or "%lu", kept as the signed
        // number of its 16 or 32 low bits.
        const bool hex = fd.conv[std::strlen(fd.conv) - 1] == 'x';
        unsigned long v;
        if (fd.size == sizeof(short)) {
            if (!read_unsigned(f, 20, 10, &v))
                return false;
            store_number(p, fd.size, static_cast<short>(static_cast<unsigned short>(v)));
        } else {
            if (!read_unsigned(f, 30, hex ? 16 : 10, &v))
                return false;
            store_number(p, fd.size, static_cast<int32_t>(static_cast<uint32_t>(v)));
        }
        return true;
    }
    }
    return false;
}

int read_fields(FILE *f, void *rec, const Fields &fields)
{
    if (f == nullptr || rec == nullptr)
        return 0;
    char *base = static_cast<char *>(rec);
    for (const Field &fd : fields)
        for (size_t i = 0; i < fd.count; ++i)
            if (!read_element(f, fd, base + fd.offset + i * fd.size))
                return 0;
    return 1;
}

// A versioned reader: the version line (0 or 1, stored in *version), then
// the fields of that version into the record's body.
int read_versioned(FILE *f, int *version, void *body, const Fields &v0, const Fields &v1)
{
    unsigned long v;
    if (f == nullptr || !read_unsigned(f, 20, 10, &v) || static_cast<unsigned short>(v) > 1)
        return 0;
    *version = static_cast<unsigned short>(v);
    return read_fields(f, body, *version == 0 ? v0 : v1);
}

Fields leading(const Fields &fields, size_t n)
{
    return Fields(fields.begin(), fields.begin() + n);
}

[[noreturn]] void out_of_memory()
{
    std::fputs("out of memory\n", stderr);
    std::abort();
}

template <class T>
T *allocate()
{
    void *p = std::calloc(1, sizeof(T));
    if (p == nullptr)
        out_of_memory();
    return static_cast<T *>(p);
}

}  // namespace

extern "C" {

// The records whose printer and reader are their field table and nothing
// else.
#define PRINTER(rec, fields)                                           \
    void fprint_##rec(FILE *f, const rec *r, const char *sep) noexcept \
    {                                                                  \
        print_line(f, r, fields, sep);                                 \
    }
#define READER(rec, fields) \
    int frd_##rec(FILE *f, rec *r) noexcept { return read_fields(f, r, fields); }

PRINTER(o_alpha, kAlpha)
PRINTER(o_pi, kPi)
PRINTER(o_faxg, kFaxg)
PRINTER(o_faxl, kFaxl)
PRINTER(o_printer, kPrinter)
PRINTER(o_groupl, kGroupl)
PRINTER(o_route, kRoute)
PRINTER(o_tele, kTele)
PRINTER(o_tebu, kTebu)
PRINTER(o_tebul, kTebul)
PRINTER(o_tgroup, kTgroup)
PRINTER(o_tgroupl, kTgroupl)
PRINTER(o_muser, kMuser)
PRINTER(o_user, kUser)

READER(o_alpha, kAlpha)
READER(o_faxg, kFaxg)
READER(o_faxl, kFaxl)
READER(o_printer, kPrinter)
READER(o_tgroup, kTgroup)
READER(o_tgroupl, kTgroupl)
READER(o_tebu, kTebu)
READER(o_tebul, kTebul)

void fprint_o_theta(FILE *f, const o_theta *rec) noexcept { print_line(f, rec, kTheta, ""); }

void fprint_o_route_new(FILE *f, const o_route_new *rec, const char *sep) noexcept
{
    if (rec != nullptr && (rec->version == 0 || rec->version == 1))
        print_line(f, &rec->o_route_new_u, rec->version == 0 ? kRouteV0 : kRouteV1, sep);
}

void fprint_o_gwuser(FILE *f, const o_gwuser *rec, const char *sep) noexcept
{
    if (rec != nullptr)
        print_line(f, &rec->o_gwuser_u, rec->version == 0 ? kGwuserV0 : kGwuserV1, sep);
}

void fprint_o_reply_addr(FILE *f, const o_reply_addr *rec, const char *sep) noexcept
{
    if (rec != nullptr)
        print_line(f, &rec->o_reply_addr_u.v0, kReplyAddr, sep);
}

void fprint_o_faxl_new(FILE *f, const o_faxl_new *rec, const char *sep) noexcept
{
    if (f == nullptr || rec == nullptr)
        return;
    if (sep == nullptr)
        sep = "";
    std::fprintf(f, "%5hu%s", static_cast<unsigned short>(rec->version), sep);
    if (rec->version == 0 || rec->version == 1)
        print_line(f, &rec->o_faxl_new_u, rec->version == 0 ? kFaxlV0 : kFaxlV1, sep);
}

int frd_o_gwuser(FILE *f, o_gwuser *rec) noexcept
{
    static const Fields v0 = leading(kGwuserV0, 3), v1 = leading(kGwuserV1, 3);
    return rec != nullptr ? read_versioned(f, &rec->version, &rec->o_gwuser_u, v0, v1) : 0;
}

int frd_o_faxl_new(FILE *f, o_faxl_new *rec) noexcept
{
    return rec != nullptr ? read_versioned(f, &rec->version, &rec->o_faxl_new_u, kFaxlV0, kFaxlV1)
                          : 0;
}

int frd_o_faxl_new_v1(FILE *f, o_faxl_new *rec) noexcept
{
    // A version-0 text: the version-1 fields up to 33, field 19 cut to the
    // ten characters it has in version 0.
    static const Fields from_v0 = [] {
        Fields t = leading(kFaxlV1, 33);
        t[18].size = sizeof(str10);
        return t;
    }();
    if (rec == nullptr)
        return 0;
    int version = -1;
    const int ok = read_versioned(f, &version, &rec->o_faxl_new_u.v1, from_v0, kFaxlV1);
    if (version >= 0)
        rec->version = 1;
    return ok;
}

bool_t legalhost(const char *host) noexcept
{
    return host != nullptr && gethostbyname(host) != nullptr;
}

const char *allowed(bool_t flag) noexcept { return flag ? "allowed" : "not allowed"; }

int add_to_verteiler(o_verteiler_alpha **list, const char *host, const char *name) noexcept
{
    if (list == nullptr || host == nullptr || name == nullptr)
        return 0;
    o_verteiler_alpha *h = *list;
    while (h != nullptr && std::strcmp(h->entry.host, host) != 0)
        h = h->next;
    if (h == nullptr) {
        h = allocate<o_verteiler_alpha>();
        my_strncpy(h->entry.host, host, 35);
        h->next = *list;
        *list = h;
    } else {
        for (const str10_ll *n = h->entry.names; n != nullptr; n = n->next)
            if (std::strcmp(n->value, name) == 0)
                return 0;
    }
    str10_ll *n = allocate<str10_ll>();
    my_strncpy(n->value, name, 10);
    n->next = h->entry.names;
    h->entry.names = n;
    return 1;
}

}  // extern "C"
