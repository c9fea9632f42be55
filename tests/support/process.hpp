// Programs started from tests as a host starts them, and the scratch folders of servers. Every
// child runs in its own process group: a time-out or a stop also ends what it started.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

using Environment = std::map<std::string, std::string>;

struct RunResult {
    int exit_status;       // exit code, or -1 when the command did not exit by itself
    int term_signal;       // signal that ended it, or 0
    std::string out, err;  // raw bytes
    double seconds;        // from start until the command ended
    bool timed_out;        // killed (SIGKILL to its process group) because the limit passed
};

// The sanitizer settings of this process (CTest sets them), for the programs it starts.
Environment sanitizer_environment();

// Runs argv with exactly `env` (argv[0] is looked up in env's PATH) and `stdin_data` as input.
RunResult run_command(const std::vector<std::string> &argv, const Environment &env,
                      double timeout_seconds, const std::string &stdin_data = "");

// A folder <$TMPDIR or /tmp>/<prefix>-XXXXXX, mode 0755 so that servers running under their
// own user can read in; removed with everything in it.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "dialcred");
    ~TempDir();
    TempDir(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
    // Writes `content` byte for byte to path()/name, mode 0644.
    std::filesystem::path write_file(std::string_view name, std::string_view content) const;

private:
    std::filesystem::path path_;
};

// A long-running child, stdin /dev/null, stdout and stderr appended to a log file. It gets
// SIGKILL when the thread that started it ends (PR_SET_PDEATHSIG): start daemons from the
// test's own thread, and a test binary killed by a time-out leaves no server behind.
class Daemon {
public:
    Daemon() = default;  // no process
    Daemon(const std::vector<std::string> &argv, const Environment &env,
           const std::filesystem::path &log_file);
    ~Daemon() { stop(); }
    Daemon(Daemon &&other) noexcept { *this = std::move(other); }
    Daemon &operator=(Daemon &&other) noexcept;  // the old process stops with `other`

    // The process stays unreaped until stop(), so that its pid and group are not reused.
    bool running() const { return !wait_exit(0); }
    void signal(int sig) const { if (pid_ > 0) kill(pid_, sig); }
    // False if the process still runs after `timeout_seconds`.
    bool wait_exit(double timeout_seconds) const;
    // SIGTERM (and SIGCONT, in case it was paused), up to `grace_seconds` for it to end, then
    // SIGKILL to its process group. Returns the wait status.
    int stop(double grace_seconds = 5.0);
    std::string log_tail() const;  // the last 4000 bytes of the log

private:
    pid_t pid_ = -1;
    std::filesystem::path log_;
};

// A TCP port of 127.0.0.1 that was free a moment ago.
std::uint16_t free_tcp_port();
// True when 127.0.0.1:port accepts a connection and sends a first line that starts with
// `greeting`.
bool greets(std::uint16_t port, const std::string &greeting = "");
// Starts a server, up to three times when another process took a port before the server bound
// it: `start` picks the ports and starts it, `ready` tells when it serves. Throws with its log.
Daemon start_server(const std::string &what, const std::function<Daemon()> &start,
                    const std::function<bool()> &ready);

}  // namespace testsupport
