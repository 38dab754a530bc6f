#pragma once
// Listening sockets that never accept. SilentListener's accept queue is full, so that a further
// connect to it gets no answer at all: the network's silence, for connect time-out tests.
// Ipv6Listener, on ::1, lets connects complete (the system queues them) and answers nothing sent
// to it: for connects over IPv6.

#include <cstdint>
#include <vector>

#include "socket_api.h"

namespace vrl::gateway::test {

class SilentListener {
public:
    SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    ~SilentListener();

    // False when the platform would not let the queue be filled.
    bool ready() const { return ready_; }
    std::uint16_t port() const { return port_; }

private:
    SocketHandle listener_ = kInvalidSocket;
    std::vector<SocketHandle> queued_;
    std::uint16_t port_ = 0;
    bool started_ = false;
    bool ready_ = false;
};

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
