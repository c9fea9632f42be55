// Free loopback ports for private server instances, so that test binaries can run side by side.
#pragma once

#include <cstdint>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0, read back, closed).
// Another process may still take it before the server binds it: callers that start a server on
// it retry with a new port when the server fails to come up.
std::uint16_t free_tcp_port();

}  // namespace testsupport
