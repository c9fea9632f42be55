// What dialcred guards, tried with an attacker's eye: no variant of an extension gets round the
// attempt counter, nobody else can hold its lock, the secrets stay out of the process list and
// of core files, and the login leaves the mailbox as it was.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "shared_servers.hpp"

using namespace e2e;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Locks the one file of the lock folder, as another process would; returns its descriptor.
int hold_lock(const fs::path &dir)
{
    const std::vector<fs::directory_entry> files(fs::directory_iterator(fs::canonical(dir)), {});
    EXPECT_EQ(files.size(), 1u);
    const int fd = files.empty() ? -1 : open(files[0].path().c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
}

RunResult wrong(const DevServers &s)
{
    s.alpha_control("clock =1000000\n");
    return dialcred(s, {"4711", "1234", "falsch"});
}

}  // namespace

// Before, variants of an extension routed to the same user and matched the same entry, but
// counted under a key of their own, and control characters reached the log lines. Only 1 to 20
// digits pass, before any server is asked: with the omega server gone, a call would say so.
TEST(Guard, ExtensionMustBeOneToTwentyDigits)
{
    DevServers s = servers();
    s.omega().stop();
    for (const std::string ext : {"", "123456789012345678901", "4711-", "4711\nalphad: login ok"}) {
        SCOPED_TRACE(ext);
        expect_result(dialcred(s, {ext, "1234", kPassword}), 1, kNoRoute);
        expect_result(dialcred(s, {"--stdin", ext}, "1234\n" + kPassword + "\n"), 1, kNoRoute);
    }
}

// A lock folder or file that another user owns, or that others could open or write, could be
// held by someone else for ever: it is not used, a log line says so, and the run goes on without
// waiting for the lock held on it. No log line carries a control character of the folder's name.
TEST(Guard, UntrustedLockFolderOrFileIsNotUsed)
{
    const std::string folder = "folder of another user or writable by others";
    const std::string file = "lock file of another user or open to others";
    const std::pair<std::string, std::string> cases[] = {
        {"chown nobody \"$D\"", folder},
        {"chmod 770 \"$D\"", folder},
        {"chown nobody \"$D\"/*", file},
        {"chmod 604 \"$D\"/*", file},
        {"mv \"$D\" \"$D.real\" && ln -s \"$D.real\" \"$D\"", "Not a directory"},
    };
    for (const auto &[spoil, why] : cases) {
        SCOPED_TRACE(spoil);
        DevServers s = servers();
        const fs::path dir = s.dir() / "locks";
        expect_result(wrong(s), 1, kWrongPassword);
        EXPECT_EQ(fs::status(dir).permissions(), fs::perms(0700)) << "as the first run made it";
        ASSERT_EQ(testsupport::run_command({"sh", "-c", spoil}, {{"D", dir}}, 10).exit_status, 0);
        const int held = hold_lock(dir);
        expect_result(wrong(s), 1, kWrongPassword,
                      " dialcred: no attempt lock in " + dir.string() + ": " + why + "\n");
        EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "1000002 2");
        close(held);
    }
    DevServers s = servers();
    const fs::path forged = s.dir() / "no\nalphad: login ok" / "locks";
    expect_result(
        dialcred(s, {"4711", "1234", kPassword}, "", {{"DIALCRED_LOCKDIR", forged}}), 0, "Ok",
        " dialcred: no attempt lock in " + (s.dir() / "no?alphad: login ok" / "locks").string() +
            ": No such file or directory\n");
}

// The one test that waits the whole minute.
TEST(Guard, LockHeldElsewhereEndsTheWaitAfterSixtySecondsUncounted)
{
    DevServers s = servers();
    expect_result(wrong(s), 1, kWrongPassword);
    const int held = hold_lock(s.dir() / "locks");
    const RunResult r = dialcred(s, {"4711", "1234", kPassword});
    close(held);
    expect_result(r, 1, kBlocked);
    EXPECT_TRUE(r.seconds >= 60 && r.seconds < 70) << r.seconds;
    EXPECT_EQ((s.store()[{"u4711", "T4711"}]), "1000000 1");
}

// While the throttle makes a run sleep, every local user can look at it: the process list shows
// neither the PIN nor the password, it can dump no core, and it cannot be read or attached to by
// its own user (non-dumpable: its /proc files belong to root although it runs as nobody).
TEST(Guard, SecretsAreNotInTheProcessListDuringAThrottleSleep)
{
    DevServers s = servers({{{"u4711", "T4711"}, "1000004 3"}});
    s.alpha_control("clock =1000000\n");
    const fs::path locks = s.dir() / "locks-nobody", pid_file = s.dir() / "pid";
    fs::create_directory(locks);
    ASSERT_EQ(testsupport::run_command({"chown", "nobody", locks}, {}, 10).exit_status, 0);
    const std::string as_nobody = "echo $$ >" + pid_file.string() +
                                  "; exec setpriv --reuid=nobody --regid=nogroup --clear-groups "
                                  "\"$0\" \"$@\"";
    RunResult r;
    std::thread run([&] {
        r = dialcred(s, {"4711", "9876", kPassword}, "", {{"DIALCRED_LOCKDIR", locks / "l"}},
                     {"sh", "-c", as_nobody});
    });
    std::string pid;  // written whole by one write(2), so read whole or not at all
    for (int i = 0; i < 500 && pid.empty(); ++i)
        std::this_thread::sleep_for(10ms), std::ifstream(pid_file) >> pid;
    std::this_thread::sleep_for(1s);
    const fs::path proc = "/proc/" + pid;
    std::string cmdline, limits;  // read to the end (no \x01 in them), whatever is there
    std::getline(std::ifstream(proc / "cmdline"), cmdline, '\x01');
    std::getline(std::ifstream(proc / "limits"), limits, '\x01');
    struct stat st {};
    const int stat_rc = stat((proc / "status").c_str(), &st);
    run.join();
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(cmdline.find("9876"), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find(kPassword), std::string::npos) << cmdline;
    EXPECT_NE(limits.find("Max core file size        0                    0"), std::string::npos);
    ASSERT_EQ(stat_rc, 0);
    EXPECT_EQ(st.st_uid, 0u) << "a dumpable process's /proc files belong to its user";
    expect_result(r, 0, "Ok");
    EXPECT_GE(r.seconds, 4.0) << "it slept the throttle's 4 seconds";
}

// The login proves the password without selecting a mailbox: new mail stays new.
TEST(Guard, LoginLeavesNewMailNew)
{
    const fs::path message = dovecot().deliver("mmueller", "Subject: neu\r\n\r\nHallo\r\n");
    expect_result(dialcred(servers(), {"4711", "1234", kPassword}), 0, "Ok");
    EXPECT_TRUE(fs::exists(message));
}

TEST(Guard, ValgrindFindsNothingLostOnTheSuccessPath)
{
#ifdef DIALCRED_SANITIZE
    GTEST_SKIP() << "a sanitizer build checks leaks itself";
#endif
    const RunResult r = dialcred(
        servers(), {"4711", "1234", kPassword}, "", {},
        {"valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite", "--error-exitcode=97",
         "--suppressions=" VALGRIND_SUPPRESSIONS});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "Ok");
}
