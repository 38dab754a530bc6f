#pragma once
// A bare client for the simulator tests: any bytes, cut into any pieces, on a loopback socket.

#include <chrono>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include "socket_api.h"

namespace vrl::gateway::test {

class RawClient {
public:
    explicit RawClient(std::uint16_t port) {
        started_ = api_.startup() == 0;
        socket_ = api_.open_stream(AddressFamily::IPv4);
        connected_ = socket_ != kInvalidSocket &&
                     api_.connect(socket_, ipv4_endpoint(api_.inet_addr("127.0.0.1"), host_to_net16(port)),
                                  std::chrono::seconds(5)) == 0;
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    ~RawClient() {
        if (socket_ != kInvalidSocket) {
            api_.close(socket_);
        }
        if (started_) {
            api_.cleanup();
        }
    }

    bool connected() const { return connected_; }

    // Sends all bytes in pieces of at most chunk bytes, pausing between the pieces.
    bool send(std::span<const std::uint8_t> bytes, std::size_t chunk = SIZE_MAX,
              std::chrono::milliseconds pause = std::chrono::milliseconds(0)) {
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            if (offset != 0) {
                std::this_thread::sleep_for(pause);
            }
            const std::size_t piece = std::min(chunk, bytes.size() - offset);
            const long n = api_.send(socket_, bytes.data() + offset, piece);
            if (n <= 0) {
                return false;
            }
            offset += static_cast<std::size_t>(n);
        }
        return true;
    }

    // One receive: what arrived (empty when the server closed or nothing came in time).
    std::vector<std::uint8_t> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::vector<std::uint8_t> buffer(512);
        api_.set_receive_timeout(socket_, timeout);
        const long n = api_.recv(socket_, buffer.data(), buffer.size());
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }

    // Reads until the server closes or timeout passes; true when it closed.
    bool closed_by_server(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::uint8_t sink[512];
        api_.set_receive_timeout(socket_, timeout);
        return api_.recv(socket_, sink, sizeof sink) == 0;
    }

private:
    SocketApi& api_ = system_socket_api();
    bool started_ = false;
    bool connected_ = false;
    SocketHandle socket_ = kInvalidSocket;
};

}  // namespace vrl::gateway::test
