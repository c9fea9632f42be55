// A peer on 127.0.0.1 that accepts connections and never answers: a directory or mail server
// that hangs, so that the client's time-outs show. With answer_binds, each LDAP bind request gets
// a success and what follows (the search) nothing, so that a search waits out its own limit.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

namespace testsupport {

// Listens on a free port and returns it; the peer serves until the test process ends.
inline std::uint16_t silent_port(bool answer_binds = false)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    if (bind(listener, reinterpret_cast<sockaddr *>(&a), len) != 0 || listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        throw std::runtime_error("silent_port: cannot listen on 127.0.0.1");
    std::thread([listener, answer_binds] {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (unsigned char m[4096] = {}; poll(fds.data(), fds.size(), -1) >= 0;) {
            if (fds[0].revents != 0)
                fds.push_back({accept4(listener, nullptr, nullptr, SOCK_CLOEXEC), POLLIN, 0});
            for (pollfd &p : fds) {
                const ssize_t n = p.fd != listener && p.revents ? read(p.fd, m, sizeof m) : 1;
                if (n <= 0)
                    close(p.fd), p.fd = -1;  // poll skips it from now on
                // A bind request arrives whole: SEQUENCE { messageID INTEGER, [APPLICATION 0]
                // ... }. The answer: the same ID, bindResponse { success, "", "" }.
                const std::size_t at = m[1] < 0x80 ? 2 : 2 + (m[1] & 0x7f), op = at + 2 + m[at + 1];
                if (!answer_binds || n < 8 || op >= std::size_t(n) || m[at] != 0x02 ||
                    m[op] != 0x60)
                    continue;
                std::vector<unsigned char> r = {0x30, static_cast<unsigned char>(op - at + 9)};
                r.insert(r.end(), m + at, m + op);
                r.insert(r.end(), {0x61, 0x07, 0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00});
                (void)!write(p.fd, r.data(), r.size());
            }
        }
    }).detach();
    return ntohs(a.sin_port);
}

}  // namespace testsupport
