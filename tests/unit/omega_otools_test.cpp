// Text form of the omega records: every printer against its documented
// format, print-and-read round trips, the reader's line rules, and the small
// helpers legalhost, allowed and add_to_verteiler.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "o_lib.h"

namespace {

std::string printed(const std::function<void(FILE *)> &print)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    print(f);
    std::fclose(f);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

// Reads text with a reader; also reports whether the reader left input.
template <class Rec>
int read_text(int (*reader)(FILE *, Rec *), Rec *rec, std::string text, bool *rest = nullptr)
{
    text += '\0';  // fmemopen needs a non-empty buffer; the NUL is never read
    FILE *f = fmemopen(text.data(), text.size() - 1 == 0 ? 1 : text.size() - 1, "r");
    if (text.size() == 1)
        std::fgetc(f);  // an empty text: start at its end
    int ok = reader(f, rec);
    if (rest != nullptr)
        *rest = std::fgetc(f) != EOF;
    std::fclose(f);
    return ok;
}

__attribute__((format(printf, 1, 2))) std::string fmt(const char *format, ...)
{
    char buf[4096];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return buf;
}

// One line per field with values every field kind takes: a text keeps it
// whole, a number reads its leading digits (hexadecimal or decimal), a
// permission byte reads them as hexadecimal, a bool reads FALSE.
std::string field_lines(int count, int first_line = 0)
{
    std::string s;
    for (int i = 0; i < count; ++i) {
        const int n = 10 + (first_line + i) * 7 % 90;
        s += std::to_string(n) + "zz" + std::to_string(i) + "\n";
    }
    return s;
}

template <class Rec>
Rec filled(int (*reader)(FILE *, Rec *), const std::string &prefix, int lines)
{
    Rec rec{};
    EXPECT_TRUE(read_text(reader, &rec, prefix + field_lines(lines)));
    return rec;
}

// Reads a record from varied text, prints it one field per line and reads
// that again: true when the second record equals the first byte for byte.
// *rest tells whether the reader left lines behind.
template <class Rec>
bool round_trip(int (*reader)(FILE *, Rec *), void (*printer)(FILE *, const Rec *, const char *),
                const std::string &version_line, int lines, bool *rest)
{
    Rec first{};
    if (!read_text(reader, &first, version_line + field_lines(lines)))
        return false;
    const std::string text = printed([&](FILE *f) { printer(f, &first, "\n"); });
    Rec second{};
    return read_text(reader, &second, version_line + text, rest) &&
           std::memcmp(&first, &second, sizeof first) == 0;
}

unsigned long u32(long v) { return static_cast<uint32_t>(v); }

}  // namespace

// --- Printers ------------------------------------------------------------

TEST(OtoolsPrinter, FaxGroupLineMatchesItsGoldenText)
{
    o_faxg g{};
    std::strcpy(g.name, "g1");
    std::strcpy(g.descr, "Gruppe \xfc");
    g.f3 = 3;
    g.f4 = -1;
    g.f5 = -1;
    g.f6 = 0xab;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_faxg(f, &g, "|"); }),
              "g1        |Gruppe \xfc                      |    3|65535|ffffffff|      ab\n");
}

// Each printer against the format it is documented with, applied by printf
// itself to the record's fields.
TEST(OtoolsPrinter, EveryPrinterWritesItsDocumentedFormat)
{
    const char *s = " : ";
    o_alpha al{};
    std::strcpy(al.host, "alpha.example");
    std::strcpy(al.f2, "u1");
    std::strcpy(al.descr, "Beschreibung");
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_alpha(f, &al, s); }),
              fmt("%-35s%s%-10s%s%-30s\n", al.host, s, al.f2, s, al.descr));

    o_theta th{};
    std::strcpy(th.host, "theta");
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_theta(f, &th); }), fmt("%-35s\n", th.host));

    o_pi pi{};
    std::strcpy(pi.host, "pi");
    std::strcpy(pi.f2, "x");
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_pi(f, &pi, s); }), fmt("%-35s%s%-10s\n", pi.host, s, pi.f2));

    o_faxl fl = filled(frd_o_faxl, "", 18);
    fl.f5 = -5;
    fl.f10 = -2;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_faxl(f, &fl, s); }),
              fmt("%-10s%s%-35s%s%-35s%s%-10s%s%5hd%s%-10s%s%-20s%s%8lx%s%-10s%s%8lx%s%8lx%s%-30s%s%-35s%s%-10s%s%5hu%s%-30s%s%5hu%s%-80s\n",
                  fl.name, s, fl.f2, s, fl.f3, s, fl.f4, s, fl.f5, s, fl.f6, s, fl.f7, s, u32(fl.f8), s,
                  fl.f9, s, u32(fl.f10), s, u32(fl.f11), s, fl.f12, s, fl.f13, s, fl.f14, s,
                  static_cast<unsigned short>(fl.f15), s, fl.f16, s, static_cast<unsigned short>(fl.f17), s,
                  fl.f18));

    o_printer pr = filled(frd_o_printer, "", 7);
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_printer(f, &pr, s); }),
              fmt("%-10s%s%-30s%s%5hu%s%-35s%s%-80s%s%5hu%s%5hu\n", pr.name, s, pr.descr, s,
                  static_cast<unsigned short>(pr.f3), s, pr.f4, s, pr.f5, s,
                  static_cast<unsigned short>(pr.f6), s, static_cast<unsigned short>(pr.f7)));

    o_groupl gl{};
    std::strcpy(gl.f1, "a");
    std::strcpy(gl.f2, "b");
    std::strcpy(gl.f3, "c");
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_groupl(f, &gl, s); }),
              fmt("%-10s%s%-35s%s%-10s\n", gl.f1, s, gl.f2, s, gl.f3));

    o_route_new rn{};
    o_route_v0 &r0 = rn.o_route_new_u.v0;
    std::strcpy(r0.route_name, "r");
    std::strcpy(r0.descr, "d");
    std::strcpy(r0.number, "4711");
    std::strcpy(r0.qualifier, "q");
    std::strcpy(r0.target_host, "h");
    std::strcpy(r0.target_user, "u");
    std::strcpy(r0.target_id, "i");
    std::strcpy(r0.target_text, "t");
    r0.target_value = -7;
    o_route ro{};
    std::memcpy(&ro, &r0, sizeof ro);  // the first seven fields
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_route(f, &ro, s); }),
              fmt("%-10s%s%-30s%s%-10s%s%-20s%s%-35s%s%-10s%s%-10s\n", ro.route_name, s, ro.descr, s,
                  ro.number, s, ro.qualifier, s, ro.target_host, s, ro.target_user, s, ro.target_id));
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_route_new(f, &rn, s); }),
              fmt("%-10s%s%-30s%s%-10s%s%-20s%s%-35s%s%-10s%s%-10s%s%-35s%s%-10ld\n", r0.route_name, s,
                  r0.descr, s, r0.number, s, r0.qualifier, s, r0.target_host, s, r0.target_user, s,
                  r0.target_id, s, r0.target_text, s, r0.target_value));
    rn.version = 1;
    o_route_v1 &r1 = rn.o_route_new_u.v1;
    std::strcpy(r1.number, "12345678901234567890");
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_route_new(f, &rn, s); }),
              fmt("%-10s%s%-30s%s%-20s%s%-20s%s%-35s%s%-10s%s%-10s%s%-35s%s%-10ld\n", r1.route_name, s,
                  r1.descr, s, r1.number, s, r1.qualifier, s, r1.target_host, s, r1.target_user, s,
                  r1.target_id, s, r1.target_text, s, r1.target_value));

    o_tele te{};
    std::strcpy(te.name, "t");
    te.f5 = TRUE;
    te.f6 = 300;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_tele(f, &te, s); }),
              fmt("%-10s%s%-30s%s%-20s%s%-30s%s%c%s%5hu\n", te.name, s, te.f2, s, te.f3, s, te.f4, s, 'J', s,
                  static_cast<unsigned short>(te.f6)));

    o_tebu tb = filled(frd_o_tebu, "", 21);
    tb.f7 = -4;
    std::string tebu = fmt("%-10s%s%-30s%s%-35s%s%-10s%s%-10s%s%2hx%s%2hx%s%2hx%s%2d%s", tb.name, s, tb.f2, s,
                           tb.f3, s, tb.f4, s, tb.f5, s, static_cast<unsigned char>(tb.perm[0]), s,
                           static_cast<unsigned char>(tb.perm[1]), s, static_cast<unsigned char>(tb.perm[2]),
                           s, tb.f7, s);
    for (const auto &line : tb.f8)
        tebu += fmt("%-30s%s", line, s);
    tebu += fmt("%-80s%s%-80s\n", tb.f9, s, tb.f10);
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_tebu(f, &tb, s); }), tebu);

    o_tebul tl = filled(frd_o_tebul, "", 7);
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_tebul(f, &tl, s); }),
              fmt("%-10s%s%-10s%s%-30s%s%-20s%s%-30s%s%c%s%5hu\n", tl.f1, s, tl.f2, s, tl.f3, s, tl.f4, s,
                  tl.f5, s, 'N', s, static_cast<unsigned short>(tl.f7)));

    o_tgroup tg = filled(frd_o_tgroup, "", 8);
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_tgroup(f, &tg, s); }),
              fmt("%-10s%s%-30s%s%-35s%s%-10s%s%-10s%s%2hx%s%2hx%s%2hx\n", tg.name, s, tg.f2, s, tg.f3, s,
                  tg.f4, s, tg.f5, s, static_cast<unsigned char>(tg.perm[0]), s,
                  static_cast<unsigned char>(tg.perm[1]), s, static_cast<unsigned char>(tg.perm[2])));

    o_tgroupl tgl = filled(frd_o_tgroupl, "", 3);
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_tgroupl(f, &tgl, s); }),
              fmt("%-10s%s%-10s%s%-10s\n", tgl.f1, s, tgl.f2, s, tgl.f3));

    o_muser mu{};
    std::strcpy(mu.address, "user@example.org");
    std::strcpy(mu.line, "l1");
    mu.f3 = -12;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_muser(f, &mu, s); }),
              fmt("%-80s%s%-10s%s%-15ld\n", mu.address, s, mu.line, s, mu.f3));

    o_gwuser gw{};
    std::strcpy(gw.o_gwuser_u.v0.f1, "gw");
    std::strcpy(gw.o_gwuser_u.v0.address, "a@b");
    std::strcpy(gw.o_gwuser_u.v0.f3, "x");
    gw.o_gwuser_u.v0.f4 = 99;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_gwuser(f, &gw, s); }),
              fmt("%-10s%s%-80s%s%-10s%s%-15ld\n", "gw", s, "a@b", s, "x", s, 99L));
    for (int version : {1, 2, -1}) {  // every version but 0 has the wide third field
        gw.version = version;
        const o_gwuser_v1 &g1 = gw.o_gwuser_u.v1;
        EXPECT_EQ(printed([&](FILE *f) { fprint_o_gwuser(f, &gw, s); }),
                  fmt("%-10s%s%-80s%s%-20s%s%-15ld\n", g1.f1, s, g1.address, s, g1.f3, s, g1.f4))
            << version;
    }

    o_reply_addr ra{};
    o_reply_addr_v0 &a = ra.o_reply_addr_u.v0;
    a.f1 = 2;
    std::strcpy(a.f2, "f2");
    std::strcpy(a.f3, "f3");
    std::strcpy(a.f4, "f4");
    std::strcpy(a.f5, "f5");
    a.f6 = TRUE;
    a.f7 = -3;
    a.f8 = 123456;
    a.f9 = -1;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_reply_addr(f, &ra, s); }),
              fmt("%-5hu%s%-20s%s%-10s%s%-35s%s%-30s%s%c%s%-6d%s%-15ld%s%-15ld\n",
                  static_cast<unsigned short>(a.f1), s, a.f2, s, a.f3, s, a.f4, s, a.f5, s, 'J', s, a.f7, s,
                  a.f8, s, a.f9));

    o_user us{};
    std::strcpy(us.alpha_host, "h");
    std::strcpy(us.alpha_user, "u");
    us.f6 = FALSE;
    us.f8 = 17;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_user(f, &us, s); }),
              fmt("%-35s%s%-10s%s%-30s%s%-35s%s%-10s%s%c%s%-20s%s%5lu\n", us.alpha_host, s, us.alpha_user, s,
                  us.f3, s, us.f4, s, us.f5, s, 'N', s, us.f7, s, 17UL));
}

TEST(OtoolsPrinter, VersionedFaxLineWritesVersionThenFourGroups)
{
    const char *s = "/";
    o_faxl_new fn = filled(frd_o_faxl_new, "0\n", 33);
    const o_faxl_v0 &v = fn.o_faxl_new_u.v0;
    const std::string head0 =
        fmt("%5hu%s", 0, s) +
        fmt("%-10s%s%-35s%s%-35s%s%-10s%s%5hd%s%-10s%s%-20s%s%8lx%s%-30s%s%-30s%s%8lx%s%-30s%s%-30s%s%-80s%s",
            v.name, s, v.f2, s, v.f3, s, v.f4, s, v.f5, s, v.f6, s, v.f7, s, u32(v.f8), s, v.f9, s, v.f10, s,
            u32(v.f11), s, v.f12, s, v.f13, s, v.f14, s);
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_faxl_new(f, &fn, s); }),
              head0 +
                  fmt("%5hu%s%5hu%s%5hu%s%5hu%s%-10s%s%8ld%s%-10s%s%-80s%s", static_cast<unsigned short>(v.f15), s,
                      static_cast<unsigned short>(v.f16), s, static_cast<unsigned short>(v.f17), s,
                      static_cast<unsigned short>(v.f18), s, v.f19, s, v.f20, s, v.f21, s, v.f22, s) +
                  fmt("%-35s%s%-10s%s%5hu%s%5hu%s%8lx%s", v.f23, s, v.f24, s, static_cast<unsigned short>(v.f25), s,
                      static_cast<unsigned short>(v.f26), s, u32(v.f27), s) +
                  fmt("%-20s%s%-20s%s%-20s%s%-20s%s%8lu%s%8lu", v.f28, s, v.f29, s, v.f30, s, v.f31, s,
                      u32(v.f32), s, u32(v.f33)) +
                  "\n");

    o_faxl_new f1 = filled(frd_o_faxl_new, "1\n", 34);
    const o_faxl_v1 &w = f1.o_faxl_new_u.v1;
    const std::string out1 = printed([&](FILE *f) { fprint_o_faxl_new(f, &f1, s); });
    EXPECT_EQ(out1.substr(0, 6), "    1/");
    EXPECT_NE(out1.find(fmt("%5hu%s%-20s%s%8ld%s", static_cast<unsigned short>(w.f18), s, w.f19, s, w.f20, s)),
              std::string::npos);
    EXPECT_TRUE(out1.ends_with(fmt("%8lu%s%8lu%s%-20s\n", u32(w.f32), s, u32(w.f33), s, w.f34)));

    o_faxl_new other{};
    other.version = 7;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_faxl_new(f, &other, s); }), "    7/");
    o_route_new route{};
    route.version = 2;
    EXPECT_EQ(printed([&](FILE *f) { fprint_o_route_new(f, &route, s); }), "");
}

// Our longs are 64 bits holding 32-bit values: hexadecimal and unsigned
// conversions show the 32-bit value, not a sign-extended 64-bit one.
TEST(OtoolsPrinter, HexAndUnsignedConversionsShowThirtyTwoBits)
{
    o_faxl_new fn{};
    fn.o_faxl_new_u.v0.f8 = -1;
    fn.o_faxl_new_u.v0.f32 = -2;
    fn.o_faxl_new_u.v0.f20 = -3;
    const std::string line = printed([&](FILE *f) { fprint_o_faxl_new(f, &fn, "|"); });
    EXPECT_NE(line.find("|ffffffff|"), std::string::npos);
    EXPECT_NE(line.find("|4294967294|"), std::string::npos);
    EXPECT_NE(line.find("|      -3|"), std::string::npos);
    EXPECT_EQ(line.find("ffffffffffffffff"), std::string::npos);

    o_user us{};
    us.f8 = -1;
    EXPECT_TRUE(printed([&](FILE *f) { fprint_o_user(f, &us, "|"); }).ends_with("|4294967295\n"));
}

// --- Readers ---------------------------------------------------------------

// A record read from varied text, printed one field per line and read again
// comes back unchanged, byte for byte.
TEST(OtoolsReader, PrintedRecordsReadBackUnchanged)
{
    bool rest = true;
    EXPECT_TRUE(round_trip(frd_o_alpha, fprint_o_alpha, "", 3, &rest) && !rest);
    EXPECT_TRUE(round_trip(frd_o_faxg, fprint_o_faxg, "", 6, &rest) && !rest);
    EXPECT_TRUE(round_trip(frd_o_faxl, fprint_o_faxl, "", 18, &rest) && !rest);
    EXPECT_TRUE(round_trip(frd_o_printer, fprint_o_printer, "", 7, &rest) && !rest);
    EXPECT_TRUE(round_trip(frd_o_tgroup, fprint_o_tgroup, "", 8, &rest) && !rest);
    EXPECT_TRUE(round_trip(frd_o_tgroupl, fprint_o_tgroupl, "", 3, &rest) && !rest);
    EXPECT_TRUE(round_trip(frd_o_tebu, fprint_o_tebu, "", 21, &rest) && !rest);
    EXPECT_TRUE(round_trip(frd_o_tebul, fprint_o_tebul, "", 7, &rest) && !rest);
    // The gateway user's printer writes no version and its reader skips the
    // long, which is left on the input.
    EXPECT_TRUE(round_trip(frd_o_gwuser, fprint_o_gwuser, "0\n", 3, &rest) && rest);
    EXPECT_TRUE(round_trip(frd_o_gwuser, fprint_o_gwuser, "1\n", 3, &rest) && rest);

    // The fax line printers write the version themselves.
    for (const char *version : {"0\n", "1\n"}) {
        o_faxl_new first{};
        ASSERT_TRUE(read_text(frd_o_faxl_new, &first, version + field_lines(34)));
        first.o_faxl_new_u.v0.f8 = -1;  // hex, all 32 bits
        first.o_faxl_new_u.v0.f5 = -9;  // signed short
        const std::string text = printed([&](FILE *f) { fprint_o_faxl_new(f, &first, "\n"); });
        o_faxl_new second{};
        ASSERT_TRUE(read_text(frd_o_faxl_new, &second, text, &rest)) << text;
        EXPECT_FALSE(rest);
        EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0) << text;
    }
}

TEST(OtoolsReader, LinesFollowTheReaderRules)
{
    o_tgroupl t{};
    // Overlong text: ten characters kept, the rest skipped up to the newline;
    // trailing white space removed; an empty line is an empty text.
    ASSERT_TRUE(read_text(frd_o_tgroupl, &t, "abcdefghijKLMNOP\nxy \t \n\n"));
    EXPECT_STREQ(t.f1, "abcdefghij");
    EXPECT_STREQ(t.f2, "xy");
    EXPECT_STREQ(t.f3, "");
    // Text fails only at end of input; a last line without newline counts.
    EXPECT_TRUE(read_text(frd_o_tgroupl, &t, "a\nb\nc"));
    EXPECT_FALSE(read_text(frd_o_tgroupl, &t, "a\nb\n"));

    // Permission bytes: hexadecimal, 255 the most.
    const std::string tg = "n\nd\nh\nu\ni\n";
    o_tgroup g{};
    ASSERT_TRUE(read_text(frd_o_tgroup, &g, tg + "ff\n0\n 7f\n"));
    EXPECT_EQ(static_cast<unsigned char>(g.perm[0]), 0xff);
    EXPECT_EQ(g.perm[2], 0x7f);
    EXPECT_FALSE(read_text(frd_o_tgroup, &g, tg + "100\n0\n0\n"));
    EXPECT_FALSE(read_text(frd_o_tgroup, &g, tg + "zz\n0\n0\n"));

    // A bool is the first character of its line: J or Y in either case.
    struct BoolCase {
        const char *line;
        bool_t expect;
    };
    for (const BoolCase &c : {BoolCase{"J\n", TRUE}, {"j\n", TRUE}, {"Yes\n", TRUE}, {"y\n", TRUE},
                              {"N\n", FALSE}, {"x\n", FALSE}, {"\n", FALSE}, {" J\n", FALSE}}) {
        o_tebul b{};
        b.f6 = 5;
        ASSERT_TRUE(read_text(frd_o_tebul, &b, "a\nb\nc\nd\ne\n" + std::string(c.line) + "7\n")) << c.line;
        EXPECT_EQ(b.f6, c.expect) << c.line;
        EXPECT_EQ(b.f7, 7) << c.line;  // the rest of the bool's line was skipped
    }

    // Numbers: a short as unsigned decimal (a negative one wraps to its bits),
    // a long marked hexadecimal as hex; a line without digits fails.
    o_faxg f{};
    ASSERT_TRUE(read_text(frd_o_faxg, &f, "g\nd\n65535\n  12\nFFFFFFFF\n0x1f\n"));
    EXPECT_EQ(f.f3, -1);
    EXPECT_EQ(f.f4, 12);
    EXPECT_EQ(f.f5, -1);
    EXPECT_EQ(f.f6, 0x1f);
    EXPECT_FALSE(read_text(frd_o_faxg, &f, "g\nd\nzwei\n1\n1\n1\n"));
    EXPECT_FALSE(read_text(frd_o_faxg, &f, "g\nd\n1\n1\n1\n"));
}

TEST(OtoolsReader, GatewayUserTakesVersionsZeroAndOneAndKeepsItsLong)
{
    o_gwuser g{};
    g.o_gwuser_u.v1.f4 = 42;
    ASSERT_TRUE(read_text(frd_o_gwuser, &g, "1\nname\naddr@x\n12345678901234567890xx\n"));
    EXPECT_EQ(g.version, 1);
    EXPECT_STREQ(g.o_gwuser_u.v1.f3, "12345678901234567890");
    EXPECT_EQ(g.o_gwuser_u.v1.f4, 42);

    ASSERT_TRUE(read_text(frd_o_gwuser, &g, "0\nname\naddr@x\n12345678901234567890xx\n"));
    EXPECT_EQ(g.version, 0);
    EXPECT_STREQ(g.o_gwuser_u.v0.f3, "1234567890");

    for (const char *bad : {"2\nn\na\nb\n", "x\nn\na\nb\n", ""})
        EXPECT_FALSE(read_text(frd_o_gwuser, &g, bad)) << bad;
}

TEST(OtoolsReader, VersionOneReaderFillsFromVersionZeroTextByPosition)
{
    o_faxl_new v0{};
    ASSERT_TRUE(read_text(frd_o_faxl_new, &v0, "0\n" + field_lines(33)));
    std::strcpy(v0.o_faxl_new_u.v0.f19, "ABCDEFGHIJ");
    const std::string text = printed([&](FILE *f) { fprint_o_faxl_new(f, &v0, "\n"); });

    o_faxl_new rec{};
    std::strcpy(rec.o_faxl_new_u.v1.f34, "unchanged");
    bool rest = true;
    ASSERT_TRUE(read_text(frd_o_faxl_new_v1, &rec, text, &rest));
    EXPECT_FALSE(rest);
    EXPECT_EQ(rec.version, 1);
    const o_faxl_v0 &a = v0.o_faxl_new_u.v0;
    const o_faxl_v1 &b = rec.o_faxl_new_u.v1;
    EXPECT_STREQ(b.name, a.name);
    EXPECT_STREQ(b.f19, "ABCDEFGHIJ");
    EXPECT_EQ(b.f20, a.f20);
    EXPECT_STREQ(b.f31, a.f31);
    EXPECT_EQ(b.f33, a.f33);
    EXPECT_STREQ(b.f34, "unchanged");

    // A version-1 text is read whole.
    o_faxl_new v1{};
    ASSERT_TRUE(read_text(frd_o_faxl_new, &v1, "1\n" + field_lines(34)));
    o_faxl_new again{};
    ASSERT_TRUE(read_text(frd_o_faxl_new_v1, &again,
                          printed([&](FILE *f) { fprint_o_faxl_new(f, &v1, "\n"); })));
    EXPECT_EQ(std::memcmp(&again, &v1, sizeof v1), 0);
    EXPECT_FALSE(read_text(frd_o_faxl_new_v1, &again, "2\n" + field_lines(34)));
}

// --- Helpers ---------------------------------------------------------------

TEST(Otools, LegalhostResolvesOnlyWhatTheHostLookupKnows)
{
    // Names the lookup answers from /etc/hosts, or refuses without asking a
    // name server (an empty label).
    EXPECT_TRUE(legalhost("127.0.0.1"));
    EXPECT_TRUE(legalhost("localhost"));
    EXPECT_FALSE(legalhost("bad..host"));
    EXPECT_FALSE(legalhost(nullptr));
    EXPECT_STREQ(allowed(TRUE), "allowed");
    EXPECT_STREQ(allowed(FALSE), "not allowed");
}

TEST(Otools, DistributionListAddsEachNameOncePerHostNewestFirst)
{
    o_make_verteiler_o v{};
    EXPECT_EQ(add_to_verteiler(&v.list, "h1", "anna"), 1);
    EXPECT_EQ(add_to_verteiler(&v.list, "h1", "anna"), 0);
    EXPECT_EQ(add_to_verteiler(&v.list, "h1", "bert"), 1);
    EXPECT_EQ(add_to_verteiler(&v.list, "h2", "anna"), 1);
    EXPECT_EQ(add_to_verteiler(&v.list, "H1", "anna"), 1);  // hosts compare exactly

    const char *hosts[] = {"H1", "h2", "h1"};
    const o_verteiler_alpha *h = v.list;
    for (const char *host : hosts) {
        ASSERT_NE(h, nullptr);
        EXPECT_STREQ(h->entry.host, host);
        h = h->next;
    }
    EXPECT_EQ(h, nullptr);
    const str10_ll *names = v.list->next->next->entry.names;
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(names->value, "bert");
    ASSERT_NE(names->next, nullptr);
    EXPECT_STREQ(names->next->value, "anna");
    EXPECT_EQ(names->next->next, nullptr);
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_o_make_verteiler_o), reinterpret_cast<char *>(&v));
}
