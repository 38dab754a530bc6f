#pragma once
// The socket calls of the gateway connection, one virtual each, so that tests can make any of them
// fail or script a peer and its clock. system_socket_api() is Winsock on Windows and POSIX sockets
// elsewhere.

#include <array>
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vrl::gateway {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};  // INVALID_SOCKET, all bits set
inline constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;        // INADDR_NONE

enum class AddressFamily : std::uint8_t { IPv4, IPv6 };

// An address and port to connect to, in network order; IPv4 uses the first 4 address bytes.
struct Endpoint {
    AddressFamily family = AddressFamily::IPv4;
    std::array<std::uint8_t, 16> address{};
    std::uint16_t port = 0;
    std::uint32_t scope_id = 0;  // IPv6 zone
};

// The addresses a name resolved to, in the resolver's order. Names with more addresses than this
// are tried on the first ones only.
inline constexpr std::size_t kMaxEndpoints = 16;
struct Endpoints {
    std::array<Endpoint, kMaxEndpoints> items{};
    std::size_t count = 0;
};

// recv_waiting's answer when nothing is waiting.
inline constexpr long kNothingWaiting = -2;

class SocketApi {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~SocketApi() = default;

    // WSAStartup with version 1.1; 0 on success. Every success is matched by one cleanup().
    virtual int startup() noexcept = 0;
    virtual void cleanup() noexcept = 0;

    // The clock the time limits are counted on.
    virtual Clock::time_point now() noexcept = 0;

    // inet_addr: an IPv4 address literal in network order, or kAddressNone. No name lookup.
    virtual std::uint32_t inet_addr(std::string_view text) noexcept = 0;

    // getaddrinfo for a stream connection to host (a name or an address literal of either
    // family) and port (network order). 0 with at least one address, or -1.
    virtual int resolve(std::string_view host, std::uint16_t port, Endpoints& out) noexcept = 0;

    // socket(family, SOCK_STREAM, 0), or kInvalidSocket.
    virtual SocketHandle open_stream(AddressFamily family) noexcept = 0;

    // connect; 0 on success. Gives up once timeout (above zero) has passed, or at once when it is not.
    virtual int connect(SocketHandle socket, const Endpoint& peer, std::chrono::milliseconds timeout) noexcept = 0;

    // One send call: bytes taken, or -1 on failure.
    virtual long send(SocketHandle socket, const std::uint8_t* data, std::size_t size) noexcept = 0;

    // Bounds every later receive on the socket (timeout above zero); 0 on success. Set once per
    // connection, so that a receive costs one call and no wait of its own.
    virtual int set_receive_timeout(SocketHandle socket, std::chrono::milliseconds timeout) noexcept = 0;

    // One receive call: bytes read, 0 when the peer has closed, -1 on failure or when nothing
    // arrived within the receive time-out. A signal does not stretch that time-out.
    virtual long recv(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept = 0;

    // A receive that does not wait: bytes read, 0 when the peer has closed, kNothingWaiting, or -1
    // on failure.
    virtual long recv_waiting(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept = 0;

    // Waits at most timeout for bytes (or the peer's close) to read: 1 when there are, 0 when the
    // time passed, -1 on failure.
    virtual int wait_readable(SocketHandle socket, std::chrono::milliseconds timeout) noexcept = 0;

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

// An IPv4 endpoint from inet_addr's address and a port, both in network order.
constexpr Endpoint ipv4_endpoint(std::uint32_t address, std::uint16_t port) noexcept {
    Endpoint e;
    const auto bytes = std::bit_cast<std::array<std::uint8_t, 4>>(address);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        e.address[i] = bytes[i];
    }
    e.port = port;
    return e;
}

}  // namespace vrl::gateway
