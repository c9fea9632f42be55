// The omega records as text: each printer's exact line, the readers' line rules, legalhost, lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "o_lib.h"

namespace {

template <class R>
std::string line(void (*print)(FILE *, const R *, const char *), const R &r, const char *sep = "|")
{
    char buf[4096] = {};
    FILE *f = fmemopen(buf, sizeof buf - 1, "w");
    print(f, &r, sep);
    std::fclose(f);
    return buf;
}

// What a reader makes of text, as its printer writes it; "(fails)" when it fails or leaves a line.
template <class R>
std::string read_line(int (*read)(FILE *, R *), void (*print)(FILE *, const R *, const char *),
                      std::string text, R rec = {})
{
    FILE *f = fmemopen(text.data(), text.size(), "r");
    const bool ok = read(f, &rec) != 0 && std::fgetc(f) == EOF;
    std::fclose(f);
    return ok ? line(print, rec) : "(fails)";
}

#define PRINT(rec, ...) line(fprint_##rec, rec{__VA_ARGS__})
// A record printed one field per line, read back by its reader, and printed again.
#define PRINT_READ(rec, ...) \
    read_line(frd_##rec, fprint_##rec, line(fprint_##rec, rec{__VA_ARGS__}, "\n"))
#define READ(rec, text) read_line(frd_##rec, fprint_##rec, text)

// Each row: the line written, and the line expected with every run of n spaces written {n}.
void expect_rows(std::initializer_list<std::pair<std::string, const char *>> rows)
{
    for (auto row = rows.begin(); row != rows.end(); ++row) {
        std::string want = row->second;
        for (size_t i; (i = want.find('{')) != std::string::npos;)
            want.replace(i, want.find('}', i) + 1 - i, std::stoul(want.substr(i + 1)), ' ');
        EXPECT_EQ(row->first, want) << "row " << row - rows.begin();
    }
}

}  // namespace

// Field k holds k: each line shows order, width, alignment and conversion of every field. Hex and
// unsigned conversions show the 32 bits our 64-bit longs hold, never a sign-extended 64-bit value.
#define FAXL_NEW_FIELDS                                                                            \
    "1", "2", "3", "4", -5, "6", "7", -8, "9", "10", 0x11, "12", "13", "14", 15, 16, 17, 18, "19", \
        -20, "21", "22", "23", "24", 25, 26, 0x27, "28", "29", "30", "31", -32, 33
TEST(OtoolsPrinter, EachPrinterWritesItsGoldenLine)
{
    expect_rows({
        {PRINT_READ(o_alpha, "1", "2", "3"), "1{34}|2{9}|3{29}\n"},
        {line(+[](FILE *f, const o_theta *t, const char *) { fprint_o_theta(f, t); }, {"1"}),
         "1{34}\n"},
        {line(fprint_o_pi, o_pi{"1", "2"}, ", "), "1{34}, 2{9}\n"},
        {PRINT_READ(o_faxg, "1", "2\xfc", 3, -4, -5, 6),
         "1{9}|2\xfc{28}|{4}3|65532|fffffffb|{7}6\n"},
        {PRINT_READ(o_faxl, "1", "2", "3", "4", -5, "6", "7", -8, "9", 0x10, 0x11, "12", "13", "14",
                    -15, "16", 17, "18"),
         "1{9}|2{34}|3{34}|4{9}|{3}-5|6{9}|7{19}|fffffff8|9{9}|{6}10|{6}11|12{28}|13{33}|14{8}|"
         "65521|16{28}|{3}17|18{78}\n"},
        {PRINT_READ(o_printer, "1", "2", 3, "4", "5", 6, 7),
         "1{9}|2{29}|{4}3|4{34}|5{79}|{4}6|{4}7\n"},
        {PRINT(o_groupl, "1", "2", "3"), "1{9}|2{34}|3{9}\n"},
        {PRINT(o_route_new, 0, {.v0{"1", "2", "3", "4", "5", "6", "7", "8", -9}}),
         "1{9}|2{29}|3{9}|4{19}|5{34}|6{9}|7{9}|8{34}|-9{8}\n"},
        {PRINT(o_route_new, 1, {.v1{"1", "2", "3", "4", "5", "6", "7", "8", -9}}),
         "1{9}|2{29}|3{19}|4{19}|5{34}|6{9}|7{9}|8{34}|-9{8}\n"},
        {PRINT(o_route_new, 2, {}), ""},
        {PRINT(o_tele, "1", "2", "3", "4", TRUE, 6), "1{9}|2{29}|3{19}|4{29}|J|{4}6\n"},
        {PRINT_READ(o_tebu, "1", "2", "3", "4", "5", {6, 0x1f, '\xff'}, -9,
                    {"10", "11", "12", "13", "14", "15", "16", "17", "18", "19"}, "20", "21"),
         "1{9}|2{29}|3{34}|4{9}|5{9}| 6|1f|ff|-9|10{28}|11{28}|12{28}|13{28}|14{28}|15{28}|16{28}|"
         "17{28}|18{28}|19{28}|20{78}|21{78}\n"},
        {PRINT_READ(o_tebul, "1", "2", "3", "4", "5", FALSE, 7),
         "1{9}|2{9}|3{29}|4{19}|5{29}|N|{4}7\n"},
        {PRINT_READ(o_tgroup, "1", "2", "3", "4", "5", {6, 7, 8}),
         "1{9}|2{29}|3{34}|4{9}|5{9}| 6| 7| 8\n"},
        {PRINT(o_muser, "1", "2", -3), "1{79}|2{9}|-3{13}\n"},
        {PRINT(o_gwuser, 0, {.v0{"1", "2", "3", 4}}), "1{9}|2{79}|3{9}|4{14}\n"},
        {PRINT(o_gwuser, -1, {.v1{"1", "2", "3", 4}}), "1{9}|2{79}|3{19}|4{14}\n"},  // not only 1
        {PRINT(o_reply_addr, 0, {{1, "2", "3", "4", "5", TRUE, -7, 8, -9}}),
         "1{4}|2{19}|3{9}|4{34}|5{29}|J|-7{4}|8{14}|-9{13}\n"},
        {PRINT(o_user, "1", "2", "3", "4", "5", TRUE, "7", -8),
         "1{34}|2{9}|3{29}|4{34}|5{9}|J|7{19}|4294967288\n"},
        // The versioned fax line writes its version first; another version gets no body.
        {PRINT_READ(o_faxl_new, 1, {.v1{FAXL_NEW_FIELDS, "34"}}),
         "{4}1|1{9}|2{34}|3{34}|4{9}|{3}-5|6{9}|7{19}|fffffff8|9{29}|10{28}|{6}11|12{28}|13{28}|"
         "14{78}|{3}15|{3}16|{3}17|{3}18|19{18}|{5}-20|21{8}|22{78}|23{33}|24{8}|{3}25|{3}26|{6}27|"
         "28{18}|29{18}|30{18}|31{18}|4294967264|{6}33|34{18}\n"},
        {PRINT(o_faxl_new, 7, {}), "{4}7|"},
    });
}

// Texts keep their capacity, without trailing blanks; shorts are unsigned, hex longs hex,
// permission bytes hex up to ff; a bool is J or Y (either case) first on its line; no digits or no
// line: fails.
TEST(OtoolsReader, ReadersFollowTheLineRules)
{
    o_faxl_new kept{};
    std::strcpy(kept.o_faxl_new_u.v1.f34, "kept");
    std::string v0 = line(fprint_o_faxl_new, o_faxl_new{0, {.v0{FAXL_NEW_FIELDS}}}, "\n");
    v0.replace(v0.find("\n19 "), 3, "\nABCDEFGHIJKL");
    expect_rows({
        {READ(o_tgroup, "abcdefghijKLMNOP\nxy \t \n\nu\ni\nff\n0\n 7f\n"),
         "abcdefghij|xy{28}|{35}|u{9}|i{9}|ff| 0|7f\n"},
        {READ(o_tgroupl, "a\nb\nc"), "a{9}|b{9}|c{9}\n"},
        {READ(o_tgroupl, "a\nb\n"), "(fails)"},
        {READ(o_tgroup, "n\nd\nh\nu\ni\n100\n0\n0\n"), "(fails)"},
        {READ(o_tebul, "a\nb\nc\nd\ne\nyes\n7\n"), "a{9}|b{9}|c{29}|d{19}|e{29}|J|{4}7\n"},
        {READ(o_tebul, "a\nb\nc\nd\ne\n J\n7\n"), "a{9}|b{9}|c{29}|d{19}|e{29}|N|{4}7\n"},
        {READ(o_tebul, "a\nb\nc\nd\ne\n\n7\n"), "a{9}|b{9}|c{29}|d{19}|e{29}|N|{4}7\n"},
        {READ(o_faxg, "g\nd\n65535\n  12\nFFFFFFFF\n0x1f\n"),
         "g{9}|d{29}|65535|{3}12|ffffffff|{6}1f\n"},
        {READ(o_faxg, "g\nd\nzwei\n1\n1\n1\n"), "(fails)"},
        // The gateway user's long is neither read nor changed.
        {read_line(frd_o_gwuser, fprint_o_gwuser, "0\nn\na\n123456789012\n",
                   o_gwuser{0, {{"", "", "", 42}}}),
         "n{9}|a{79}|1234567890|42{13}\n"},
        // The version-1 reader takes a version-0 text by position (field 19 of 10), keeps 34.
        {read_line(frd_o_faxl_new_v1, fprint_o_faxl_new, v0, kept),
         "{4}1|1{9}|2{34}|3{34}|4{9}|{3}-5|6{9}|7{19}|fffffff8|9{29}|10{28}|{6}11|12{28}|13{28}|"
         "14{78}|{3}15|{3}16|{3}17|{3}18|ABCDEFGHIJ{10}|{5}-20|21{8}|22{78}|23{33}|24{8}|{3}25|"
         "{3}26|{6}27|28{18}|29{18}|30{18}|31{18}|4294967264|{6}33|kept{16}\n"},
        {read_line(frd_o_faxl_new_v1, fprint_o_faxl_new, "2\n"), "(fails)"},
    });
}

// Only names the host lookup knows, asked without a name server (an empty label is refused).
TEST(Otools, LegalhostAcceptsWhatTheHostLookupResolves)
{
    EXPECT_TRUE(legalhost("127.0.0.1") && legalhost("localhost"));
    EXPECT_FALSE(legalhost("bad..host") || legalhost(nullptr));
}

// Hosts compare exactly; a new host or name goes to the head of its chain.
TEST(Otools, DistributionListAddsEachNameOncePerHostNewestFirst)
{
    o_make_verteiler_o v{};
    std::string added, list;
    for (const auto &[host, name] :
         {std::pair{"h1", "anna"}, {"h1", "anna"}, {"h1", "bert"}, {"h2", "anna"}, {"H1", "anna"}})
        added += std::to_string(add_to_verteiler(&v.list, host, name));
    for (const o_verteiler_alpha *h = v.list; h != nullptr; h = h->next)
        for (const str10_ll *n = h->entry.names; n != nullptr; n = n->next)
            list += std::string(h->entry.host) + ":" + n->value + " ";
    EXPECT_EQ(added, "10111");
    EXPECT_EQ(list, "H1:anna h2:anna h1:bert h1:anna ");
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_o_make_verteiler_o), reinterpret_cast<char *>(&v));
}
