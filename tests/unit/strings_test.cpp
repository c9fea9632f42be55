// The bounded string routines through which every text enters a record, and
// the wire form of the fixed-width strings that carry it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include "o_lib.h"
#include "xdr_bytes.hpp"

using namespace xdrtest;

// At most count characters, always a terminator, and nothing behind it.
TEST(MyStrncpy, KeepsAtMostCountCharactersAndAlwaysTerminates)
{
    const std::string huge(100000, 'z');
    const struct {
        const char *src;
        short count;
        const char *want;
    } cases[] = {{"0123456789A", 10, "0123456789"},
                 {"abc", 10, "abc"},
                 {"abc", 0, ""},
                 {"abc", -3, ""},
                 {huge.c_str(), 10, "zzzzzzzzzz"}};
    for (const auto &c : cases) {
        char buf[16];
        std::memset(buf, '#', sizeof buf);
        my_strncpy(buf, c.src, c.count);
        EXPECT_EQ(std::string(buf, std::strlen(c.want) + 2), c.want + std::string("\0#", 2))
            << c.count;
    }
}

// One pair of matching quotes goes, with the blanks around it; the static
// buffer takes at most 1,000 characters of any text.
TEST(Unquote, StripsOnePairOfMatchingQuotes)
{
    const std::pair<const char *, const char *> cases[] = {{"  \"inner text\"  ", "inner text"},
                                                           {"'single'", "single"},
                                                           {"\" keep space \"", " keep space "},
                                                           {"  \"mismatch'", "  \"mismatch'"},
                                                           {"  \"unclosed", "  \"unclosed"},
                                                           {"\"", "\""},
                                                           {"", ""}};
    for (const auto &[src, want] : cases) {
        char dest[64];
        EXPECT_STREQ(unquote(src, dest), want) << src;
        EXPECT_STREQ(unquote(src, nullptr), want) << src;
    }
    EXPECT_EQ(unquote(nullptr, nullptr), nullptr);
    const std::string huge(5000, 'q');
    for (const std::string &src : {huge, "'" + huge + "'"})
        EXPECT_EQ(std::string(unquote(src.c_str(), nullptr)), huge.substr(0, 1000));
}

// A fixed-width field travels as one unit per character, unsigned, whether
// the stream has a buffer to work in (memory) or not (stdio, as a record
// stream at the end of a fragment); arriving, each character is its unit's
// low byte, and the last gives way to a NUL. (The widths of the others show
// in the wire lengths of the records.)
TEST(FixedStrings, FieldsTravelAsOneUnitPerCharacterAndEndInANul)
{
    std::string text, low, field(16, '#');
    Bytes junk;  // no terminator, junk in the high bytes
    for (size_t i = 0; i <= 14; ++i) {
        text += i < 14 ? char(0xa0 + i) : '\0';
        low += i < 14 ? char('a' + i) : '\0';
        junk.insert(junk.end(), {0xab, uint8_t(i), 0xcd, uint8_t('a' + i)});
    }
    for (bool stdio : {false, true}) {
        SCOPED_TRACE(stdio ? "stdio" : "memory");
        Bytes b(junk.size() + 4);
        for (auto [op, bytes, obj] :
             {std::tuple{XDR_ENCODE, &b, &text}, {XDR_DECODE, &junk, &field}}) {
            FILE *f = fmemopen(bytes->data(), bytes->size(), op == XDR_ENCODE ? "w" : "r");
            XDR x;
            if (stdio)
                xdrstdio_create(&x, f, op);
            else
                xdrmem_create(&x, reinterpret_cast<char *>(bytes->data()), u_int(bytes->size()),
                              op);
            EXPECT_TRUE(xdr_fntyp(&x, obj->data()));
            xdr_destroy(&x);
            std::fclose(f);
        }
        EXPECT_EQ(b, cat({strn(text.c_str(), 14), Bytes(4, 0)}));
        EXPECT_EQ(field.substr(0, 15), low);
    }
}
