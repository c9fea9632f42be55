// The demonstration of scripts/demo.sh: dialcred run for a good password, a wrong one and an
// unknown extension against the live tests' servers, and what each run left on the alpha server.
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
    std::printf("\n$ dialcred");
    for (const auto &a : args)
        std::printf(" %s", a.c_str());
    const testsupport::RunResult r = e2e::dialcred(s, args);
    std::printf("\n  standard output: \"%s\"\n", utf8(r.out).c_str());
    if (!r.err.empty())
        std::printf("  standard error:  \"%s\"\n", utf8(r.err).c_str());
    std::printf("  exit status:     %d\n  why: %s\n  usrconf entries of u4711 now:\n",
                r.exit_status, why);
    for (const auto &[k, v] : s.store())
        if (k.first == "u4711" && k.second.rfind("GD_", 0) != 0)
            std::printf("    %s = \"%s\"\n", k.second.c_str(), v.c_str());
}

}  // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::printf(
        "Starting a private directory (slapd), mail server (dovecot) and the\n"
        "development omega and alpha servers on 127.0.0.1 ...\n");
    const e2e::DevServers servers = e2e::servers();
    std::printf(
        "\nExtension 4711 routes to the alpha user u4711, whose directory and mail settings\n"
        "point at the servers above; PINLENMIN is 4; the directory names mmueller for\n"
        "fax number 4711, and the mail server knows mmueller with password %s.\n",
        e2e::kPassword.c_str());
    show_run(servers, {"4711", "1234", e2e::kPassword},
             "the IMAP login succeeds: the attempt counter T4711 is deleted and the\n"
             "       keypad code is stored under t4711");
    const std::string code = servers.store()[{"u4711", "t4711"}];
    std::printf("  the stored keypad code \"%s\" decodes with PIN 1234 to \"%s\"\n", code.c_str(),
                e2e::decoded_password("1234", code).c_str());
    show_run(servers, {"4711", "1234", "falsch"},
             "the mail server refuses the login; the attempt is counted in T4711\n"
             "       as \"<unlock time> <count>\" on the alpha server's clock");
    show_run(servers, {"9999", "1234", e2e::kPassword},
             "the omega server has no route for 9999; nothing is counted");
    std::printf("\nStopping the servers.\n");
}
