// The main job on a local default: starts the development omega and alpha
// servers, a private directory and a private mail server with a small demo
// data set on 127.0.0.1, runs dialcred for a good password, a wrong password
// and an unknown extension, shows what each run printed and left on the alpha
// server, and stops everything it started.
#include <csignal>
#include <cstdio>
#include <string>

#include "devservers.hpp"
#include "dovecot.hpp"
#include "process.hpp"
#include "shared_servers.hpp"
#include "slapd.hpp"

namespace {

// dialcred speaks ISO-8859-1; this terminal is shown UTF-8.
std::string latin1_to_utf8(const std::string &in)
{
    std::string out;
    for (unsigned char c : in) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

void show_run(const e2e::DevServers &s, const std::vector<std::string> &args, const char *why)
{
    std::printf("\n$ dialcred");
    for (const auto &a : args)
        std::printf(" %s", a.c_str());
    std::printf("\n");
    std::vector<std::string> argv = {DIALCRED_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::RunResult r = testsupport::run_command(argv, s.environment(), 60);
    std::printf("  standard output: \"%s\"\n", latin1_to_utf8(r.out).c_str());
    if (!r.err.empty())
        std::printf("  standard error:  \"%s\"\n", latin1_to_utf8(r.err).c_str());
    std::printf("  exit status:     %d\n", r.exit_status);
    std::printf("  why: %s\n", why);
    std::printf("  usrconf entries of the alpha user now:\n");
    for (const auto &[k, v] : s.store())
        if (k.second.rfind("GD_", 0) != 0)
            std::printf("    %s / %s = \"%s\"\n", k.first.c_str(), k.second.c_str(), v.c_str());
}

}  // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    using namespace testsupport;
    std::printf("Starting a private directory (slapd), mail server (dovecot) and the\n"
                "development omega and alpha servers on 127.0.0.1 ...\n");
    Slapd slapd(SlapdOptions{ldif_base() + ldif_person("mmueller", {"4711"})});
    Dovecot dovecot(DovecotOptions{{{"mmueller", "Geheim42"}}});
    const std::string user = "mueller";
    e2e::DevServers servers(
        {{"4711", "127.0.0.1", user, "demo"}}, {{"PINLENMIN", "4"}},
        {{{user, "GD_IMH"}, "127.0.0.1:" + std::to_string(dovecot.imap_port())},
         {{user, "GD_LDH"}, "127.0.0.1"},
         {{user, "GD_LDPRT"}, std::to_string(slapd.port())},
         {{user, "GD_LDBAS"}, Slapd::kSuffix}});

    std::printf("\nDemo data:\n"
                "  omega route:   extension 4711 -> alpha server 127.0.0.1, alpha user %s\n"
                "  omega config:  PINLENMIN = 4\n"
                "  alpha usrconf: GD_IMH, GD_LDH, GD_LDPRT, GD_LDBAS point at the servers above\n"
                "  directory:     uid=mmueller with facsimileTelephoneNumber 4711\n"
                "  mail server:   user mmueller, password Geheim42\n",
                user.c_str());

    show_run(servers, {"4711", "1234", "Geheim42"},
             "route found, PIN long enough, directory names mmueller, the IMAP login\n"
             "       succeeds: the attempt counter T4711 is deleted and the keypad code\n"
             "       is stored under t4711");
    std::string code = servers.store()[{user, "t4711"}];
    std::printf("  the stored keypad code \"%s\" decodes with PIN 1234 to \"%s\"\n",
                code.c_str(), e2e::decoded_password("1234", code).c_str());

    show_run(servers, {"4711", "1234", "falsch"},
             "the mail server refuses the login; the attempt is counted in T4711\n"
             "       as \"<unlock time> <count>\" on the alpha server's clock");
    show_run(servers, {"9999", "1234", "Geheim42"},
             "the omega server has no route for 9999; nothing is counted");

    std::printf("\nStopping the servers.\n");
    return 0;
}
