// fork/exec with a prepared argv and envp, pipes read through poll, and a pidfd to learn the
// exact moment a child ends. Waiting on a pidfd instead of the pid also keeps the child
// unreaped until we are done signalling its process group, so the group id cannot be reused.
#include "process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "tempdir.hpp"

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void throw_errno(const std::string &what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Owns one file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd &&o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd &operator=(Fd &&o) noexcept {
        if (this != &o) {
            reset(std::exchange(o.fd_, -1));
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    Fd read, write;
};

Pipe make_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw_errno("pipe2");
    }
    return Pipe{Fd(fds[0]), Fd(fds[1])};
}

void set_nonblocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        throw_errno("fcntl O_NONBLOCK");
    }
}

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Milliseconds for poll() until `limit`, rounded up so that we never wake just before it.
int poll_ms_until(Clock::time_point limit) {
    auto left = std::chrono::duration<double, std::milli>(limit - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return static_cast<int>(std::min(std::ceil(left), 1e9));
}

// Like execvpe, but searching the PATH of the child's environment, not ours.
std::string resolve_program(const std::string &name, const Environment &env) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    auto it = env.find("PATH");
    std::string path = it != env.end() ? it->second : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string dir = path.substr(start, end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return name;
}

// Starts argv with stdin/stdout/stderr on the given descriptors, in a new process group.
// Everything the child does between fork and exec is async-signal-safe (tests have threads).
pid_t spawn(const std::vector<std::string> &argv, const Environment &env, int in, int out,
            int err) {
    if (argv.empty()) {
        throw std::invalid_argument("spawn: empty argv");
    }
    std::string program = resolve_program(argv[0], env);
    std::vector<char *> args;
    for (const auto &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<std::string> env_strings;
    for (const auto &[key, value] : env) {
        env_strings.push_back(key + "=" + value);
    }
    std::vector<char *> envp;
    for (auto &e : env_strings) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    // The child reports a failed exec through this pipe; a successful exec closes it.
    Pipe report = make_pipe();
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        throw_errno("fork");
    }
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP) {
                sigaction(sig, &dfl, nullptr);
            }
        }
        const int targets[3] = {in, out, err};
        for (int target = 0; target < 3; ++target) {
            int fd = targets[target];
            if (fd == target) {
                fcntl(fd, F_SETFD, 0);
            } else if (dup2(fd, target) < 0) {
                _exit(127);
            }
        }
        // Nothing else of ours may leak into a server, which would keep it open for its lifetime.
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        execve(program.c_str(), args.data(), envp.data());
        int e = errno;
        ssize_t ignored = ::write(report.write.get(), &e, sizeof e);
        (void)ignored;
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that a kill of the group right away cannot miss it
    report.write.reset();
    int child_errno = 0;
    ssize_t n;
    do {
        n = read(report.read.get(), &child_errno, sizeof child_errno);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof child_errno)) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throw std::system_error(child_errno, std::generic_category(), "cannot execute " + program);
    }
    return pid;
}

int open_pidfd(pid_t pid) {
    // Called through syscall(): glibc 2.36's <sys/pidfd.h> lacks the C linkage C++ needs.
    int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        int e = errno;
        kill(-pid, SIGKILL);
        int status;
        waitpid(pid, &status, 0);
        errno = e;
        throw_errno("pidfd_open");
    }
    return fd;
}

bool pidfd_wait(int pidfd, int timeout_ms) {
    pollfd p{pidfd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, timeout_ms);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

int reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Blocks SIGPIPE in this thread while we write to a child's stdin; a child that stops reading
// gives us EPIPE, and the pending signal is taken back before the old mask returns.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~SigpipeGuard() {
        timespec zero{};
        while (sigtimedwait(&set_, nullptr, &zero) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard &) = delete;
    SigpipeGuard &operator=(const SigpipeGuard &) = delete;

  private:
    sigset_t set_{}, old_{};
};

bool connects(std::uint16_t port) {
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        throw_errno("socket");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return connect(fd.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
}

}  // namespace

Environment sanitizer_environment() {
    Environment env;
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        if (const char *v = std::getenv(name)) {
            env[name] = v;
        }
    }
    return env;
}

RunResult run_command(const std::vector<std::string> &argv, const Environment &env,
                      double timeout_seconds, const std::string &stdin_data) {
    SigpipeGuard sigpipe_guard;
    Pipe in = make_pipe(), out = make_pipe(), err = make_pipe();

    RunResult result{-1, 0, {}, {}, 0.0, false};
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        start + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(std::max(timeout_seconds, 0.0)));
    pid_t pid = spawn(argv, env, in.read.get(), out.write.get(), err.write.get());
    Fd pidfd(open_pidfd(pid));
    in.read.reset();
    out.write.reset();
    err.write.reset();
    set_nonblocking(in.write.get());
    set_nonblocking(out.read.get());
    set_nonblocking(err.read.get());

    std::size_t written = 0;
    if (stdin_data.empty()) {
        in.write.reset();
    }
    bool exited = false;
    Clock::time_point end{};
    char buf[65536];
    auto drain = [&buf](Fd &fd, std::string &sink) {
        for (;;) {
            ssize_t n = read(fd.get(), buf, sizeof buf);
            if (n > 0) {
                sink.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0) {
                fd.reset();
                return;
            } else if (errno == EINTR) {
                continue;
            } else {
                if (errno != EAGAIN) {
                    fd.reset();
                }
                return;
            }
        }
    };

    for (;;) {
        // After the command ended, its output is already in the pipes; wait only briefly for a
        // leftover process that still holds them.
        Clock::time_point limit =
            exited ? std::min(deadline, end + std::chrono::seconds(1)) : deadline;
        pollfd fds[4];
        int n = 0;
        int i_out = -1, i_err = -1, i_in = -1, i_pid = -1;
        if (out.read) {
            i_out = n;
            fds[n++] = {out.read.get(), POLLIN, 0};
        }
        if (err.read) {
            i_err = n;
            fds[n++] = {err.read.get(), POLLIN, 0};
        }
        if (in.write) {
            i_in = n;
            fds[n++] = {in.write.get(), POLLOUT, 0};
        }
        if (!exited) {
            i_pid = n;
            fds[n++] = {pidfd.get(), POLLIN, 0};
        }
        if (n == 0 || Clock::now() >= limit) {
            break;
        }
        int r = poll(fds, static_cast<nfds_t>(n), poll_ms_until(limit));
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw_errno("poll");
        }
        if (i_pid >= 0 && fds[i_pid].revents != 0) {
            exited = true;
            end = Clock::now();
        }
        if (i_out >= 0 && fds[i_out].revents != 0) {
            drain(out.read, result.out);
        }
        if (i_err >= 0 && fds[i_err].revents != 0) {
            drain(err.read, result.err);
        }
        if (i_in >= 0 && fds[i_in].revents != 0) {
            ssize_t w =
                write(in.write.get(), stdin_data.data() + written, stdin_data.size() - written);
            if (w > 0) {
                written += static_cast<std::size_t>(w);
                if (written == stdin_data.size()) {
                    in.write.reset();
                }
            } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                in.write.reset();  // EPIPE: the command does not read its input
            }
        }
    }
    if (!exited) {
        result.timed_out = true;
        end = Clock::now();
    }
    // Also sweeps up anything the command left running in its group; the unreaped child keeps
    // the group id from being reused meanwhile.
    kill(-pid, SIGKILL);
    int status = reap(pid);
    if (out.read) {
        drain(out.read, result.out);
    }
    if (err.read) {
        drain(err.read, result.err);
    }
    result.seconds = seconds_between(start, end);
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

Daemon::Daemon(const std::vector<std::string> &argv, const Environment &env,
               const std::filesystem::path &log_file)
    : log_(log_file) {
    Fd devnull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!devnull) {
        throw_errno("open /dev/null");
    }
    Fd log(open(log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!log) {
        throw_errno("open " + log_file.string());
    }
    pid_ = spawn(argv, env, devnull.get(), log.get(), log.get());
    pidfd_ = open_pidfd(pid_);
}

Daemon::~Daemon() { stop(); }

Daemon::Daemon(Daemon &&other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      status_(std::move(other.status_)),
      log_(std::move(other.log_)) {}

Daemon &Daemon::operator=(Daemon &&other) noexcept {
    if (this != &other) {
        stop();
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::exchange(other.pidfd_, -1);
        status_ = std::move(other.status_);
        log_ = std::move(other.log_);
    }
    return *this;
}

bool Daemon::running() const { return pid_ > 0 && !pidfd_wait(pidfd_, 0); }

void Daemon::signal(int sig) const {
    if (pid_ > 0) {
        kill(pid_, sig);
    }
}

bool Daemon::wait_exit(double timeout_seconds) const {
    if (pid_ <= 0) {
        return true;
    }
    auto limit = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(std::max(timeout_seconds, 0.0)));
    return pidfd_wait(pidfd_, poll_ms_until(limit));
}

int Daemon::stop(double grace_seconds) {
    if (pid_ <= 0) {
        return status_.value_or(0);
    }
    if (running()) {
        kill(pid_, SIGTERM);
        kill(pid_, SIGCONT);
        if (!wait_exit(grace_seconds)) {
            kill(-pid_, SIGKILL);
            pidfd_wait(pidfd_, -1);
        }
    }
    kill(-pid_, SIGKILL);
    status_ = reap(pid_);
    release();
    return *status_;
}

void Daemon::release() noexcept {
    if (pidfd_ >= 0) {
        close(pidfd_);
    }
    pidfd_ = -1;
    pid_ = -1;
}

bool Daemon::wait_for_port(std::uint16_t port, double timeout_seconds) const {
    auto limit = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(timeout_seconds));
    for (;;) {
        if (!running()) {
            return false;
        }
        if (connects(port)) {
            return true;
        }
        if (Clock::now() >= limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string Daemon::log_tail(std::size_t max_bytes) const { return file_tail(log_, max_bytes); }

bool wait_for_port(std::uint16_t port, double timeout_seconds) {
    auto limit = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(timeout_seconds));
    for (;;) {
        if (connects(port)) {
            return true;
        }
        if (Clock::now() >= limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace testsupport
