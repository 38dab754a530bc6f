#pragma once
// A SocketApi for tests: forwards every call to the system's socket layer, counts the calls,
// remembers what it was given, and can make a chosen call fail or cut sends short. The clock is
// the system's and is not counted.

#include <array>
#include <chrono>
#include <climits>
#include <cstddef>
#include <vector>

#include "socket_api.h"

namespace vrl::gateway::test {

enum class SocketCall {
    Startup, Cleanup, InetAddr, Resolve, OpenStream, Connect, SetReceiveTimeout, Send, Recv, RecvWaiting,
    WaitReadable, ShutdownSend, Close, Count
};

class InjectingSocketApi final : public SocketApi {
public:
    // Makes the nth call (1-based, counted from now on) of that kind fail; 0 disarms it.
    void fail(SocketCall call, int nth = 1) { fail_at_[index(call)] = nth == 0 ? 0 : count(call) + nth; }

    // Each send hands at most this many bytes to the system, as a congested network would.
    void limit_send(std::size_t bytes) { send_limit_ = bytes; }

    int count(SocketCall call) const { return counts_[index(call)]; }
    int total_calls() const {
        int sum = 0;
        for (int c : counts_) {
            sum += c;
        }
        return sum;
    }

    // Every buffer given to send, and the time-outs given for the connect and the receives.
    const std::vector<const std::uint8_t*>& send_buffers() const { return send_buffers_; }
    std::chrono::milliseconds connect_timeout() const { return connect_timeout_; }
    std::chrono::milliseconds recv_timeout() const { return recv_timeout_; }
    // Every address a connect was tried on, in order.
    const std::vector<Endpoint>& connected_to() const { return connected_to_; }
    SocketHandle last_socket() const { return last_socket_; }

    int startup() noexcept override { return failing(SocketCall::Startup) ? kSysNotReady : real().startup(); }
    void cleanup() noexcept override {
        if (!failing(SocketCall::Cleanup)) {
            real().cleanup();
        }
    }
    std::uint32_t inet_addr(std::string_view text) noexcept override {
        return failing(SocketCall::InetAddr) ? kAddressNone : real().inet_addr(text);
    }
    Clock::time_point now() noexcept override { return real().now(); }
    int resolve(std::string_view host, std::uint16_t port, Endpoints& out) noexcept override {
        return failing(SocketCall::Resolve) ? -1 : real().resolve(host, port, out);
    }
    SocketHandle open_stream(AddressFamily family) noexcept override {
        last_socket_ = failing(SocketCall::OpenStream) ? kInvalidSocket : real().open_stream(family);
        return last_socket_;
    }
    int connect(SocketHandle socket, const Endpoint& peer, std::chrono::milliseconds timeout) noexcept override {
        connect_timeout_ = timeout;
        connected_to_.push_back(peer);
        return failing(SocketCall::Connect) ? -1 : real().connect(socket, peer, timeout);
    }
    long send(SocketHandle socket, const std::uint8_t* data, std::size_t size) noexcept override {
        send_buffers_.push_back(data);
        return failing(SocketCall::Send) ? -1 : real().send(socket, data, size < send_limit_ ? size : send_limit_);
    }
    int set_receive_timeout(SocketHandle socket, std::chrono::milliseconds timeout) noexcept override {
        recv_timeout_ = timeout;
        return failing(SocketCall::SetReceiveTimeout) ? -1 : real().set_receive_timeout(socket, timeout);
    }
    long recv(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        return failing(SocketCall::Recv) ? -1 : real().recv(socket, data, size);
    }
    long recv_waiting(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        return failing(SocketCall::RecvWaiting) ? -1 : real().recv_waiting(socket, data, size);
    }
    int wait_readable(SocketHandle socket, std::chrono::milliseconds timeout) noexcept override {
        return failing(SocketCall::WaitReadable) ? -1 : real().wait_readable(socket, timeout);
    }
    void shutdown_send(SocketHandle socket) noexcept override {
        if (!failing(SocketCall::ShutdownSend)) {
            real().shutdown_send(socket);
        }
    }
    void close(SocketHandle socket) noexcept override {
        if (!failing(SocketCall::Close)) {
            real().close(socket);
        }
    }

private:
    static constexpr int kSysNotReady = 10091;  // WSASYSNOTREADY
    static constexpr std::size_t kCalls = static_cast<std::size_t>(SocketCall::Count);

    static std::size_t index(SocketCall call) { return static_cast<std::size_t>(call); }
    static SocketApi& real() { return system_socket_api(); }

    bool failing(SocketCall call) {
        const int n = ++counts_[index(call)];
        return n == fail_at_[index(call)];
    }

    std::array<int, kCalls> counts_{};
    std::array<int, kCalls> fail_at_{};
    std::size_t send_limit_ = SIZE_MAX;
    std::vector<const std::uint8_t*> send_buffers_;
    std::vector<Endpoint> connected_to_;
    std::chrono::milliseconds connect_timeout_{0};
    std::chrono::milliseconds recv_timeout_{0};
    SocketHandle last_socket_ = kInvalidSocket;
};

}  // namespace vrl::gateway::test
