// The demonstration of scripts/demo.sh: three runs of dialcred and what each left behind.
#include "shared_servers.hpp"

// Prints the run as a host sees it (ISO-8859-1 shown as UTF-8) and u4711's stored entries.
static void show_run(const e2e::DevServers &s, const std::vector<std::string> &args)
{
    std::printf("\n$ dialcred %s %s %s\n", args[0].c_str(), args[1].c_str(), args[2].c_str());
    const e2e::RunResult r = e2e::dialcred(s, args);
    std::string text;
    for (unsigned char c : r.out + r.err)
        text += c < 0x80 ? std::string(1, c)
                         : std::string{char(0xc0 | c >> 6), char(0x80 | (c & 0x3f))};
    std::printf("  output: \"%s\"\n  exit status: %d\n  stored for u4711:\n", text.c_str(),
                r.exit_status);
    for (const auto &[k, v] : s.store())
        if (k.first == "u4711" && k.second.rfind("GD_", 0) != 0)
            std::printf("    %s = \"%s\"\n", k.second.c_str(), v.c_str());
}

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("Starting slapd, dovecot and the development servers on 127.0.0.1 ...\n");
    const e2e::DevServers servers = e2e::servers();
    std::printf("Extension 4711: alpha user u4711, directory entry mmueller, mail password %s.\n",
                e2e::kPassword.c_str());
    show_run(servers, {"4711", "1234", e2e::kPassword});
    const std::string code = servers.store()[{"u4711", "t4711"}];
    std::printf("  the keypad code decodes with PIN 1234 to \"%s\"\n",
                e2e::decoded_password("1234", code).c_str());
    show_run(servers, {"4711", "1234", "falsch"});
    show_run(servers, {"9999", "1234", e2e::kPassword});
}
