// An ONC RPC server that answers badly on purpose: it reads each record-marked
// call and sends back whatever bytes a test scripted for it (garbage, a cut
// record, a reply to another call, absurd lengths) or nothing at all. It stands
// in for a broken or hostile omega or alpha server, so that the client
// libraries can be shown to fail with their code, in time and in bounded
// memory, whatever a server sends.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace e2e {

using Bytes = std::vector<std::uint8_t>;

// The header fields of one call as it arrived.
struct RpcCall {
    std::uint32_t xid = 0;
    std::uint32_t prog = 0;
    std::uint32_t vers = 0;
    std::uint32_t proc = 0;
};

// What the server does once a call has arrived.
struct Answer {
    Bytes bytes;                // written as they are: record marking is the script's
    bool close_after = false;   // then the connection is closed
    double repeat_every = 0.0;  // > 0: the bytes go out again at this interval while the
                                // client keeps the connection
};
using Responder = std::function<Answer(const RpcCall &)>;

// Big-endian 32-bit words, as XDR puts them on the wire.
Bytes xdr_words(std::initializer_list<std::uint32_t> words);
Bytes &append(Bytes &to, const Bytes &more);
// The header of an accepted, successful reply to xid (no verifier); the
// results follow it.
Bytes success_header(std::uint32_t xid);
// One record: a single fragment marked as the last one, announcing
// `announced` bytes (by default exactly what follows).
Bytes record(const Bytes &payload, std::uint32_t announced = 0xffffffffu);

class HostileServer {
public:
    // Listens on 127.0.0.1 and registers itself with rpcbind (TCP, version 1)
    // under every program number given, replacing any earlier registration.
    HostileServer(std::vector<unsigned long> programs, Responder responder);
    // Unregisters, closes every connection and ends its threads.
    ~HostileServer();

    HostileServer(const HostileServer &) = delete;
    HostileServer &operator=(const HostileServer &) = delete;

    std::uint16_t port() const { return port_; }
    // Calls received so far.
    std::size_t calls() const { return calls_.load(); }

private:
    void accept_loop();
    void serve(int fd);
    // Waits until fd is readable; false when the server is stopping.
    bool wait_readable(int fd, int timeout_ms) const;

    std::vector<unsigned long> programs_;
    Responder responder_;
    int listen_fd_ = -1;
    int wake_fd_ = -1;  // eventfd: readable once the server is stopping
    std::uint16_t port_ = 0;
    std::atomic<std::size_t> calls_{0};
    // One per accepted connection; a finished one is joined and closed at
    // the next accept, so that thousands of short calls cost no more.
    struct Connection {
        explicit Connection(int f) : fd(f) {}
        int fd;
        std::thread worker;
        std::atomic<bool> done{false};
    };
    void reap_finished();  // with mutex_ held

    std::mutex mutex_;  // guards connections_
    std::list<Connection> connections_;
    std::thread acceptor_;
};

}  // namespace e2e
