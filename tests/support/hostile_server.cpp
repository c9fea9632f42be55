// HostileServer: see hostile_server.hpp. One thread accepts, one thread per
// connection reads calls and sends the scripted answer, so that a client that
// stops reading a long answer holds up nobody else.
#include "hostile_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <rpc/rpcb_clnt.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <string>
#include <system_error>

namespace e2e {

namespace {

// A call is a few hundred bytes; anything bigger is not one of ours.
constexpr std::size_t kMaxCallBytes = 1 << 20;

[[noreturn]] void throw_errno(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

std::uint32_t word_at(const Bytes &b, std::size_t at)
{
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}

// Reads exactly n bytes; false on end of stream, error or stop.
bool read_exactly(int fd, std::uint8_t *to, std::size_t n,
                  const std::function<bool()> &wait)
{
    std::size_t got = 0;
    while (got < n) {
        if (!wait())
            return false;
        ssize_t r = recv(fd, to + got, n - got, 0);
        if (r == 0)
            return false;
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool write_all(int fd, const Bytes &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t w = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;  // the client went away or the server is stopping
        }
        sent += static_cast<std::size_t>(w);
    }
    return true;
}

netbuf loopback_address(sockaddr_in &addr, std::uint16_t port)
{
    addr = sockaddr_in{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return netbuf{sizeof addr, sizeof addr, &addr};
}

}  // namespace

Bytes xdr_words(std::initializer_list<std::uint32_t> words)
{
    Bytes out;
    for (std::uint32_t w : words)
        out.insert(out.end(), {static_cast<std::uint8_t>(w >> 24), static_cast<std::uint8_t>(w >> 16),
                               static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)});
    return out;
}

Bytes &append(Bytes &to, const Bytes &more)
{
    to.insert(to.end(), more.begin(), more.end());
    return to;
}

Bytes success_header(std::uint32_t xid)
{
    // xid, REPLY, MSG_ACCEPTED, verifier AUTH_NONE of length 0, SUCCESS
    return xdr_words({xid, 1, 0, 0, 0, 0});
}

Bytes record(const Bytes &payload, std::uint32_t announced)
{
    std::uint32_t length =
        announced == 0xffffffffu ? static_cast<std::uint32_t>(payload.size()) : announced;
    Bytes out = xdr_words({0x80000000u | (length & 0x7fffffffu)});
    return append(out, payload);
}

HostileServer::HostileServer(std::vector<unsigned long> programs, Responder responder)
    : programs_(std::move(programs)), responder_(std::move(responder))
{
    wake_fd_ = eventfd(0, EFD_CLOEXEC);
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (wake_fd_ < 0 || listen_fd_ < 0)
        throw_errno("hostile server socket");
    sockaddr_in addr{};
    netbuf nb = loopback_address(addr, 0);
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 64) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        throw_errno("hostile server bind");
    port_ = ntohs(addr.sin_port);
    nb = loopback_address(addr, port_);

    netconfig *nconf = getnetconfigent("tcp");
    if (nconf == nullptr)
        throw std::runtime_error("no netconfig entry for tcp");
    for (unsigned long prog : programs_) {
        rpcb_unset(prog, 1, nullptr);
        if (!rpcb_set(prog, 1, nconf, &nb)) {
            freenetconfigent(nconf);
            for (unsigned long p : programs_)
                rpcb_unset(p, 1, nullptr);
            throw std::runtime_error("rpcbind refused to register program " +
                                     std::to_string(prog));
        }
    }
    freenetconfigent(nconf);
    acceptor_ = std::thread([this] { accept_loop(); });
}

HostileServer::~HostileServer()
{
    for (unsigned long prog : programs_)
        rpcb_unset(prog, 1, nullptr);
    std::uint64_t one = 1;
    ssize_t ignored = write(wake_fd_, &one, sizeof one);
    (void)ignored;
    acceptor_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Wakes a worker blocked in send() to a client that stopped reading.
        for (Connection &c : connections_)
            shutdown(c.fd, SHUT_RDWR);
    }
    for (Connection &c : connections_) {
        c.worker.join();
        close(c.fd);
    }
    close(listen_fd_);
    close(wake_fd_);
}

bool HostileServer::wait_readable(int fd, int timeout_ms) const
{
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        int r = poll(p, 2, timeout_ms);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0 || p[1].revents != 0)
            return false;
        return p[0].revents != 0;
    }
}

void HostileServer::accept_loop()
{
    while (wait_readable(listen_fd_, -1)) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lock(mutex_);
        reap_finished();
        Connection &c = connections_.emplace_back(fd);
        c.worker = std::thread([this, &c] {
            serve(c.fd);
            c.done = true;
        });
    }
}

void HostileServer::reap_finished()
{
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (!it->done) {
            ++it;
            continue;
        }
        it->worker.join();
        close(it->fd);
        it = connections_.erase(it);
    }
}

void HostileServer::serve(int fd)
{
    auto readable = [this, fd] { return wait_readable(fd, -1); };
    for (;;) {
        // One call: fragments up to the one marked last.
        Bytes call;
        bool last = false;
        while (!last) {
            std::uint8_t mark[4];
            if (!read_exactly(fd, mark, 4, readable))
                return;
            std::uint32_t m = word_at(Bytes(mark, mark + 4), 0);
            last = (m & 0x80000000u) != 0;
            std::size_t n = m & 0x7fffffffu;
            if (call.size() + n > kMaxCallBytes)
                return;
            std::size_t at = call.size();
            call.resize(at + n);
            if (!read_exactly(fd, call.data() + at, n, readable))
                return;
        }
        if (call.size() < 24)
            return;
        RpcCall c{word_at(call, 0), word_at(call, 12), word_at(call, 16), word_at(call, 20)};
        ++calls_;
        Answer a = responder_(c);
        if (!write_all(fd, a.bytes))
            return;
        if (a.close_after) {
            shutdown(fd, SHUT_RDWR);
            return;
        }
        if (a.repeat_every > 0) {
            const int ms = static_cast<int>(std::lround(a.repeat_every * 1000));
            for (;;) {
                pollfd p[2] = {{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
                int r = poll(p, 2, ms);
                if (r < 0 && errno == EINTR)
                    continue;
                if (r != 0)  // the client left (or sent more), or the server stops
                    return;
                if (!write_all(fd, a.bytes))
                    return;
            }
        }
    }
}

}  // namespace e2e
