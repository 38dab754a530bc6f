#pragma once
// The socket calls of the gateway connection, one virtual each, so that tests can make any of them
// fail. system_socket_api() is Winsock 1.1 on Windows and POSIX sockets elsewhere.

#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vrl::gateway {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};  // INVALID_SOCKET, all bits set
inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;        // INADDR_NONE

class SocketApi {
public:
    virtual ~SocketApi() = default;

    // WSAStartup with version 1.1; 0 on success. Every success is matched by one cleanup().
    virtual int startup() noexcept = 0;
    virtual void cleanup() noexcept = 0;

    // inet_addr: an IPv4 address literal in network order, or kAddressNone. No name lookup.
    virtual std::uint32_t inet_addr(std::string_view text) noexcept = 0;

    // socket(AF_INET, SOCK_STREAM, 0), or kInvalidSocket.
    virtual SocketHandle open_stream() noexcept = 0;

    // connect to address and port (both in network order); 0 on success. Gives up after timeout.
    virtual int connect(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                        std::chrono::milliseconds timeout) noexcept = 0;

    // One send call: bytes taken, or -1 on failure.
    virtual long send(SocketHandle socket, const std::uint8_t* data, std::size_t size) noexcept = 0;

    // Bounds every later receive on the socket; 0 on success. Set once per connection, so that
    // a receive costs one call and no wait of its own.
    virtual int set_receive_timeout(SocketHandle socket, std::chrono::milliseconds timeout) noexcept = 0;

    // One receive call: bytes read, 0 when the peer has closed, -1 on failure or when nothing
    // arrived within the receive time-out.
    virtual long recv(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept = 0;

    // shutdown(SD_SEND) and closesocket; results are of no interest to the caller.
    virtual void shutdown_send(SocketHandle socket) noexcept = 0;
    virtual void close(SocketHandle socket) noexcept = 0;
};

SocketApi& system_socket_api() noexcept;

// htons: network byte order of the low 16 bits.
constexpr std::uint16_t host_to_net16(std::uint32_t value) noexcept {
    const auto low = static_cast<std::uint16_t>(value & 0xFFFFu);
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::uint16_t>((low >> 8) | (low << 8));
    } else {
        return low;
    }
}

}  // namespace vrl::gateway
