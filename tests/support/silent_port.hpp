// A peer that accepts connections and then never says anything: stands in for a directory or
// mail server that hangs, to prove that the client's time-outs work.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace testsupport {

class SilentPort {
  public:
    // Listens on a free port of 127.0.0.1; a background thread accepts every connection, reads
    // and discards what arrives, never writes, and keeps each connection open until destruction.
    SilentPort();
    ~SilentPort();

    SilentPort(const SilentPort &) = delete;
    SilentPort &operator=(const SilentPort &) = delete;

    std::uint16_t port() const { return port_; }
    std::size_t accepted() const { return accepted_.load(); }
    std::size_t bytes_received() const { return received_.load(); }

  private:
    void serve();

    int listen_fd_ = -1;
    int wake_fd_ = -1;  // eventfd that tells the thread to finish
    std::uint16_t port_ = 0;
    std::atomic<std::size_t> accepted_{0};
    std::atomic<std::size_t> received_{0};
    std::thread thread_;
};

}  // namespace testsupport
