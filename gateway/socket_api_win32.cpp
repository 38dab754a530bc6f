// Winsock behind the gateway connection's socket layer. Beyond the calls of the protocol
// (WSAStartup 1.1 ... WSACleanup) it uses getaddrinfo to resolve names, ioctlsocket and select to
// bound the connect in time (confirmed with SO_ERROR), the SO_RCVTIMEO socket option to bound the
// receive, and select to wait for the rest of a reply or to see what is waiting.
#include "socket_api.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace vrl::gateway {
namespace {

using std::chrono::milliseconds;

SOCKET sock_of(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// Milliseconds as Winsock takes them: never negative, never beyond what a long or DWORD holds.
long clamp_ms(milliseconds timeout) {
    return static_cast<long>(std::clamp<milliseconds::rep>(timeout.count(), 0, LONG_MAX));
}

timeval to_timeval(milliseconds timeout) {
    const long ms = clamp_ms(timeout);
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

// FIONBIO is an unsigned constant; ioctlsocket takes it as a signed command.
const long kNonBlockingIo = static_cast<long>(FIONBIO);

int clamp_length(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

bool c_string(std::string_view text, std::array<char, 256>& buffer) {
    if (text.size() >= buffer.size() || text.find('\0') != std::string_view::npos) {
        return false;
    }
    std::memcpy(buffer.data(), text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

// select on one socket for reading: 1 ready (bytes, or the peer's close), 0 time passed, -1 failure.
int select_readable(SOCKET s, milliseconds timeout) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = to_timeval(timeout);
    const int n = ::select(0, &readable, nullptr, nullptr, &tv);
    return n > 0 ? 1 : n;
}

class WinsockSocketApi final : public SocketApi {
public:
    int startup() noexcept override {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(1, 1), &data);
    }

    void cleanup() noexcept override { ::WSACleanup(); }

    Clock::time_point now() noexcept override { return Clock::now(); }

    std::uint32_t inet_addr(std::string_view text) noexcept override {
        std::array<char, 256> buffer{};
        return c_string(text, buffer) ? ::inet_addr(buffer.data()) : kAddressNone;
    }

    int resolve(std::string_view host, std::uint16_t port, Endpoints& out) noexcept override {
        out.count = 0;
        std::array<char, 256> name{};
        // An empty name would resolve to this machine's own addresses.
        if (host.empty() || !c_string(host, name)) {
            return -1;
        }
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(name.data(), nullptr, &hints, &found) != 0) {
            return -1;
        }
        for (const addrinfo* a = found; a != nullptr && out.count < out.items.size(); a = a->ai_next) {
            Endpoint& e = out.items[out.count];
            e = {};
            e.port = port;
            if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
                sockaddr_in v4;
                std::memcpy(&v4, a->ai_addr, sizeof v4);
                std::memcpy(e.address.data(), &v4.sin_addr, 4);
                ++out.count;
            } else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6)) {
                sockaddr_in6 v6;
                std::memcpy(&v6, a->ai_addr, sizeof v6);
                e.family = AddressFamily::IPv6;
                std::memcpy(e.address.data(), &v6.sin6_addr, 16);
                e.scope_id = v6.sin6_scope_id;
                ++out.count;
            }
        }
        ::freeaddrinfo(found);
        return out.count > 0 ? 0 : -1;
    }

    SocketHandle open_stream(AddressFamily family) noexcept override {
        const SOCKET s = ::socket(family == AddressFamily::IPv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
    }

    int connect(SocketHandle socket, const Endpoint& peer, milliseconds timeout) noexcept override {
        if (timeout.count() <= 0) {
            return -1;
        }
        const SOCKET s = sock_of(socket);
        sockaddr_in v4{};
        sockaddr_in6 v6{};
        const sockaddr* address = nullptr;
        int length = 0;
        if (peer.family == AddressFamily::IPv6) {
            v6.sin6_family = AF_INET6;
            v6.sin6_port = peer.port;
            std::memcpy(&v6.sin6_addr, peer.address.data(), 16);
            v6.sin6_scope_id = peer.scope_id;
            address = reinterpret_cast<const sockaddr*>(&v6);
            length = sizeof v6;
        } else {
            v4.sin_family = AF_INET;
            v4.sin_port = peer.port;
            std::memcpy(&v4.sin_addr, peer.address.data(), 4);
            address = reinterpret_cast<const sockaddr*>(&v4);
            length = sizeof v4;
        }
        u_long non_blocking = 1;
        if (::ioctlsocket(s, kNonBlockingIo, &non_blocking) != 0) {
            return -1;
        }
        int result = ::connect(s, address, length);
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
                // Writable alone does not prove the connect succeeded: the socket's error says.
                int error = 0;
                int size = sizeof error;
                if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
                    error == 0) {
                    result = 0;
                }
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

    int set_receive_timeout(SocketHandle socket, milliseconds timeout) noexcept override {
        if (timeout.count() <= 0) {
            return -1;  // 0 would mean no limit at all
        }
        const auto ms = static_cast<DWORD>(clamp_ms(timeout));
        return ::setsockopt(sock_of(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                            sizeof ms) == 0
                   ? 0
                   : -1;
    }

    long recv(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        return ::recv(sock_of(socket), reinterpret_cast<char*>(data), clamp_length(size), 0);
    }

    long recv_waiting(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        const SOCKET s = sock_of(socket);
        const int ready = select_readable(s, milliseconds(0));
        if (ready <= 0) {
            return ready == 0 ? kNothingWaiting : -1;
        }
        return ::recv(s, reinterpret_cast<char*>(data), clamp_length(size), 0);
    }

    int wait_readable(SocketHandle socket, milliseconds timeout) noexcept override {
        return select_readable(sock_of(socket), timeout);
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
