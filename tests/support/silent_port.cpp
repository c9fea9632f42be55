// One poll loop over the listening socket, an eventfd for shutdown, and the accepted sockets.
#include "silent_port.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

namespace testsupport {

SilentPort::SilentPort() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listen_fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 64) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
        (wake_fd_ = eventfd(0, EFD_CLOEXEC)) < 0) {
        int err = errno;
        close(listen_fd_);
        throw std::system_error(err, std::generic_category(), "silent listener");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

SilentPort::~SilentPort() {
    std::uint64_t one = 1;
    ssize_t ignored = write(wake_fd_, &one, sizeof one);
    (void)ignored;
    thread_.join();
    close(wake_fd_);
    close(listen_fd_);
}

void SilentPort::serve() {
    std::vector<pollfd> fds{{wake_fd_, POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    std::vector<int> finished;  // peers that closed; still ours until destruction
    char buf[4096];
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents != 0) {
            int c;
            while ((c = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
                fds.push_back({c, POLLIN, 0});
                ++accepted_;
            }
        }
        for (std::size_t i = 2; i < fds.size();) {
            if (fds[i].revents == 0) {
                ++i;
                continue;
            }
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                received_ += static_cast<std::size_t>(n);
                ++i;
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                ++i;
            } else {
                finished.push_back(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
        close(fds[i].fd);
    }
    for (int fd : finished) {
        close(fd);
    }
}

}  // namespace testsupport
