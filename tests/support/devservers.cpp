// The development servers fixture: started, registered with rpcbind and read back.
#include "devservers.hpp"

#include <rpc/rpc.h>
#include <unistd.h>

#include <fstream>

#include "devserver.hpp"

namespace e2e {

using namespace testsupport;

static Daemon start(const TempDir &dir, std::vector<std::string> argv, const std::string &name,
                    unsigned long prog)
{
    argv.insert(argv.end(), {"--offset", std::to_string(test_offset()), "--data",
                             dir / (name + ".dat"), "--control", dir / (name + ".control")});
    const auto env = sanitizer_environment();
    return start_server(
        name + "d", [&] { return Daemon(argv, env, dir / (name + "d.log")); },
        [&] {
            CLIENT *c = clnt_create("127.0.0.1", prog + test_offset(), 1, "tcp");
            return c != nullptr && (clnt_destroy(c), true);
        });
}

// Program numbers of omega and alpha are 36 apart, offsets of two processes 128 apart.
long test_offset()
{
    static const long offset = 100000 + (getpid() % 30000) * 128;
    return offset;
}

void use_devservers_in_this_process()
{
    std::signal(SIGPIPE, SIG_IGN);  // as the public header asks of every program
    setenv("QUIRVERPCOFFSET", std::to_string(test_offset()).c_str(), 1);
    for (const char *name : {"LOCALHOST", "OMEGAHOST", "ALPHAHOST"})
        setenv(name, "127.0.0.1", 1);
}

DevServers::DevServers(const std::vector<Route> &routes,
                       const std::map<std::string, std::string> &config, const Usrconf &usrconf,
                       bool old_alpha)
    : dir_("devservers"), old_alpha_(old_alpha)
{
    std::vector<std::vector<std::string>> omega_rows, alpha_rows;
    for (const Route &r : routes)
        omega_rows.push_back({"route", "r" + std::to_string(omega_rows.size() + 1), "test route",
                              r.number, "", r.host, r.user, r.id, "", "0"});
    for (const auto &[k, v] : config)
        omega_rows.push_back({"config", k, v});
    for (const auto &[k, v] : usrconf)
        alpha_rows.push_back({k.first, k.second, v});
    devserver::write_table(dir_ / "omega.dat", omega_rows);
    devserver::write_table(dir_ / "alpha.dat", alpha_rows);
    omega_control("");
    alpha_control("");
    omega_ = start(dir_, {OMEGAD_BINARY}, "omega", 16011931);
    restart_alpha();
}

void DevServers::restart_alpha()
{
    alpha_.stop();
    std::vector<std::string> argv = {ALPHAD_BINARY, "--log", dir_ / "event.log"};
    for (const char *p : {"noproc 143", "noproc 144", "noproc 145"})
        if (old_alpha_)
            argv.insert(argv.end(), {"--set", p});
    alpha_ = start(dir_, argv, "alpha", 16011967);
}

Usrconf DevServers::store() const
{
    Usrconf out;
    for (const auto &row : devserver::read_table(dir_ / "alpha.dat"))
        out[{row.at(0), row.at(1)}] = row.at(2);
    return out;
}

std::vector<std::string> DevServers::event_log() const
{
    std::vector<std::string> lines;
    std::ifstream in(dir_ / "event.log", std::ios::binary);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

Environment DevServers::environment() const
{
    Environment env = sanitizer_environment();
    // Attempt locks of this test only: runs of other tests never wait for them.
    env.insert({{"PATH", "/usr/bin:/bin"},
                {"HOME", dir_.path()},
                {"LOCALHOST", "127.0.0.1"},
                {"QUIRVERPCOFFSET", std::to_string(test_offset())},
                {"DIALCRED_LOCKDIR", dir_ / "locks"}});
    return env;
}

}  // namespace e2e
