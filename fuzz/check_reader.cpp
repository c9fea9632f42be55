// Readers fuzz check: the otools readers take any text and read back what their printers wrote.
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "fuzz_checks.hpp"
#include "otools.h"

namespace fuzzcheck {
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

#define READER_ROW(T)                                                   \
    {                                                                   \
#T, sizeof(T), read_as < T, frd_##T>, print_as < T, fprint_##T> \
    }

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

}  // namespace fuzzcheck
