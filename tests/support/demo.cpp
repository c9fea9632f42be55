// The demonstration of scripts/demo.sh: dialcred run for a good password, a wrong one and an
// unknown extension against the servers of the live tests, and what each run left behind.
#include "shared_servers.hpp"

namespace {

std::string utf8(const std::string &latin1)  // for the terminal
{
    std::string out;
    for (unsigned char c : latin1)
        out += c < 0x80 ? std::string(1, c)
                        : std::string{char(0xc0 | c >> 6), char(0x80 | (c & 0x3f))};
    return out;
}

void show_run(const e2e::DevServers &s, const std::vector<std::string> &args, const char *why)
{
    std::vector<std::string> argv = {DIALCRED_BINARY};
    std::printf("\n$ dialcred");
    for (const auto &a : args)
        std::printf(" %s", argv.emplace_back(a).c_str());
    const testsupport::RunResult r = testsupport::run_command(argv, s.environment(), 60);
    std::printf("\n  standard output: \"%s\"\n", utf8(r.out).c_str());
    if (!r.err.empty())
        std::printf("  standard error:  \"%s\"\n", utf8(r.err).c_str());
    std::printf("  exit status:     %d\n  why: %s\n  usrconf entries of the alpha user now:\n",
                r.exit_status, why);
    for (const auto &[k, v] : s.store())
        if (k.second.rfind("GD_", 0) != 0)
            std::printf("    %s / %s = \"%s\"\n", k.first.c_str(), k.second.c_str(), v.c_str());
}

}  // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::printf(
        "Starting a private directory (slapd), mail server (dovecot) and the\n"
        "development omega and alpha servers on 127.0.0.1 ...\n");
    using testsupport::Slapd;
    Slapd slapd(testsupport::SlapdOptions{testsupport::ldif_base() +
                                          testsupport::ldif_person("mmueller", {"4711"})});
    testsupport::Dovecot dovecot(testsupport::DovecotOptions{{{"mmueller", "Geheim42"}}});
    e2e::DevServers servers(
        {{"4711", "127.0.0.1", "mueller", "demo"}}, {{"PINLENMIN", "4"}},
        {{{"mueller", "GD_IMH"}, "127.0.0.1:" + std::to_string(dovecot.imap_port())},
         {{"mueller", "GD_LDH"}, "127.0.0.1"},
         {{"mueller", "GD_LDPRT"}, std::to_string(slapd.port())},
         {{"mueller", "GD_LDBAS"}, Slapd::kSuffix}});
    std::printf(
        "\nDemo data:\n"
        "  omega route:   extension 4711 -> alpha server 127.0.0.1, alpha user mueller\n"
        "  omega config:  PINLENMIN = 4\n"
        "  alpha usrconf: GD_IMH, GD_LDH, GD_LDPRT, GD_LDBAS point at the servers above\n"
        "  directory:     uid=mmueller with facsimileTelephoneNumber 4711\n"
        "  mail server:   user mmueller, password Geheim42\n");
    show_run(servers, {"4711", "1234", "Geheim42"},
             "route found, PIN long enough, directory names mmueller, the IMAP login\n"
             "       succeeds: the attempt counter T4711 is deleted and the keypad code\n"
             "       is stored under t4711");
    const std::string code = servers.store()[{"mueller", "t4711"}];
    std::printf("  the stored keypad code \"%s\" decodes with PIN 1234 to \"%s\"\n", code.c_str(),
                e2e::decoded_password("1234", code).c_str());
    show_run(servers, {"4711", "1234", "falsch"},
             "the mail server refuses the login; the attempt is counted in T4711\n"
             "       as \"<unlock time> <count>\" on the alpha server's clock");
    show_run(servers, {"9999", "1234", "Geheim42"},
             "the omega server has no route for 9999; nothing is counted");
    std::printf("\nStopping the servers.\n");
    return 0;
}
