// One attempt at a time per extension on a machine. The throttle reads the
// attempt counter, then writes it: two runs in between each other's read
// and write would both pass with one count. An exclusive flock held from
// before the read until the counter is deleted (or the run ends) puts the
// attempts for one alpha host, alpha user and extension in a row.
//
// The lock file must be one no other local user can hold: a file another
// user could open would let that user block every attempt for ever. So the
// folder and the file must belong to the running user and be writable by no
// one else (the file accessible by no one else), links are not followed, and
// the file name is made of hex digits and the extension's digits only.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "dialcred.h"

namespace {

const char kDefaultDir[] = "/run/lock/dialcred";
constexpr auto kLockWait = std::chrono::seconds(60);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// The host and user come from the omega server; hex keeps any byte of them
// out of the path. Host 35, user 10 and extension 20 characters give at most
// 70 + 1 + 20 + 1 + 20 + 5 characters, within a file name's 255.
void lock_name(const char *host, const char *user, const char *extension, char *name,
               std::size_t size)
{
    static const char hex[] = "0123456789abcdef";
    std::size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 < size)
            name[n++] = c;
    };
    for (const char *p = host; *p != '\0'; ++p)
        put(hex[static_cast<unsigned char>(*p) >> 4]), put(hex[*p & 15]);
    put('-');
    for (const char *p = user; *p != '\0'; ++p)
        put(hex[static_cast<unsigned char>(*p) >> 4]), put(hex[*p & 15]);
    put('-');
    for (const char *p = extension; *p != '\0'; ++p)
        put(*p);
    for (const char *p = ".lock"; *p != '\0'; ++p)
        put(*p);
    name[n] = '\0';
}

int not_locked(const char *dir, const char *why)
{
    std::snprintf(logbuf, sizeof logbuf, "no attempt lock in %s: %s", dir, why);
    wlog(0, logbuf);
    return -1;
}

bool owned_by_us(const struct stat &st) { return st.st_uid == geteuid(); }

}  // namespace

int lock_attempts(const char *host, const char *user, const char *extension)
{
    const char *dir = std::getenv("DIALCRED_LOCKDIR");
    if (dir == nullptr || dir[0] == '\0')
        dir = kDefaultDir;
    if (mkdir(dir, 0700) != 0 && errno != EEXIST)
        return not_locked(dir, std::strerror(errno));
    int dfd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dfd < 0)
        return not_locked(dir, std::strerror(errno));
    struct stat st;
    if (fstat(dfd, &st) != 0 || !owned_by_us(st) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        close(dfd);
        return not_locked(dir, "folder of another user or writable by others");
    }
    char name[256];
    lock_name(host, user, extension, name, sizeof name);
    int fd = openat(dfd, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                    0600);
    int open_errno = errno;
    close(dfd);
    if (fd < 0)
        return not_locked(dir, std::strerror(open_errno));
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !owned_by_us(st) ||
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        close(fd);
        return not_locked(dir, "lock file of another user or open to others");
    }

    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            int e = errno;
            close(fd);
            return not_locked(dir, std::strerror(e));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            // Not counted: this attempt never reached the counter.
            wlog(1, "Der Zugriff ist blockiert, versuchen Sie es sp\xe4ter.");
            std::exit(1);
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return fd;
}

void unlock_attempts(int fd)
{
    if (fd >= 0)
        close(fd);
}
