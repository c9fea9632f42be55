// BindOnlyDirectory: answers each LDAP bind request with success and then
// keeps silent (see fake_ldap.hpp).
#include "fake_ldap.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace e2e {

namespace {

// Reads one BER element (tag, length, contents) from fd; false on EOF.
bool read_element(int fd, std::vector<uint8_t> &out)
{
    auto get = [fd](uint8_t *b, size_t n) {
        size_t got = 0;
        while (got < n) {
            ssize_t r = read(fd, b + got, n - got);
            if (r <= 0)
                return false;
            got += static_cast<size_t>(r);
        }
        return true;
    };
    uint8_t head[2];
    if (!get(head, 2))
        return false;
    size_t len = head[1];
    if (len & 0x80) {
        uint8_t n = len & 0x7f;
        if (n > 4)
            return false;
        uint8_t b[4];
        if (!get(b, n))
            return false;
        len = 0;
        for (uint8_t i = 0; i < n; ++i)
            len = (len << 8) | b[i];
    }
    out.resize(len);
    return get(out.data(), len);
}

}  // namespace

BindOnlyDirectory::BindOnlyDirectory()
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        throw std::runtime_error("BindOnlyDirectory: cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
}

BindOnlyDirectory::~BindOnlyDirectory()
{
    stop_ = true;
    thread_.join();
    for (int fd : clients_)
        close(fd);
    close(listen_fd_);
}

void BindOnlyDirectory::serve()
{
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        int fd = accept(listen_fd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        clients_.push_back(fd);
        // The bind request: SEQUENCE { messageID INTEGER, bindRequest ... }.
        std::vector<uint8_t> msg;
        pollfd c{fd, POLLIN, 0};
        if (poll(&c, 1, 5000) <= 0 || !read_element(fd, msg) || msg.size() < 3 || msg[0] != 0x02)
            continue;
        std::vector<uint8_t> id(msg.begin() + 2, msg.begin() + 2 + msg[1]);
        // bindResponse { resultCode success, matchedDN "", diagnosticMessage "" }
        std::vector<uint8_t> op = {0x61, 0x07, 0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
        std::vector<uint8_t> body = {0x02, static_cast<uint8_t>(id.size())};
        body.insert(body.end(), id.begin(), id.end());
        body.insert(body.end(), op.begin(), op.end());
        std::vector<uint8_t> reply = {0x30, static_cast<uint8_t>(body.size())};
        reply.insert(reply.end(), body.begin(), body.end());
        (void)!write(fd, reply.data(), reply.size());
        // Whatever comes next (the search) is read and left unanswered.
    }
}

}  // namespace e2e
