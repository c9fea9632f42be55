// Live checks of the fixtures themselves: the private servers answer the way the command will
// ask them, and the runner reports exactly what a command did, also when it hangs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dovecot.hpp"
#include "ports.hpp"
#include "process.hpp"
#include "silent_port.hpp"
#include "slapd.hpp"
#include "tempdir.hpp"

namespace ts = testsupport;
using namespace std::string_literals;

namespace {

const ts::Environment kHostEnv{{"PATH", "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"},
                               {"HOME", "/nonexistent"}};

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

int connect_loopback(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// A line-oriented client for IMAP and POP3 exchanges; a silent server makes reads give up
// after five seconds instead of hanging the test.
class LineClient {
  public:
    explicit LineClient(std::uint16_t port) : fd_(connect_loopback(port)) {
        timeval tv{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~LineClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    LineClient(const LineClient &) = delete;
    LineClient &operator=(const LineClient &) = delete;

    bool connected() const { return fd_ >= 0; }
    void send(std::string_view bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // One line without its CRLF; "" at EOF or time-out.
    std::string line() {
        std::string out;
        char c;
        while (recv(fd_, &c, 1, 0) == 1) {
            if (c == '\n') {
                if (!out.empty() && out.back() == '\r') {
                    out.pop_back();
                }
                return out;
            }
            out += c;
        }
        return out;
    }
    // Skips untagged lines and returns the one that completes command `tag`.
    std::string tagged(std::string_view tag) {
        for (;;) {
            std::string l = line();
            if (l.empty() || l.rfind(std::string(tag) + " ", 0) == 0) {
                return l;
            }
        }
    }

  private:
    int fd_;
};

// IMAP LOGIN with non-synchronizing literals, which carry any bytes.
std::string imap_login(std::string_view tag, const std::string &user, const std::string &pass) {
    return std::string(tag) + " LOGIN {" + std::to_string(user.size()) + "+}\r\n" + user + " {" +
           std::to_string(pass.size()) + "+}\r\n" + pass + "\r\n";
}

bool starts_with(const std::string &s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

// A killed process may linger as a zombie until init reaps it; that counts as gone.
bool process_alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    std::size_t close_paren = line.rfind(')');
    return close_paren != std::string::npos && close_paren + 2 < line.size() &&
           line[close_paren + 2] != 'Z';
}

ts::RunResult ldapsearch(const ts::Slapd &slapd, const std::vector<std::string> &args,
                         double timeout = 10) {
    std::vector<std::string> argv{"ldapsearch", "-x", "-LLL", "-H", slapd.url()};
    argv.insert(argv.end(), args.begin(), args.end());
    return ts::run_command(argv, kHostEnv, timeout);
}

std::string directory_ldif() {
    return ts::ldif_base() + ts::ldif_person("alice", {"1234"}) +
           ts::ldif_person("bob", {"5678", "1111"}) +
           ts::ldif_person_without_uid("Nobody Home", {"5555"}) +
           ts::ldif_person("gr\xc3\xbcn", {"4242"});  // UTF-8, as LDAP requires
}

}  // namespace

// The lookup the command makes: filter on the fax number, read uid; anonymous and as root.
TEST(Slapd, FindsUidByFaxNumberInAnonymousAndRootSearches) {
    auto started = Clock::now();
    ts::Slapd slapd({.ldif = directory_ldif()});
    RecordProperty("slapd_start_seconds", std::to_string(since(started)));

    struct Case {
        const char *fax;
        std::string expected;  // "" = no entry at all
    };
    const Case cases[] = {
        {"1234", "uid: alice\n"},
        {"1111", "uid: bob\n"},        // second value of a multi-valued number
        {"4242", "uid:: Z3LDvG4=\n"},  // non-ASCII uid comes back base64-encoded
        {"5555", "dn: cn=Nobody Home,ou=people,dc=example,dc=org\n"},
        {"9999", ""},
    };
    const std::vector<std::string> as_root{"-D", ts::Slapd::kRootDn, "-w",
                                           ts::Slapd::kRootPassword};
    for (const auto &c : cases) {
        for (bool root : {false, true}) {
            SCOPED_TRACE(std::string(c.fax) + (root ? " as root" : " anonymous"));
            std::vector<std::string> args = root ? as_root : std::vector<std::string>{};
            args.insert(args.end(),
                        {"-b", ts::Slapd::kSuffix, "facsimileTelephoneNumber="s + c.fax, "uid"});
            ts::RunResult r = ldapsearch(slapd, args);
            ASSERT_EQ(r.exit_status, 0) << r.err;
            if (c.expected.empty()) {
                EXPECT_EQ(r.out, "");
            } else {
                EXPECT_NE(r.out.find(c.expected), std::string::npos) << r.out;
            }
            if (std::string(c.fax) == "5555") {
                EXPECT_EQ(r.out.find("uid"), std::string::npos) << r.out;
            }
        }
    }
}

TEST(Slapd, EmptyBaseFindsEntriesOnlyWithDefaultSearchBase) {
    for (bool default_base : {false, true}) {
        SCOPED_TRACE(default_base ? "with defaultsearchbase" : "without");
        ts::Slapd slapd({.ldif = directory_ldif(), .default_search_base = default_base});
        ts::RunResult r =
            ldapsearch(slapd, {"-b", "", "-s", "sub", "facsimileTelephoneNumber=1234", "uid"});
        if (default_base) {
            EXPECT_EQ(r.exit_status, 0) << r.err;
            EXPECT_NE(r.out.find("uid: alice"), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.exit_status, 32) << r.err;  // No such object
            EXPECT_EQ(r.out.find("uid:"), std::string::npos) << r.out;
        }
    }
}

TEST(Slapd, PausedServerAnswersNothingUntilResumedAndStillStops) {
    ts::Slapd slapd({.ldif = directory_ldif()});
    const std::vector<std::string> search{"-b", ts::Slapd::kSuffix, "facsimileTelephoneNumber=1234",
                                          "uid"};
    slapd.pause();
    ts::RunResult hung = ldapsearch(slapd, search, 1.0);
    EXPECT_TRUE(hung.timed_out);
    EXPECT_LT(hung.seconds, 2.0);
    slapd.resume();
    ts::RunResult r = ldapsearch(slapd, search);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("uid: alice"), std::string::npos) << r.out;

    slapd.pause();  // a paused server must still stop at once
    auto t = Clock::now();
    slapd.stop();
    EXPECT_LT(since(t), 2.0);
    EXPECT_FALSE(ts::wait_for_port(slapd.port(), 0));
}

TEST(Slapd, RejectedLdifFailsWithTheLoadersMessage) {
    std::string bad =
        ts::ldif_base() + ts::ldif_entry("cn=x,ou=people,dc=example,dc=org",
                                         {{"objectClass", "inetOrgPerson"}, {"cn", "x"}});  // no sn
    try {
        ts::Slapd slapd({.ldif = bad});
        FAIL() << "started with an entry that violates the schema";
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("slapadd"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("requires attribute 'sn'"), std::string::npos)
            << e.what();
    }
}

// Passwords the command must carry byte for byte.
TEST(Dovecot, ImapLoginAcceptsEachRightPasswordAndSelectsInbox) {
    const std::map<std::string, std::string> users{
        {"alice", "secret"},
        {"bert", "gr\xfcn\xe9"},
        {"carl", "a:b c"},
        {"dora", std::string(1023, 'x')},
    };
    auto started = Clock::now();
    ts::Dovecot dovecot({.users = users});
    RecordProperty("dovecot_start_seconds", std::to_string(since(started)));

    for (const auto &[user, password] : users) {
        SCOPED_TRACE(user);
        LineClient imap(dovecot.imap_port());
        ASSERT_TRUE(imap.connected());
        EXPECT_TRUE(starts_with(imap.line(), "* OK"));
        imap.send(imap_login("a", user, password));
        EXPECT_TRUE(starts_with(imap.tagged("a"), "a OK")) << dovecot.log_tail();
        imap.send("b SELECT INBOX\r\n");
        EXPECT_TRUE(starts_with(imap.tagged("b"), "b OK")) << dovecot.log_tail();
    }
}

// Two wrong passwords in a row: without the penalty settings the second would take many seconds.
TEST(Dovecot, WrongPasswordIsRefusedWithinTwoSecondsOverImapAndPop3) {
    ts::Dovecot dovecot({.users = {{"alice", "secret"}}});
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        {
            LineClient imap(dovecot.imap_port());
            imap.line();
            auto t = Clock::now();
            imap.send(imap_login("a", "alice", "wrong"));
            EXPECT_TRUE(starts_with(imap.tagged("a"), "a NO"));
            RecordProperty("imap_wrong_password_seconds_" + std::to_string(round),
                           std::to_string(since(t)));
            EXPECT_LT(since(t), 2.0);
        }
        {
            LineClient pop3(dovecot.pop3_port());
            pop3.line();
            auto t = Clock::now();
            pop3.send("USER alice\r\n");
            EXPECT_TRUE(starts_with(pop3.line(), "+OK"));
            pop3.send("PASS wrong\r\n");
            EXPECT_TRUE(starts_with(pop3.line(), "-ERR"));
            RecordProperty("pop3_wrong_password_seconds_" + std::to_string(round),
                           std::to_string(since(t)));
            EXPECT_LT(since(t), 2.0);
        }
    }
}

TEST(Dovecot, Pop3UserPassLogsIn) {
    ts::Dovecot dovecot({.users = {{"alice", "gr\xfcn:1"}}});
    LineClient pop3(dovecot.pop3_port());
    EXPECT_TRUE(starts_with(pop3.line(), "+OK"));
    pop3.send("USER alice\r\n");
    EXPECT_TRUE(starts_with(pop3.line(), "+OK"));
    pop3.send("PASS gr\xfcn:1\r\n");
    EXPECT_TRUE(starts_with(pop3.line(), "+OK")) << dovecot.log_tail();
    pop3.send("STAT\r\n");
    EXPECT_EQ(pop3.line(), "+OK 0 0");
}

TEST(Dovecot, StopEndsTheMasterNamedInItsPidFileAndFreesThePorts) {
    ts::Dovecot dovecot({.users = {{"alice", "secret"}}});
    std::ifstream pid_file(dovecot.base_dir() / "master.pid");
    pid_t master = 0;
    pid_file >> master;
    EXPECT_EQ(master, dovecot.pid());
    auto t = Clock::now();
    dovecot.stop();
    RecordProperty("dovecot_stop_seconds", std::to_string(since(t)));
    EXPECT_FALSE(process_alive(master));
    EXPECT_FALSE(ts::wait_for_port(dovecot.imap_port(), 0));
    EXPECT_FALSE(ts::wait_for_port(dovecot.pop3_port(), 0));
}

TEST(RunCommand, CapturesStdoutAndStderrBytesExactly) {
    ts::RunResult r = ts::run_command(
        {"sh", "-c", R"(printf 'a\000b\377\374\n'; printf 'e\200\r\n' >&2; exit 3)"}, kHostEnv, 10);
    EXPECT_EQ(r.out, "a\0b\xff\xfc\n"s);
    EXPECT_EQ(r.err, "e\x80\r\n"s);
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_FALSE(r.timed_out);
}

// Both pipes full at once would deadlock a runner that reads them one after the other.
TEST(RunCommand, ReadsLargeOutputOnBothStreamsAtOnce) {
    ts::RunResult r = ts::run_command(
        {"sh", "-c", "head -c 1000000 /dev/zero >&2; head -c 1000000 /dev/zero"}, kHostEnv, 10);
    EXPECT_EQ(r.err.size(), 1000000u);
    EXPECT_EQ(r.out.size(), 1000000u);
    EXPECT_EQ(r.exit_status, 0);
}

TEST(RunCommand, FeedsStdinAndPassesExactlyTheGivenEnvironment) {
    const std::string input = "x\xff\0y\n"s + std::string(200000, 'z');
    ts::RunResult cat = ts::run_command({"cat"}, kHostEnv, 10, input);
    EXPECT_EQ(cat.out, input);

    ts::RunResult env = ts::run_command({"env"}, {{"PATH", "/usr/bin:/bin"}, {"ZED", "1"}}, 10);
    EXPECT_EQ(env.out, "PATH=/usr/bin:/bin\nZED=1\n");
}

TEST(RunCommand, ReportsExitCodeOrSignal) {
    struct Case {
        const char *script;
        int exit_status, term_signal;
    };
    for (const Case &c :
         {Case{"exit 0", 0, 0}, Case{"exit 7", 7, 0}, Case{"kill -TERM $$", -1, SIGTERM}}) {
        SCOPED_TRACE(c.script);
        ts::RunResult r = ts::run_command({"sh", "-c", c.script}, kHostEnv, 10);
        EXPECT_EQ(r.exit_status, c.exit_status);
        EXPECT_EQ(r.term_signal, c.term_signal);
        EXPECT_FALSE(r.timed_out);
    }
}

// The background sleep holds stdout open: the runner must neither wait for it nor leave it.
TEST(RunCommand, KillsTheWholeProcessGroupWhenTimeRunsOut) {
    ts::RunResult r =
        ts::run_command({"sh", "-c", "sleep 30 & echo $!; exec sleep 30"}, kHostEnv, 0.5);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.term_signal, SIGKILL);
    EXPECT_EQ(r.exit_status, -1);
    EXPECT_GE(r.seconds, 0.5);
    EXPECT_LT(r.seconds, 1.5);
    pid_t background = std::stoi(r.out);
    auto t = Clock::now();
    while (process_alive(background) && since(t) < 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(process_alive(background));
}

TEST(RunCommand, ThrowsWhenTheProgramCannotBeExecuted) {
    EXPECT_THROW(ts::run_command({"no-such-program-here"}, kHostEnv, 5), std::system_error);
}

TEST(Daemon, LogsOutputToItsFileAndIsKilledWhenItIgnoresTerm) {
    ts::TempDir dir;
    ts::Daemon daemon({"sh", "-c", "echo started; echo oops >&2; trap '' TERM; exec sleep 30"},
                      kHostEnv, dir / "log");
    auto t = Clock::now();
    while (daemon.log_tail().find("oops") == std::string::npos && since(t) < 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(daemon.log_tail(), "started\noops\n");
    EXPECT_TRUE(daemon.running());
    t = Clock::now();
    int status = daemon.stop(0.3);
    EXPECT_LT(since(t), 2.0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(daemon.pid(), -1);
}

TEST(Daemon, WaitForPortGivesUpAsSoonAsTheProcessEnds) {
    ts::TempDir dir;
    ts::Daemon daemon({"sh", "-c", "exit 1"}, kHostEnv, dir / "log");
    auto t = Clock::now();
    EXPECT_FALSE(daemon.wait_for_port(ts::free_tcp_port(), 5));
    EXPECT_LT(since(t), 1.0);
    EXPECT_FALSE(daemon.running());
    EXPECT_EQ(WEXITSTATUS(daemon.stop()), 1);
}

TEST(SilentPort, AcceptsConnectionsAndNeverAnswers) {
    ts::SilentPort silent;
    int a = connect_loopback(silent.port());
    int b = connect_loopback(silent.port());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_EQ(send(a, "hello", 5, MSG_NOSIGNAL), 5);
    pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    EXPECT_EQ(poll(fds, 2, 300), 0);  // neither data nor EOF
    EXPECT_EQ(silent.accepted(), 2u);
    EXPECT_EQ(silent.bytes_received(), 5u);
    close(a);
    close(b);
}

TEST(TempDir, IsReadableByOthersAndRemovedWithItsContents) {
    if (std::getenv("DIALCRED_KEEP_TMP") != nullptr) {
        GTEST_SKIP() << "DIALCRED_KEEP_TMP keeps every folder";
    }
    std::filesystem::path where;
    {
        ts::TempDir first("support-test");
        where = first.path();
        struct stat st {};
        ASSERT_EQ(stat(where.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u);
        std::filesystem::create_directories(where / "a" / "b");
        first.write_file("a/b/file", "data");
        ts::TempDir second = std::move(first);  // the moved-from one must not remove it
        EXPECT_TRUE(std::filesystem::exists(where / "a" / "b" / "file"));
    }
    EXPECT_FALSE(std::filesystem::exists(where));
}
