// Winsock behind the gateway connection's socket layer. Beyond the calls of the protocol
// (WSAStartup 1.1 ... WSACleanup) it uses ioctlsocket and select to bound the connect in time, and
// the SO_RCVTIMEO socket option to bound the receive.
#include "socket_api.h"

#include <winsock2.h>

#include <array>
#include <climits>
#include <cstring>

namespace vrl::gateway {
namespace {

SOCKET sock_of(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

timeval to_timeval(std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<long>(timeout.count() / 1000);
    tv.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
    return tv;
}

// FIONBIO is an unsigned constant; ioctlsocket takes it as a signed command.
const long kNonBlockingIo = static_cast<long>(FIONBIO);

int clamp_length(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

class WinsockSocketApi final : public SocketApi {
public:
    int startup() noexcept override {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(1, 1), &data);
    }

    void cleanup() noexcept override { ::WSACleanup(); }

    std::uint32_t inet_addr(std::string_view text) noexcept override {
        std::array<char, 256> buffer{};
        if (text.size() >= buffer.size()) {
            return kAddressNone;
        }
        std::memcpy(buffer.data(), text.data(), text.size());
        return ::inet_addr(buffer.data());
    }

    SocketHandle open_stream() noexcept override {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
        return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
    }

    int connect(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                std::chrono::milliseconds timeout) noexcept override {
        const SOCKET s = sock_of(socket);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = port;
        peer.sin_addr.s_addr = address;
        u_long non_blocking = 1;
        if (::ioctlsocket(s, kNonBlockingIo, &non_blocking) != 0) {
            return -1;
        }
        int result = ::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        if (result != 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval tv = to_timeval(timeout);
            result = -1;
            if (::select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(s, &writable) &&
                !FD_ISSET(s, &failed)) {
                result = 0;
            }
        }
        u_long blocking = 0;
        if (::ioctlsocket(s, kNonBlockingIo, &blocking) != 0) {
            return -1;
        }
        return result == 0 ? 0 : -1;
    }

    long send(SocketHandle socket, const std::uint8_t* data, std::size_t size) noexcept override {
        return ::send(sock_of(socket), reinterpret_cast<const char*>(data), clamp_length(size), 0);
    }

    int set_receive_timeout(SocketHandle socket, std::chrono::milliseconds timeout) noexcept override {
        const DWORD milliseconds = static_cast<DWORD>(timeout.count());
        return ::setsockopt(sock_of(socket), SOL_SOCKET, SO_RCVTIMEO,
                            reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds) == 0
                   ? 0
                   : -1;
    }

    long recv(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        return ::recv(sock_of(socket), reinterpret_cast<char*>(data), clamp_length(size), 0);
    }

    void shutdown_send(SocketHandle socket) noexcept override { ::shutdown(sock_of(socket), SD_SEND); }
    void close(SocketHandle socket) noexcept override { ::closesocket(sock_of(socket)); }
};

}  // namespace

SocketApi& system_socket_api() noexcept {
    static WinsockSocketApi api;
    return api;
}

}  // namespace vrl::gateway
