// What dialcred guards, tried with an attacker's eye: no variant of an input
// gets round the attempt counter, no attempt goes uncounted, the secrets stay
// out of the process list and of core files, log lines cannot be forged, the
// login leaves the mailbox as it was, and TLS is there when asked for. The
// command runs as a separate process against slapd, a dovecot that offers
// TLS (STARTTLS and imaps, self-signed), and the development servers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "devservers.hpp"
#include "process.hpp"
#include "shared_servers.hpp"
#include "silent_port.hpp"

using e2e::DevServers;
using testsupport::RunResult;
namespace fs = std::filesystem;

namespace {

using Usrconf = std::map<std::pair<std::string, std::string>, std::string>;

const std::string kUsage = "Sie m\xfcssen alle drei Felder ausf\xfcllen.\n";
const std::string kNoRoute = "Die Durchwahl ist unbekannt (route).\n\n";
const std::string kWrongPassword = "Das Passwort ist f\xfcr diese Durchwahl ung\xfcltig.\n\n";
const std::string kBlocked = "Der Zugriff ist blockiert, versuchen Sie es sp\xe4ter.\n";
const std::string kPinTooLong = "Der Pincode ist zu lang.\n";
const std::string kPasswordTooLong = "Das Passwort ist zu lang.\n";
const std::string kPassword = "Geheim42";
const std::string kLong = "12345678901234567890";  // 20 digits, routed on its first 10

std::string directory_entries()
{
    using namespace testsupport;
    return ldif_base() + ldif_person("mmueller", {"4711"}) + ldif_person("lang", {kLong});
}

testsupport::DovecotOptions mailboxes()
{
    testsupport::DovecotOptions o{{{"mmueller", kPassword}, {"lang", kPassword}}};
    o.tls = true;
    return o;
}

const auto *const g_env = ::testing::AddGlobalTestEnvironment(
    new e2e::DirectoryAndMail(directory_entries, mailboxes));

Usrconf settings(const std::string &user)
{
    return {{{user, "GD_IMH"}, "127.0.0.1:" + std::to_string(e2e::dovecot().imap_port())},
            {{user, "GD_LDH"}, "127.0.0.1"},
            {{user, "GD_LDPRT"}, std::to_string(e2e::slapd().port())},
            {{user, "GD_LDBAS"}, testsupport::Slapd::kSuffix}};
}

DevServers servers(const Usrconf &extra = {}, bool old_alpha = false)
{
    Usrconf usrconf = settings("u4711");
    Usrconf more = settings("ulong");
    usrconf.insert(more.begin(), more.end());
    for (const auto &[k, v] : extra)
        usrconf[k] = v;
    return DevServers({{"4711", "127.0.0.1", "u4711"}, {kLong.substr(0, 10), "127.0.0.1", "ulong"}},
                      {{"PINLENMIN", "4"}}, usrconf, old_alpha);
}

RunResult dialcred(const DevServers &s, const std::vector<std::string> &args,
                   const std::string &input = "", testsupport::Environment env = {},
                   const std::vector<std::string> &prefix = {})
{
    std::vector<std::string> argv = prefix;
    argv.push_back(DIALCRED_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    testsupport::Environment all = s.environment();
    for (const auto &[k, v] : env)
        all[k] = v;
    return testsupport::run_command(argv, all, 120, input);
}

void expect_result(const RunResult &r, int status, const std::string &out,
                   const std::string &err = "")
{
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(r.exit_status, status);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
}

fs::path lock_dir(const DevServers &s) { return s.dir() / "locks"; }

// Holds an exclusive lock on every file of a folder, as another process
// that got there first would.
class LocksHeld {
public:
    explicit LocksHeld(const fs::path &dir)
    {
        for (const auto &e : fs::directory_iterator(dir)) {
            int fd = open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
                fds_.push_back(fd);
        }
    }
    ~LocksHeld()
    {
        for (int fd : fds_)
            close(fd);
    }
    std::size_t count() const { return fds_.size(); }

private:
    std::vector<int> fds_;
};

const passwd &nobody()
{
    static const passwd *pw = getpwnam("nobody");
    if (pw == nullptr)
        throw std::runtime_error("no user nobody");
    return *pw;
}

// The pid of our child running the command, once it has been executed.
pid_t running_command()
{
    for (int i = 0; i < 500; ++i) {
        for (const auto &e : fs::directory_iterator("/proc")) {
            const std::string name = e.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::ifstream stat(e.path() / "stat");
            std::string line;
            std::getline(stat, line);
            const std::size_t end = line.rfind(") ");
            if (end == std::string::npos)
                continue;  // gone meanwhile
            std::istringstream rest(line.substr(end + 2));
            char state;
            pid_t ppid = 0;
            rest >> state >> ppid;
            std::error_code ec;
            if (ppid == getpid() && fs::equivalent(e.path() / "exe", DIALCRED_BINARY, ec))
                return std::stoi(name);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::string read_all(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// Variants of an extension route to the same user and match the same entry,
// but would count under a key of their own; control characters would reach
// the log lines. Only 1 to 20 digits pass, before any server is asked: with
// the omega server gone, a server call would say so.
TEST(Guard, ExtensionMustBeOneToTwentyDigits)
{
    DevServers s = servers({{{"u4711", "T4711"}, "5 3"}});
    const auto before = s.store();
    s.omega().stop();
    for (const std::string &ext : {std::string("4711-"), std::string("4711 "), std::string(" 4711"),
                                   std::string("+4711"), std::string(""), kLong + "1",
                                   std::string("4711\nalphad: login ok"), std::string("\xd9\xa4")}) {
        SCOPED_TRACE(ext);
        expect_result(dialcred(s, {ext, "1234", kPassword}), 1, kNoRoute);
        expect_result(dialcred(s, {"--stdin", ext}, "1234\n" + kPassword + "\n"), 1, kNoRoute);
    }
    // The premise: a valid extension does ask the omega server.
    expect_result(dialcred(s, {"4711", "1234", kPassword}), 1,
                  "internal error: o_apply_route returns error EC_1\n\n");
    EXPECT_EQ(s.store(), before);
    EXPECT_TRUE(s.event_log().empty());
}

TEST(Guard, TwentyDigitExtensionCountsAndStoresUnderItsWholeKey)
{
    DevServers s = servers();
    s.alpha_control("clock =1000000\n");
    expect_result(dialcred(s, {kLong, "1234", "falsch"}), 1, kWrongPassword);
    EXPECT_EQ((s.store()[{"ulong", "T" + kLong}]), "1000000 1");
    expect_result(dialcred(s, {kLong, "1234", kPassword}), 0, "Ok");
    auto store = s.store();
    EXPECT_EQ(store.count({"ulong", "T" + kLong}), 0u);
    EXPECT_EQ(e2e::decoded_password("1234", store[{"ulong", "t" + kLong}]), kPassword);
}

// A PIN or a password that cannot make a keypad code is refused before the
// counter is read or written, and before the directory or the mail server
// hears of it: no free password test, no reset of the throttle.
TEST(Guard, LengthChecksComeBeforeTheCounterTheDirectoryAndTheMailServer)
{
    struct Case {
        std::string pin, password, out;
    };
    const Case cases[] = {
        {std::string(76, '1'), kPassword, kPinTooLong},
        {"1234", std::string(39, 'q'), kPasswordTooLong},
        {"1234", std::string(20, '\xe9'), kPasswordTooLong},  // 80 digits, 83 characters
        {"1234", std::string(5000, 'q'), kPasswordTooLong},
    };
    testsupport::SilentPort directory, mail;
    DevServers s = servers({{{"u4711", "T4711"}, "5 3"},
                            {{"u4711", "GD_LDPRT"}, std::to_string(directory.port())},
                            {{"u4711", "GD_IMH"}, "127.0.0.1:" + std::to_string(mail.port())}});
    const auto before = s.store();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.password.substr(0, 10));
        expect_result(dialcred(s, {"4711", c.pin, c.password}), 1, c.out);
    }
    EXPECT_EQ(s.store(), before);
    EXPECT_EQ(directory.accepted(), 0u);
    EXPECT_EQ(mail.accepted(), 0u);
}

// Runs started at once for one extension take their turns: each one that
// reached the mail server is counted. At a clock just below 2^32 every
// unlock time wraps round, so no run sleeps.
TEST(Guard, ParallelWrongPasswordsAreEachCounted)
{
    constexpr int kRuns = 4;
    DevServers s = servers();
    s.alpha_control("clock =4294967295\n");
    std::vector<RunResult> results(kRuns);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRuns; ++i)
        threads.emplace_back([&, i] { results[i] = dialcred(s, {"4711", "1234", "falsch"}); });
    for (std::thread &t : threads)
        t.join();
    for (const RunResult &r : results)
        expect_result(r, 1, kWrongPassword);
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "7 4");
    EXPECT_EQ(fs::status(lock_dir(s)).permissions(), fs::perms::owner_all)
        << "the first run made the lock folder 0700";
}

// A lock folder or file that another user owns, or that others could open
// or write, could be held by someone else for ever: it is not used, the run
// says so in a log line and goes on, with no wait for the lock held on it.
// A log line carries no control character, whatever the folder's name.
TEST(Guard, UntrustedLockFolderOrFileIsNotUsed)
{
    const uid_t other = nobody().pw_uid;
    struct Case {
        const char *what;
        std::function<void(const fs::path &dir)> spoil;
        std::string why;
    };
    const std::string folder = "folder of another user or writable by others";
    const std::string file = "lock file of another user or open to others";
    auto each_file = [](const fs::path &dir, const std::function<void(const fs::path &)> &f) {
        for (const auto &e : fs::directory_iterator(dir))
            f(e.path());
    };
    const Case cases[] = {
        {"folder of another user", [&](const fs::path &d) { ASSERT_EQ(chown(d.c_str(), other, -1), 0); },
         folder},
        {"folder writable by its group",
         [](const fs::path &d) { fs::permissions(d, fs::perms(0770)); }, folder},
        {"folder writable by all", [](const fs::path &d) { fs::permissions(d, fs::perms(01777)); },
         folder},
        {"file of another user",
         [&](const fs::path &d) {
             each_file(d, [&](const fs::path &f) { ASSERT_EQ(chown(f.c_str(), other, -1), 0); });
         },
         file},
        {"file readable by others",
         [&](const fs::path &d) {
             each_file(d, [](const fs::path &f) { fs::permissions(f, fs::perms(0604)); });
         },
         file},
        {"folder is a link to a good one",
         [](const fs::path &d) {
             fs::rename(d, d.string() + ".real");
             fs::create_directory_symlink(d.string() + ".real", d);
         },
         "Not a directory"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DevServers s = servers();
        const fs::path dir = lock_dir(s);
        s.alpha_control("clock =1000000\n");
        expect_result(dialcred(s, {"4711", "1234", "falsch"}), 1, kWrongPassword);
        c.spoil(dir);
        LocksHeld held(fs::canonical(dir));
        ASSERT_EQ(held.count(), 1u);
        RunResult r = dialcred(s, {"4711", "1234", "falsch"});
        const std::string notice = "dialcred: no attempt lock in " + dir.string() + ": " + c.why;
        expect_result(r, 1, kWrongPassword, " " + notice + "\n");
        EXPECT_LT(r.seconds, 10.0);
        EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "1000002 2");
    }

    DevServers s = servers();
    const std::string forged = (s.dir() / "no\nalphad: login ok" / "locks").string();
    RunResult r = dialcred(s, {"4711", "1234", kPassword}, "", {{"DIALCRED_LOCKDIR", forged}});
    const std::string line = "dialcred: no attempt lock in " +
                             (s.dir() / "no?alphad: login ok" / "locks").string() +
                             ": No such file or directory";
    expect_result(r, 0, "Ok", " " + line + "\n");
    for (const std::string &logged : s.event_log())
        EXPECT_EQ(logged.find_first_of("\n\r"), std::string::npos);
}

// The one test that waits the whole minute.
TEST(Guard, LockHeldElsewhereEndsTheWaitAfterSixtySecondsUncounted)
{
    DevServers s = servers();
    s.alpha_control("clock =1000000\n");
    expect_result(dialcred(s, {"4711", "1234", "falsch"}), 1, kWrongPassword);
    LocksHeld held(lock_dir(s));
    ASSERT_EQ(held.count(), 1u);
    RunResult r = dialcred(s, {"4711", "1234", kPassword});
    expect_result(r, 1, kBlocked);
    EXPECT_GE(r.seconds, 60.0);
    EXPECT_LT(r.seconds, 70.0);
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "1000000 1");
}

// An old-generation alpha server cannot read "T" + 10 digits (code 24): such
// a counter could never hold an attempt, so the attempt is refused before
// anything is written or any other server is asked.
TEST(Guard, OldGenerationServerThatCannotHoldTheCounterRefusesTheAttempt)
{
    testsupport::SilentPort directory, mail;
    DevServers s = servers({{{"ulong", "GD_LDPRT"}, std::to_string(directory.port())},
                            {{"ulong", "GD_IMH"}, "127.0.0.1:" + std::to_string(mail.port())}},
                           /*old_alpha=*/true);
    const auto before = s.store();
    expect_result(dialcred(s, {kLong.substr(0, 10), "1234", kPassword}), 1,
                  "internal error: a_get_usrconf_lib returns EC_24\n\n");
    EXPECT_EQ(s.store(), before);
    EXPECT_EQ(directory.accepted() + mail.accepted(), 0u);
}

// While the throttle makes a run sleep, every local user can look at it:
// the process list shows neither the PIN nor the password, the process can
// dump no core, and it cannot be attached to or read by its own user
// (non-dumpable: its /proc files belong to root although it runs as nobody).
TEST(Guard, SecretsAreNotInTheProcessListDuringAThrottleSleep)
{
    DevServers s = servers({{{"u4711", "T4711"}, "1000004 3"}});
    s.alpha_control("clock =1000000\n");
    const fs::path locks = s.dir() / "locks-nobody";
    fs::create_directory(locks);
    ASSERT_EQ(chown(locks.c_str(), nobody().pw_uid, nobody().pw_gid), 0);
    const std::string pin = "9876", password = "Geheim42";
    RunResult r;
    std::thread run([&] {
        r = dialcred(s, {"4711", pin, password}, "", {{"DIALCRED_LOCKDIR", (locks / "l").string()}},
                     {"setpriv", "--reuid=" + std::to_string(nobody().pw_uid),
                      "--regid=" + std::to_string(nobody().pw_gid), "--clear-groups"});
    });
    const pid_t pid = running_command();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const fs::path proc = "/proc/" + std::to_string(pid);
    const std::string cmdline = read_all(proc / "cmdline");
    const std::string limits = read_all(proc / "limits");
    struct stat st {};
    const int stat_rc = stat((proc / "status").c_str(), &st);
    run.join();
    ASSERT_GT(pid, 0);

    EXPECT_EQ(cmdline.find(pin), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find(password), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.substr(0, cmdline.find('\0', cmdline.find('\0') + 1)),
              std::string(DIALCRED_BINARY) + '\0' + "4711");
    EXPECT_NE(limits.find("Max core file size        0                    0"), std::string::npos)
        << limits;
    ASSERT_EQ(stat_rc, 0);
    EXPECT_EQ(st.st_uid, 0u) << "a dumpable process's /proc files belong to its user";
    expect_result(r, 0, "Ok");
    EXPECT_GE(r.seconds, 4.0) << "it slept the throttle's 4 seconds";
}

// --stdin: the PIN on the first line, the password on the second, so that
// neither is ever in the argument vector.
TEST(Guard, StdinGivesThePinAndThePassword)
{
    struct Case {
        std::string extension, input;
        int status;
        std::string out;
    };
    // 9999 has no route: a line over 1,024 bytes is refused before that is
    // asked, one of 1,024 bytes is not.
    const Case cases[] = {
        {"4711", "1234\n" + kPassword + "\n", 0, "Ok"},
        {"4711", "1234\r\n" + kPassword + "\r\n", 0, "Ok"},
        {"4711", "1234\n" + kPassword, 0, "Ok"},
        {"4711", "1234\nfalsch\n", 1, kWrongPassword},
        {"4711", "1234\r\n", 0, kUsage},
        {"4711", "", 0, kUsage},
        {"9999", std::string(1025, '1') + "\n" + kPassword + "\n", 1, kPinTooLong},
        {"9999", "1234\n" + std::string(1025, 'q') + "\n", 1, kPasswordTooLong},
        {"9999", "1234\n" + std::string(1024, 'q') + "\r\n", 1, kNoRoute},
    };
    DevServers s = servers();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input.substr(0, 20));
        expect_result(dialcred(s, {"--stdin", c.extension}, c.input), c.status, c.out);
        if (c.out == "Ok") {
            EXPECT_EQ(e2e::decoded_password("1234", s.store()[{"u4711", "t4711"}]), kPassword);
        }
    }
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"--stdin"}, {"4711", "--stdin"}})
        expect_result(dialcred(s, args, "1234\n" + kPassword + "\n"), 0, kUsage);
}

// The login proves the password without selecting a mailbox: new mail stays
// new for the user's own mail client.
TEST(Guard, LoginLeavesNewMailNew)
{
    const fs::path message = e2e::dovecot().deliver("mmueller", "Subject: neu\r\n\r\nHallo\r\n");
    DevServers s = servers();
    expect_result(dialcred(s, {"4711", "1234", kPassword}), 0, "Ok");
    EXPECT_TRUE(fs::exists(message));
}

// TLS when the mailbox specification asks for it, with the certificate
// checked unless it says otherwise; a mailbox name that asks for nothing
// stays a plain login, also against a server that offers STARTTLS.
TEST(Guard, TlsOnRequest)
{
    const std::string imaps = std::to_string(e2e::dovecot().imaps_port());
    const std::string imap = std::to_string(e2e::dovecot().imap_port());
    struct Case {
        std::string imh;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {"{127.0.0.1:" + imaps + "/imap/ssl/novalidate-cert}", 0, "Ok"},
        {"{127.0.0.1:" + imaps + "/imap/ssl}", 1, kWrongPassword},
        {"{127.0.0.1:" + imap + "/imap/tls/novalidate-cert}", 0, "Ok"},
        {"{127.0.0.1:" + imap + "/imap/tls}", 1, kWrongPassword},

        {"{127.0.0.1:" + imap + "}", 0, "Ok"},
        {"127.0.0.1:" + imap, 0, "Ok"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.imh);
        DevServers s = servers({{{"u4711", "GD_IMH"}, c.imh}});
        expect_result(dialcred(s, {"4711", "1234", kPassword}), c.status, c.out);
    }
}

TEST(Guard, ValgrindFindsNothingLostOnTheSuccessPath)
{
#ifdef DIALCRED_SANITIZE
    GTEST_SKIP() << "a sanitizer build checks leaks itself";
#endif
    DevServers s = servers();
    RunResult r = dialcred(s, {"4711", "1234", kPassword}, "", {},
                           {"valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite",
                            "--error-exitcode=97", "--suppressions=" VALGRIND_SUPPRESSIONS});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "Ok");
}
