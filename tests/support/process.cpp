// fork/exec on memory files (no pipe a leftover process holds open) and a pidfd for the end.
#include "process.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

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

// Between fork and exec the child does only what is async-signal-safe: tests have threads.
pid_t spawn(const std::vector<std::string> &argv, const Environment &env, int in, int out, int err)
{
    std::vector<std::string> strings = argv;
    for (const auto &[key, value] : env)
        strings.push_back(key + "=" + value);
    std::vector<char *> args;
    for (auto &s : strings)
        args.push_back(s.data());
    args.insert(args.begin() + argv.size(), nullptr);
    args.push_back(nullptr);
    const pid_t parent = getpid(), pid = check(fork(), "fork");
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const sigset_t none{};
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)  // SIGPIPE above all: tests ignore it
            signal(sig, SIG_DFL);
        const int fds[3] = {in, out, err};
        for (int i = 0; i < 3; ++i)
            if (fds[i] == i ? fcntl(i, F_SETFD, 0) < 0 : dup2(fds[i], i) < 0)
                _exit(127);
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);  // a server would hold a leaked one for good
        environ = &args[argv.size() + 1];          // execvp searches the child's PATH
        if (getppid() == parent)                   // else the death signal came too early
            execvp(args[0], args.data());
        (void)!write(2, "cannot execute ", 15);
        (void)!write(2, args[0], strlen(args[0]));
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that a kill of the group right away cannot miss it
    return pid;
}

// True once the process has ended, within seconds; it stays unreaped.
bool ended(pid_t pid, double seconds)
{
    // Through syscall(): glibc 2.36's <sys/pidfd.h> lacks the C linkage C++ needs.
    Fd pidfd{static_cast<int>(syscall(SYS_pidfd_open, pid, 0))};
    pollfd p{pidfd.fd, POLLIN, 0};
    return pidfd.fd < 0 || poll(&p, 1, static_cast<int>(seconds * 1000)) > 0;
}

int kill_and_reap(pid_t pid)
{
    kill(-pid, SIGKILL);  // also whatever it left running in its group
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

std::string contents(int fd)
{
    std::string s(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
    return s.substr(0, static_cast<std::size_t>(std::max(pread(fd, s.data(), s.size(), 0), 0L)));
}

int tcp_socket(std::uint16_t port, sockaddr_in &addr)
{
    addr = sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    return check(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), "socket");
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
    check(int(pwrite(in.fd, stdin_data.data(), stdin_data.size(), 0)), "pwrite");
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawn(argv, env, in.fd, out.fd, err.fd);
    const bool timed_out = !ended(pid, timeout_seconds);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const int s = kill_and_reap(pid);
    const int code = WIFEXITED(s) ? WEXITSTATUS(s) : -1, sig = WIFSIGNALED(s) ? WTERMSIG(s) : 0;
    return {code, sig, contents(out.fd), contents(err.fd), seconds, timed_out};
}

TempDir::TempDir(std::string_view prefix)
{
    std::string name = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
    if (mkdtemp(name.data()) == nullptr)
        check(-1, "mkdtemp " + name);
    std::filesystem::permissions(path_ = name, std::filesystem::perms(0755));
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

bool Daemon::wait_exit(double seconds) const { return pid_ <= 0 || ended(pid_, seconds); }

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
    const std::string all = (std::ostringstream() << std::ifstream(log_).rdbuf()).str();
    return all.substr(all.size() > 4000 ? all.size() - 4000 : 0);
}

int listen_on_loopback(std::uint16_t &port)
{
    sockaddr_in addr;
    Fd fd{tcp_socket(0, addr)};
    socklen_t len = sizeof addr;
    auto *sa = reinterpret_cast<sockaddr *>(&addr);
    check(bind(fd.fd, sa, len), "bind 127.0.0.1:0");
    check(listen(fd.fd, 64), "listen");
    check(getsockname(fd.fd, sa, &len), "getsockname");
    port = ntohs(addr.sin_port);
    return std::exchange(fd.fd, -1);
}

std::uint16_t free_tcp_port()
{
    std::uint16_t port;
    close(listen_on_loopback(port));
    return port;
}

bool greets(std::uint16_t port, const std::string &greeting)
{
    sockaddr_in addr;
    Fd fd{tcp_socket(port, addr)};
    pollfd p{fd.fd, POLLIN, 0};
    char buf[256] = {};
    return connect(fd.fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0 &&
           (greeting.empty() || (poll(&p, 1, 1000) > 0 && read(fd.fd, buf, 255) > 0 &&
                                 std::string(buf).rfind(greeting, 0) == 0));
}

Daemon start_server(const std::string &what, const std::function<Daemon()> &start,
                    const std::function<bool()> &ready)
{
    for (int attempt = 1;; ++attempt) {
        Daemon d = start();
        for (auto limit = Clock::now() + std::chrono::seconds(10);
             d.running() && Clock::now() < limit;
             std::this_thread::sleep_for(std::chrono::milliseconds(5)))
            if (ready())
                return d;
        d.stop();
        if (attempt == 3 || d.log_tail().find("Address already in use") == std::string::npos)
            throw std::runtime_error(what + " did not come up; log:\n" + d.log_tail());
    }
}

}  // namespace testsupport
