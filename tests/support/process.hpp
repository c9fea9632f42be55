// Running programs from tests the way a host would: a one-shot command with exactly the
// environment the test gives and its raw output, and long-running servers that are always
// stopped again. Every child gets its own process group, so a time-out or a stop also takes
// down whatever it started in that group.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

using Environment = std::map<std::string, std::string>;

struct RunResult {
    int exit_status;       // exit code, or -1 when the command did not exit by itself
    int term_signal;       // signal that ended it, or 0
    std::string out, err;  // raw bytes
    double seconds;        // from start until the command ended (not until its pipes closed)
    bool timed_out;        // killed (SIGKILL to its process group) because the limit passed
};

// The sanitizer settings this process runs under (CTest sets them in the
// sanitizer build), for the programs it starts, which report under them too.
Environment sanitizer_environment();

// Runs argv with exactly `env` as its environment; argv[0] without a slash is looked up in
// env's PATH (or /usr/bin:/bin). Feeds `stdin_data` and then EOF, collects stdout and stderr.
// Returns at the latest shortly after `timeout_seconds`. Throws when argv[0] cannot be executed.
RunResult run_command(const std::vector<std::string> &argv, const Environment &env,
                      double timeout_seconds, const std::string &stdin_data = "");

// A long-running child: stdin /dev/null, stdout and stderr appended to a log file (never a pipe,
// which a server and its children would keep open), in its own process group.
// The child gets SIGKILL when the thread that started it ends (PR_SET_PDEATHSIG), so a test
// binary killed by a time-out leaves no server behind: start daemons from the test's own thread.
class Daemon {
  public:
    Daemon() = default;  // no process; stop() does nothing
    Daemon(const std::vector<std::string> &argv, const Environment &env,
           const std::filesystem::path &log_file);
    ~Daemon();

    Daemon(Daemon &&other) noexcept;
    Daemon &operator=(Daemon &&other) noexcept;
    Daemon(const Daemon &) = delete;
    Daemon &operator=(const Daemon &) = delete;

    // -1 once stopped.
    pid_t pid() const { return pid_; }
    // False once the process has ended (it stays unreaped until stop(), so its pid is not reused).
    bool running() const;
    void signal(int sig) const;
    // Waits until the process ends by itself; false if it still runs after `timeout_seconds`.
    bool wait_exit(double timeout_seconds) const;
    // SIGTERM (and SIGCONT, in case it was paused), up to `grace_seconds` for it to end, then
    // SIGKILL to its process group; leftovers in the group are killed too. Returns the wait
    // status; later calls return the same.
    int stop(double grace_seconds = 5.0);
    // True once 127.0.0.1:port accepts a connection; false at the deadline or when the process
    // has ended first.
    bool wait_for_port(std::uint16_t port, double timeout_seconds) const;

    const std::filesystem::path &log_file() const { return log_; }
    std::string log_tail(std::size_t max_bytes = 4000) const;

  private:
    void release() noexcept;

    pid_t pid_ = -1;
    int pidfd_ = -1;
    std::optional<int> status_;
    std::filesystem::path log_;
};

// True once 127.0.0.1:port accepts a connection, false at the deadline.
bool wait_for_port(std::uint16_t port, double timeout_seconds);

}  // namespace testsupport
