// fork/exec with a prepared environment. A command's input and output are memory files, so
// nothing waits on pipes that a leftover process holds open; a pidfd tells the moment a child
// ends, and the child stays unreaped until its group is killed, so the group id is not reused.
#include "process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>
#include <utility>

extern char **environ;

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

struct Fd {
    int fd;
    ~Fd() { close(fd); }
};

int check(int r, const std::string &what)
{
    if (r < 0)
        throw std::system_error(errno, std::generic_category(), what);
    return r;
}

// Starts argv on the descriptors given, in a new process group. Between fork and exec the
// child does only what is async-signal-safe: tests have threads.
pid_t spawn(const std::vector<std::string> &argv, const Environment &env, int in, int out, int err)
{
    std::vector<std::string> env_strings;
    for (const auto &[key, value] : env)
        env_strings.push_back(key + "=" + value);
    std::vector<char *> args, envp;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    for (auto &e : env_strings)
        envp.push_back(e.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t parent = getpid(), pid = check(fork(), "fork");
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)  // SIGPIPE above all: tests ignore it
            signal(sig, SIG_DFL);
        const int fds[3] = {in, out, err};
        for (int i = 0; i < 3; ++i)
            if (fds[i] == i ? fcntl(i, F_SETFD, 0) < 0 : dup2(fds[i], i) < 0)
                _exit(127);
        // Nothing else of ours may leak into a server, which would hold it for its lifetime.
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        environ = envp.data();  // so that execvp searches the child's PATH
        if (getppid() == parent)
            execvp(args[0], args.data());
        (void)!write(2, "cannot execute ", 15);
        (void)!write(2, args[0], strlen(args[0]));
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that a kill of the group right away cannot miss it
    return pid;
}

// True once the process has ended, within `seconds`; it stays unreaped.
bool ended(pid_t pid, double seconds)
{
    // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks the C linkage C++ needs.
    Fd pidfd{static_cast<int>(syscall(SYS_pidfd_open, pid, 0))};
    pollfd p{pidfd.fd, POLLIN, 0};
    const auto limit = Clock::now() + std::chrono::duration<double>(seconds);
    for (double left = seconds;; left = std::chrono::duration<double>(limit - Clock::now()).count()) {
        const int r = pidfd.fd < 0 ? 1 : poll(&p, 1, left > 0 ? int(left * 1000) + 1 : 0);
        if (r > 0 || (r == 0 && left <= 0))
            return r > 0;
    }
}

int kill_and_reap(pid_t pid)
{
    kill(-pid, SIGKILL);  // also whatever it left running in its group
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string contents(int fd)
{
    std::string s(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
    return s.substr(0, static_cast<std::size_t>(std::max(pread(fd, s.data(), s.size(), 0), 0L)));
}

sockaddr_in loopback(std::uint16_t port)
{
    return sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

}  // namespace

Environment sanitizer_environment()
{
    Environment env;
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char *v = std::getenv(name))
            env[name] = v;
    return env;
}

RunResult run_command(const std::vector<std::string> &argv, const Environment &env,
                      double timeout_seconds, const std::string &stdin_data)
{
    Fd in{check(memfd_create("stdin", MFD_CLOEXEC), "memfd_create")};
    Fd out{check(memfd_create("stdout", MFD_CLOEXEC), "memfd_create")};
    Fd err{check(memfd_create("stderr", MFD_CLOEXEC), "memfd_create")};
    for (std::size_t at = 0; at < stdin_data.size();)
        at += check(pwrite(in.fd, stdin_data.data() + at, stdin_data.size() - at, at), "pwrite");
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(argv, env, in.fd, out.fd, err.fd);
    RunResult r{-1, 0, {}, {}, 0.0, !ended(pid, timeout_seconds)};
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const int status = kill_and_reap(pid);
    r.out = contents(out.fd);
    r.err = contents(err.fd);
    if (WIFEXITED(status))
        r.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.term_signal = WTERMSIG(status);
    return r;
}

TempDir::TempDir(std::string_view prefix)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/";
    pattern += std::string(prefix) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        check(-1, "mkdtemp " + pattern);
    path_ = pattern;
    std::filesystem::permissions(path_, std::filesystem::perms(0755));
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::write_file(std::string_view name, std::string_view content) const
{
    const std::filesystem::path file = path_ / name;
    if (!(std::ofstream(file, std::ios::binary) << content))
        throw std::system_error(errno, std::generic_category(), "cannot write " + file.string());
    std::filesystem::permissions(file, std::filesystem::perms(0644));
    return file;
}

Daemon::Daemon(const std::vector<std::string> &argv, const Environment &env,
               const std::filesystem::path &log_file)
    : log_(log_file)
{
    Fd in{check(open("/dev/null", O_RDONLY | O_CLOEXEC), "open /dev/null")};
    Fd log{check(open(log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644),
                 "open " + log_file.string())};
    pid_ = spawn(argv, env, in.fd, log.fd, log.fd);
}

Daemon &Daemon::operator=(Daemon &&other) noexcept
{
    std::swap(pid_, other.pid_);
    std::swap(log_, other.log_);
    return *this;
}

bool Daemon::wait_exit(double timeout_seconds) const
{
    return pid_ <= 0 || ended(pid_, timeout_seconds);
}

int Daemon::stop(double grace_seconds)
{
    if (pid_ <= 0)
        return 0;
    if (running() && kill(pid_, SIGTERM) == 0 && kill(pid_, SIGCONT) == 0)
        wait_exit(grace_seconds);
    return kill_and_reap(std::exchange(pid_, -1));
}

std::string Daemon::log_tail() const
{
    std::ifstream in(log_, std::ios::binary);
    const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return all.substr(all.size() > 4000 ? all.size() - 4000 : 0);
}

std::uint16_t free_tcp_port()
{
    Fd fd{check(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket")};
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    check(bind(fd.fd, reinterpret_cast<sockaddr *>(&addr), len), "bind 127.0.0.1:0");
    check(getsockname(fd.fd, reinterpret_cast<sockaddr *>(&addr), &len), "getsockname");
    return ntohs(addr.sin_port);
}

bool greets(std::uint16_t port, const std::string &greeting)
{
    Fd fd{check(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket")};
    const sockaddr_in addr = loopback(port);
    if (connect(fd.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        return false;
    pollfd p{fd.fd, POLLIN, 0};
    char buf[256];
    const ssize_t n = greeting.empty() || poll(&p, 1, 1000) <= 0 ? 0 : read(fd.fd, buf, 256);
    return std::string(buf, static_cast<std::size_t>(std::max(n, 0L))).rfind(greeting, 0) == 0;
}

Daemon start_server(const std::string &what, const std::function<Daemon()> &start,
                    const std::function<bool()> &ready)
{
    for (int attempt = 1;; ++attempt) {
        Daemon d = start();
        for (auto limit = Clock::now() + std::chrono::seconds(10); d.running() && Clock::now() < limit;
             std::this_thread::sleep_for(std::chrono::milliseconds(5)))
            if (ready())
                return d;
        d.stop();
        if (attempt == 3 || d.log_tail().find("Address already in use") == std::string::npos)
            throw std::runtime_error(what + " did not come up; log:\n" + d.log_tail());
    }
}

}  // namespace testsupport
