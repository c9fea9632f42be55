// A directory that accepts binds and then never answers a search: the only
// way to make a real client library's search wait out its own time limit
// while the bind before it succeeds.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

namespace e2e {

class BindOnlyDirectory {
public:
    BindOnlyDirectory();
    ~BindOnlyDirectory();
    BindOnlyDirectory(const BindOnlyDirectory &) = delete;
    BindOnlyDirectory &operator=(const BindOnlyDirectory &) = delete;

    int port() const { return port_; }

private:
    void serve();

    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<int> clients_;
    std::thread thread_;
};

}  // namespace e2e
