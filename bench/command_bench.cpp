// dialcred's success path against local servers, timed run by run, next to
// its floor: floor_client, a minimal program making the same exchanges in one
// process. Starts a private directory, mail server and the development omega
// and alpha servers as the demo does, then runs the command and the floor
// alternately, each as a new process, and prints wall and CPU time (median,
// p90) of both, their ratio, and the floor's time per exchange. Not a test:
// run it by hand, from an optimised build.
//
//   command_bench [RUNS]   (default 100, at least 10)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "devservers.hpp"
#include "dovecot.hpp"
#include "process.hpp"
#include "slapd.hpp"

namespace {

using Clock = std::chrono::steady_clock;

const char *const kExtension = "4711";
const char *const kPin = "1234";
const char *const kPassword = "Geheim42";
constexpr int kWarmUp = 5;

struct Run {
    double wall_ms = 0;
    double cpu_ms = 0;  // user + system time of the process
    int status = 0;
    std::string out;
};

double ms_of(const timeval &t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; }

// One process, its wall time from fork to reaping and its CPU time from
// wait4(); its standard output is kept (a line at most, which the pipe holds
// until the process has ended).
Run run_once(const std::string &program, const std::vector<std::string> &env_strings)
{
    std::vector<std::string> args = {program, kExtension, kPin, kPassword};
    std::vector<char *> argv, envp;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = env_strings;
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe");
    Run r;
    const Clock::time_point t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    rusage ru{};
    wait4(pid, &r.status, 0, &ru);
    r.wall_ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    r.cpu_ms = ms_of(ru.ru_utime) + ms_of(ru.ru_stime);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        r.out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    return r;
}

double quantile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    const double at = q * static_cast<double>(v.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(at);
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

struct Summary {
    double wall_median, wall_p90, cpu_median, cpu_p90;
};

Summary summarise(const std::vector<Run> &runs)
{
    std::vector<double> wall, cpu;
    for (const Run &r : runs) {
        wall.push_back(r.wall_ms);
        cpu.push_back(r.cpu_ms);
    }
    return {quantile(wall, 0.5), quantile(wall, 0.9), quantile(cpu, 0.5), quantile(cpu, 0.9)};
}

bool succeeded(const Run &r) { return WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0; }

}  // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100;
    using namespace testsupport;

    std::printf("Starting a private directory, mail server and the development omega and\n"
                "alpha servers on 127.0.0.1 ...\n");
    Slapd slapd(SlapdOptions{ldif_base() + ldif_person("mmueller", {kExtension})});
    Dovecot dovecot(DovecotOptions{{{"mmueller", kPassword}}});
    const std::string user = "mueller";
    e2e::DevServers servers({{kExtension, "127.0.0.1", user, "bench"}}, {{"PINLENMIN", "4"}},
                            {{{user, "GD_IMH"}, "127.0.0.1:" + std::to_string(dovecot.imap_port())},
                             {{user, "GD_LDH"}, "127.0.0.1"},
                             {{user, "GD_LDPRT"}, std::to_string(slapd.port())},
                             {{user, "GD_LDBAS"}, Slapd::kSuffix}});
    std::vector<std::string> env;
    for (const auto &[k, v] : servers.environment())
        env.push_back(k + "=" + v);

    // Alternating, so that both see the same state of a shared machine.
    std::vector<Run> command, floor;
    for (int i = -kWarmUp; i < runs; ++i) {
        Run c = run_once(DIALCRED_BINARY, env);
        Run f = run_once(FLOOR_CLIENT_BINARY, env);
        if (!succeeded(c) || c.out != "Ok" || !succeeded(f)) {
            std::fprintf(stderr, "run %d failed: dialcred status %d \"%s\", floor status %d\n", i,
                         c.status, c.out.c_str(), f.status);
            return 1;
        }
        if (i >= 0) {
            command.push_back(c);
            floor.push_back(f);
        }
    }

    const Summary sc = summarise(command), sf = summarise(floor);
    std::printf("\n%d runs of each, alternating, after %d warm-up runs (ms):\n", runs, kWarmUp);
    std::printf("%-14s %12s %12s %12s %12s\n", "", "wall median", "wall p90", "CPU median",
                "CPU p90");
    std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", "dialcred", sc.wall_median, sc.wall_p90,
                sc.cpu_median, sc.cpu_p90);
    std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", "floor_client", sf.wall_median,
                sf.wall_p90, sf.cpu_median, sf.cpu_p90);
    std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", "ratio", sc.wall_median / sf.wall_median,
                sc.wall_p90 / sf.wall_p90, sc.cpu_median / sf.cpu_median,
                sc.cpu_p90 / sf.cpu_p90);

    // The floor's own times, exchange by exchange, in the order it made them.
    std::vector<std::string> order;
    std::map<std::string, std::vector<double>> exchanges;
    for (const Run &r : floor) {
        std::istringstream in(r.out);
        for (std::string pair; in >> pair;) {
            const std::size_t eq = pair.find('=');
            const std::string name = pair.substr(0, eq);
            if (exchanges.find(name) == exchanges.end())
                order.push_back(name);
            exchanges[name].push_back(std::atof(pair.c_str() + eq + 1));
        }
    }
    std::printf("\nfloor_client in-process time per exchange (ms):\n");
    std::printf("%-16s %10s %10s\n", "", "median", "p90");
    double sum = 0;
    for (const std::string &name : order) {
        const double m = quantile(exchanges[name], 0.5);
        sum += m;
        std::printf("%-16s %10.3f %10.3f\n", name.c_str(), m, quantile(exchanges[name], 0.9));
    }
    std::printf("%-16s %10.3f   (sum of medians; the rest of the floor's wall time is\n"
                "%-16s %10s   process start, library loading and exit)\n",
                "all exchanges", sum, "", "");
    return 0;
}
