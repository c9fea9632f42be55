// An ONC RPC server that answers each call with whatever bytes a test scripted, or nothing; one
// thread per connection, so that a client that stops reading holds up nobody else.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "process.hpp"

namespace e2e {

using Bytes = std::vector<std::uint8_t>;

// Big-endian 32-bit words, as XDR puts them on the wire.
inline Bytes xdr_words(std::initializer_list<std::uint32_t> words)
{
    Bytes out;
    for (std::uint32_t w : words)
        out.insert(out.end(), {std::uint8_t(w >> 24), std::uint8_t(w >> 16), std::uint8_t(w >> 8),
                               std::uint8_t(w)});
    return out;
}

// One record of a single fragment: an accepted, successful reply to xid and its results.
inline Bytes success_record(std::uint32_t xid, const Bytes &results)
{
    Bytes out = xdr_words({0x80000000u | std::uint32_t(24 + results.size()), xid, 1, 0, 0, 0, 0});
    out.insert(out.end(), results.begin(), results.end());
    return out;
}

struct RpcCall {
    std::uint32_t xid, proc;
};

// Written once a call has arrived; then closed, or sent again at an interval while the client
// stays.
struct Answer {
    Bytes bytes;
    bool close_after = false;
    double repeat_every = 0.0;
};

class HostileServer {
public:
    // Listens on 127.0.0.1, registered with rpcbind (TCP, version 1) under every program given.
    HostileServer(std::vector<unsigned long> programs,
                  std::function<Answer(const RpcCall &)> responder)
        : programs_(std::move(programs)),
          responder_(std::move(responder)),
          listen_fd_(testsupport::listen_on_loopback(port_))
    {
        sockaddr_in addr{AF_INET, htons(port_), {htonl(INADDR_LOOPBACK)}, {}};
        netbuf nb{sizeof addr, sizeof addr, &addr};
        netconfig *tcp = getnetconfigent("tcp");
        for (unsigned long prog : programs_) {
            rpcb_unset(prog, 1, nullptr);
            if (tcp == nullptr || !rpcb_set(prog, 1, tcp, &nb))
                throw std::runtime_error("hostile server: rpcbind refused " + std::to_string(prog));
        }
        freenetconfigent(tcp);
        acceptor_ = std::thread([this] {
            for (int fd; (fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                connections_.remove_if([](Connection &c) {  // the finished ones
                    if (!c.done)
                        return false;
                    c.worker.join();
                    close(c.fd);
                    return true;
                });
                Connection &c = connections_.emplace_back(fd);
                c.worker = std::thread([this, &c] {
                    serve(c.fd);
                    shutdown(c.fd, SHUT_RDWR);  // the client sees the end at once
                    c.done = true;
                });
            }
        });
    }

    ~HostileServer()
    {
        for (unsigned long prog : programs_)
            rpcb_unset(prog, 1, nullptr);
        shutdown(listen_fd_, SHUT_RDWR);  // ends the accept
        acceptor_.join();
        for (Connection &c : connections_)
            shutdown(c.fd, SHUT_RDWR);  // ends a worker's receive, poll or send
        for (Connection &c : connections_)
            c.worker.join(), close(c.fd);
        close(listen_fd_);
    }

private:
    struct Connection {
        int fd;
        std::thread worker;
        std::atomic<bool> done{false};
    };

    void serve(int fd) const
    {
        auto word = [](const std::uint8_t *p) {
            return std::uint32_t(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
        };
        auto send_all = [fd](const Bytes &b) {
            return send(fd, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size());
        };
        for (std::uint8_t mark[4]; recv(fd, mark, 4, MSG_WAITALL) == 4;) {
            // A call is a single fragment of its 24-byte header and a few hundred bytes.
            if (word(mark) < 0x80000018u || word(mark) > 0x80100000u)
                return;
            Bytes call(word(mark) & 0x7fffffffu);
            if (recv(fd, call.data(), call.size(), MSG_WAITALL) != ssize_t(call.size()))
                return;
            const Answer a = responder_({word(&call[0]), word(&call[20])});
            if (!send_all(a.bytes) || a.close_after)
                return;
            pollfd p{fd, POLLIN, 0};  // until the client leaves (or sends more) or the server stops
            if (a.repeat_every > 0) {
                while (poll(&p, 1, int(a.repeat_every * 1000)) == 0 && send_all(a.bytes)) {
                }
                return;
            }
        }
    }

    std::vector<unsigned long> programs_;
    std::function<Answer(const RpcCall &)> responder_;
    std::uint16_t port_ = 0;
    int listen_fd_;
    std::list<Connection> connections_;  // reaped at the next accept
    std::thread acceptor_;
};

}  // namespace e2e
