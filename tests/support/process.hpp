// Programs started from tests, each in its own process group, and scratch folders for servers.
#pragma once

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Environment = std::map<std::string, std::string>;

struct RunResult {
    int exit_status, term_signal;  // the exit code or -1, the signal that ended it or 0
    std::string out, err;          // raw bytes
    double seconds;
    bool timed_out;  // killed with its process group when the limit passed
};

// The sanitizer settings CTest gave this process, for the programs it starts.
Environment sanitizer_environment();
// Runs argv (argv[0] looked up in env's PATH) with exactly env, and stdin_data as input.
RunResult run_command(const std::vector<std::string> &argv, const Environment &env,
                      double timeout_seconds, const std::string &stdin_data = "");

// A new folder under $TMPDIR or /tmp, mode 0755 for servers running under their own user.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "dialcred");
    ~TempDir();
    TempDir(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
    std::filesystem::path write_file(std::string_view name,
                                     std::string_view content) const;  // mode 0644

private:
    std::filesystem::path path_;
};

// A long-running child, output appended to a log file, killed when the thread that started it
// ends; unreaped until stop(), so that its pid and group are not reused.
class Daemon {
public:
    Daemon() = default;  // no process
    Daemon(const std::vector<std::string> &argv, const Environment &env,
           const std::filesystem::path &log_file);
    ~Daemon() { stop(); }
    Daemon(Daemon &&other) noexcept { *this = std::move(other); }
    Daemon &operator=(Daemon &&other) noexcept;  // the old process stops with other

    bool running() const { return !wait_exit(0); }
    void signal(int sig) const { (void)(pid_ > 0 && kill(pid_, sig)); }
    bool wait_exit(double timeout_seconds) const;  // false if it still runs after that
    // SIGTERM (and SIGCONT if paused), grace_seconds to end, then SIGKILL to its group.
    int stop(double grace_seconds = 5.0);  // the wait status
    std::string log_tail() const;          // the last 4000 bytes of the log

private:
    pid_t pid_ = -1;
    std::filesystem::path log_;
};

// A socket listening on 127.0.0.1 at a port the kernel picked, which goes to `port`.
int listen_on_loopback(std::uint16_t &port);
std::uint16_t free_tcp_port();  // of 127.0.0.1, free a moment ago
// True when 127.0.0.1:port accepts a connection and its first line starts with greeting.
bool greets(std::uint16_t port, const std::string &greeting = "");
// start picks the ports and starts a server, ready tells when it serves; tried up to three times
// when another process took a port first. Throws with the server's log.
Daemon start_server(const std::string &what, const std::function<Daemon()> &start,
                    const std::function<bool()> &ready);

}  // namespace testsupport
