#pragma once
// A listening socket on the IPv6 loopback address ::1 that never accepts: a connect to it completes
// (the system queues it) and nothing sent to it is ever answered. For connects over IPv6.

#include <cstdint>

#include "socket_api.h"

namespace vrl::gateway::test {

class Ipv6Listener {
public:
    Ipv6Listener();
    Ipv6Listener(const Ipv6Listener&) = delete;
    Ipv6Listener& operator=(const Ipv6Listener&) = delete;
    ~Ipv6Listener();

    // False when this machine has no IPv6 loopback to listen on.
    bool ready() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }

private:
    SocketHandle listener_ = kInvalidSocket;
    std::uint16_t port_ = 0;
    bool started_ = false;
};

}  // namespace vrl::gateway::test
