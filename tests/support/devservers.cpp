// The development servers fixture: see devservers.hpp.
#include "devservers.hpp"

#include <rpc/rpc.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "devserver.hpp"

namespace e2e {

namespace {

// Program numbers of omega and alpha are 36 apart; offsets of different
// processes are 128 apart, so no two of them ever meet.
long compute_offset() { return 100000 + (getpid() % 30000) * 128; }

bool registered(unsigned long prog)
{
    CLIENT *c = clnt_create("127.0.0.1", prog, 1, "tcp");
    if (c == nullptr)
        return false;
    clnt_destroy(c);
    return true;
}

void wait_registered(const testsupport::Daemon &d, unsigned long prog)
{
    for (int i = 0; i < 200; ++i) {
        if (registered(prog))
            return;
        if (!d.running())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("development server did not come up: " + d.log_tail());
}

}  // namespace

long test_offset()
{
    static const long offset = compute_offset();
    return offset;
}

void use_devservers_in_this_process()
{
    // As the public header asks of every program that uses the libraries.
    std::signal(SIGPIPE, SIG_IGN);
    setenv("QUIRVERPCOFFSET", std::to_string(test_offset()).c_str(), 1);
    for (const char *name : {"LOCALHOST", "OMEGAHOST", "ALPHAHOST"})
        setenv(name, "127.0.0.1", 1);
}

DevServers::DevServers(const std::vector<Route> &routes,
                       const std::map<std::string, std::string> &config,
                       const std::map<std::pair<std::string, std::string>, std::string> &usrconf,
                       bool old_alpha)
    : dir_("devservers"), old_alpha_(old_alpha)
{
    std::vector<std::vector<std::string>> omega_rows;
    int n = 0;
    for (const Route &r : routes)
        omega_rows.push_back({"route", "r" + std::to_string(++n), "test route", r.number,
                              r.qualifier, r.host, r.user, r.id, "", "0"});
    for (const auto &[k, v] : config)
        omega_rows.push_back({"config", k, v});
    devserver::write_table(dir_ / "omega.dat", omega_rows);
    std::vector<std::vector<std::string>> alpha_rows;
    for (const auto &[k, v] : usrconf)
        alpha_rows.push_back({k.first, k.second, v});
    devserver::write_table(dir_ / "alpha.dat", alpha_rows);
    dir_.write_file("omega.control", "");
    dir_.write_file("alpha.control", "");

    const std::string offset = std::to_string(test_offset());
    omega_ = testsupport::Daemon({OMEGAD_BINARY, "--offset", offset, "--data", dir_ / "omega.dat",
                                  "--control", dir_ / "omega.control"},
                                 testsupport::sanitizer_environment(), dir_ / "omegad.log");
    wait_registered(omega_, 16011931 + test_offset());
    start_alpha();
}

void DevServers::start_alpha()
{
    std::vector<std::string> argv = {ALPHAD_BINARY, "--offset", std::to_string(test_offset()),
                                     "--data", dir_ / "alpha.dat", "--log", dir_ / "event.log",
                                     "--control", dir_ / "alpha.control"};
    if (old_alpha_)
        for (const char *p : {"noproc 143", "noproc 144", "noproc 145"})
            argv.insert(argv.end(), {"--set", p});
    alpha_ = testsupport::Daemon(argv, testsupport::sanitizer_environment(), dir_ / "alphad.log");
    wait_registered(alpha_, 16011967 + test_offset());
}

void DevServers::restart_alpha()
{
    alpha_.stop();
    start_alpha();
}

DevServers::~DevServers()
{
    alpha_.stop();
    omega_.stop();
}

void DevServers::omega_control(const std::string &lines) const
{
    dir_.write_file("omega.control", lines);
}

void DevServers::alpha_control(const std::string &lines) const
{
    dir_.write_file("alpha.control", lines);
}

std::map<std::pair<std::string, std::string>, std::string> DevServers::store() const
{
    std::map<std::pair<std::string, std::string>, std::string> out;
    for (const auto &row : devserver::read_table(dir_ / "alpha.dat"))
        if (row.size() >= 3)
            out[{row[0], row[1]}] = row[2];
    return out;
}

void DevServers::clear_event_log() const
{
    std::ofstream(dir_ / "event.log", std::ios::trunc).flush();
}

std::vector<std::string> DevServers::event_log() const
{
    std::vector<std::string> lines;
    std::ifstream in(dir_ / "event.log", std::ios::binary);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

testsupport::Environment DevServers::environment() const
{
    testsupport::Environment env = {{"PATH", "/usr/bin:/bin"},
                                    {"HOME", dir_.path().string()},
                                    {"LOCALHOST", "127.0.0.1"},
                                    {"QUIRVERPCOFFSET", std::to_string(test_offset())},
                                    // Attempt locks of this test only: runs
                                    // of other tests never wait for them.
                                    {"DIALCRED_LOCKDIR", (dir_ / "locks").string()}};
    env.merge(testsupport::sanitizer_environment());
    return env;
}

}  // namespace e2e
