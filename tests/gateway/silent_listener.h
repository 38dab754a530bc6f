#pragma once
// A listening socket that never accepts and whose accept queue is full, so that a further
// connect to it gets no answer at all: the network's silence, for connect time-out tests.

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

}  // namespace vrl::gateway::test
