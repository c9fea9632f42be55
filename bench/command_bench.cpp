// dialcred's success path against local servers, timed run by run, next to
// its floor: floor_client, a minimal program making the same exchanges in one
// process. Starts a private directory, mail server and the development omega
// and alpha servers as the demo does, then runs the command and the floor
// alternately, each as a new process, and prints wall and CPU time (median,
// p90) of both, their ratio, and the floor's time per exchange. Given
// another dialcred binary (an earlier build, say), it runs that one in the
// same rotation and prints its times and the ratio of the two commands. Not
// a test: run it by hand, from an optimised build.
//
//   command_bench [RUNS [OTHER_DIALCRED]]   (default 100 runs, at least 10)
//
// With --parallel it measures the attempt counter instead: K wrong-password
// runs for one extension started at once, against the real clock, through a
// relay in front of the mail server that counts the logins that reach it and
// the most at one time; then the counter left and what each run printed.
//
//   command_bench --parallel [K [OTHER_DIALCRED]]   (default 24)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
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

// A relay on 127.0.0.1 in front of the mail server: every connection is
// passed through byte for byte, and counted, with the most open at once.
class CountingRelay {
public:
    explicit CountingRelay(std::uint16_t target) : target_(target)
    {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            listen(listen_, 64) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            throw std::runtime_error("relay: cannot listen");
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { accept_all(); });
    }
    ~CountingRelay()
    {
        stop_ = true;
        acceptor_.join();
        for (std::thread &t : relays_)
            t.join();
        close(listen_);
    }
    std::uint16_t port() const { return port_; }
    int total() const { return total_; }
    int most_at_once() const { return most_; }

private:
    static sockaddr_in loopback(std::uint16_t port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return a;
    }
    void accept_all()
    {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                relays_.emplace_back([this, client] { relay(client); });
        }
    }
    void relay(int client)
    {
        int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = loopback(target_);
        if (server >= 0 && connect(server, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
            ++total_;
            int now = ++active_;
            for (int m = most_; now > m && !most_.compare_exchange_weak(m, now);) {
            }
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            char buf[4096];
            for (bool open = true; open && !stop_;) {
                if (poll(p, 2, 50) <= 0)
                    continue;
                for (int i = 0; i < 2 && open; ++i) {
                    if (p[i].revents == 0)
                        continue;
                    ssize_t n = read(p[i].fd, buf, sizeof buf);
                    open = n > 0 && write(p[1 - i].fd, buf, static_cast<std::size_t>(n)) == n;
                }
            }
            --active_;
        }
        if (server >= 0)
            close(server);
        close(client);
    }

    std::uint16_t target_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> total_{0}, active_{0}, most_{0};
    std::thread acceptor_;
    std::vector<std::thread> relays_;
};

// K wrong passwords for one extension at once, for each binary given.
int parallel(int k, const std::vector<std::string> &binaries)
{
    using namespace testsupport;
    const std::string wrong = "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n\n";
    const std::string blocked = "Der Zugriff ist blockiert, versuchen Sie es sp\xe4ter.\n";
    Slapd slapd(SlapdOptions{ldif_base() + ldif_person("mmueller", {kExtension})});
    Dovecot dovecot(DovecotOptions{{{"mmueller", kPassword}}});
    const std::string user = "mueller";
    std::printf("%d wrong-password runs for one extension started at once, real clock:\n\n", k);
    std::printf("%-9s %8s %8s %8s %10s %8s %6s %8s\n", "binary", "reached", "at once", "counter",
                "wrong pw", "blocked", "other", "wall s");
    for (const std::string &binary : binaries) {
        CountingRelay relay(dovecot.imap_port());
        e2e::DevServers servers({{kExtension, "127.0.0.1", user, "bench"}}, {{"PINLENMIN", "4"}},
                                {{{user, "GD_IMH"}, "127.0.0.1:" + std::to_string(relay.port())},
                                 {{user, "GD_LDH"}, "127.0.0.1"},
                                 {{user, "GD_LDPRT"}, std::to_string(slapd.port())},
                                 {{user, "GD_LDBAS"}, Slapd::kSuffix}});
        std::vector<RunResult> results(static_cast<std::size_t>(k));
        std::vector<std::thread> threads;
        const Clock::time_point t0 = Clock::now();
        for (int i = 0; i < k; ++i)
            threads.emplace_back([&, i] {
                results[static_cast<std::size_t>(i)] = run_command(
                    {binary, kExtension, kPin, "falsch"}, servers.environment(), 300);
            });
        for (std::thread &t : threads)
            t.join();
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        int n_wrong = 0, n_blocked = 0, n_other = 0;
        for (const RunResult &r : results)
            (r.out == wrong ? n_wrong : r.out == blocked ? n_blocked : n_other)++;
        std::string counter = servers.store()[{user, std::string("T") + kExtension}];
        counter = counter.substr(counter.find(' ') + 1);
        std::printf("%-9s %8d %8d %8s %10d %8d %6d %8.1f\n",
                    binary == DIALCRED_BINARY ? "this" : "other", relay.total(),
                    relay.most_at_once(), counter.c_str(), n_wrong, n_blocked, n_other, wall);
    }
    std::printf(
        "\nreached: logins that reached the mail server; at once: the most of them at one\n"
        "time; counter: the count left in T%s; then what the runs printed.\n",
        kExtension);
    for (const std::string &binary : binaries)
        if (binary != DIALCRED_BINARY)
            std::printf("other: %s\n", binary.c_str());
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 1 && std::string(argv[1]) == "--parallel") {
        std::vector<std::string> binaries = {DIALCRED_BINARY};
        if (argc > 3)
            binaries.push_back(argv[3]);
        return parallel(argc > 2 ? std::max(1, std::atoi(argv[2])) : 24, binaries);
    }
    const int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100;
    const std::string other_binary = argc > 2 ? argv[2] : "";
    using namespace testsupport;

    std::printf(
        "Starting a private directory, mail server and the development omega and\n"
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
    std::vector<Run> command, floor, other;
    for (int i = -kWarmUp; i < runs; ++i) {
        Run c = run_once(DIALCRED_BINARY, env);
        Run f = run_once(FLOOR_CLIENT_BINARY, env);
        Run o = other_binary.empty() ? c : run_once(other_binary, env);
        if (!succeeded(c) || c.out != "Ok" || !succeeded(f) || !succeeded(o) || o.out != "Ok") {
            std::fprintf(stderr,
                         "run %d failed: dialcred status %d \"%s\", floor status %d, other "
                         "status %d \"%s\"\n",
                         i, c.status, c.out.c_str(), f.status, o.status, o.out.c_str());
            return 1;
        }
        if (i >= 0) {
            command.push_back(c);
            floor.push_back(f);
            other.push_back(o);
        }
    }

    const Summary sc = summarise(command), sf = summarise(floor);
    std::printf("\n%d runs of each, alternating, after %d warm-up runs (ms):\n", runs, kWarmUp);
    std::printf("%-14s %12s %12s %12s %12s\n", "", "wall median", "wall p90", "CPU median",
                "CPU p90");
    std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", "dialcred", sc.wall_median, sc.wall_p90,
                sc.cpu_median, sc.cpu_p90);
    std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", "floor_client", sf.wall_median, sf.wall_p90,
                sf.cpu_median, sf.cpu_p90);
    std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", "ratio", sc.wall_median / sf.wall_median,
                sc.wall_p90 / sf.wall_p90, sc.cpu_median / sf.cpu_median, sc.cpu_p90 / sf.cpu_p90);
    if (!other_binary.empty()) {
        const Summary so = summarise(other);
        std::printf("%-14s %12.2f %12.2f %12.2f %12.2f   (%s)\n", "other", so.wall_median,
                    so.wall_p90, so.cpu_median, so.cpu_p90, other_binary.c_str());
        std::printf("%-14s %12.2f %12.2f %12.2f %12.2f\n", "dialcred/other",
                    sc.wall_median / so.wall_median, sc.wall_p90 / so.wall_p90,
                    sc.cpu_median / so.cpu_median, sc.cpu_p90 / so.cpu_p90);
    }

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
    std::printf(
        "%-16s %10.3f   (sum of medians; the rest of the floor's wall time is\n"
        "%-16s %10s   process start, library loading and exit)\n",
        "all exchanges", sum, "", "");
    return 0;
}
