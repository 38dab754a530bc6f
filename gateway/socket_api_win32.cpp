// Winsock behind the gateway connection's socket layer. Beyond the calls of the protocol
// (WSAStartup 1.1 ... WSACleanup) it uses getaddrinfo to resolve names, ioctlsocket and select to
// bound the connect in time (confirmed with SO_ERROR), the SO_RCVTIMEO socket option to bound the
// receive, and select to wait for the rest of a reply or to see what is waiting.
#include "socket_api.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>

#include "socket_address.h"

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

// select on one socket for reading: 1 ready (bytes, or the peer's close), 0 time passed, -1 failure.
int select_readable(SOCKET s, milliseconds timeout) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = to_timeval(timeout);
    const int n = ::select(0, &readable, nullptr, nullptr, &tv);
    return n > 0 ? 1 : n;
}

// The platform's start count is one per process and may be unguarded (Wine's is): a start and a
// cleanup that overlap can lose a count, and a cleanup that takes it to zero closes every socket of
// the process, also one that another thread has just made after its own start. So the starts and
// cleanups of all connections in this module take turns. The lock is a slim lock initialised at
// compile time: it needs no creation, which could come after a first call, and no deletion, which
// could come before a last one (an object released after the module's termination).
constinit SRWLOCK g_library_lock = SRWLOCK_INIT;

class LibraryLockScope {
public:
    LibraryLockScope() noexcept { ::AcquireSRWLockExclusive(&g_library_lock); }
    LibraryLockScope(const LibraryLockScope&) = delete;
    LibraryLockScope& operator=(const LibraryLockScope&) = delete;
    ~LibraryLockScope() { ::ReleaseSRWLockExclusive(&g_library_lock); }
};

class WinsockSocketApi final : public SocketApi {
public:
    int startup() noexcept override {
        const LibraryLockScope turn;
        WSADATA data;
        return ::WSAStartup(MAKEWORD(1, 1), &data);
    }

    void cleanup() noexcept override {
        const LibraryLockScope turn;
        ::WSACleanup();
    }

    Clock::time_point now() noexcept override { return Clock::now(); }

    std::uint32_t inet_addr(std::string_view text) noexcept override {
        std::array<char, 256> buffer{};
        return to_c_string(text, buffer) ? ::inet_addr(buffer.data()) : kAddressNone;
    }

    int resolve(std::string_view host, std::uint16_t port, Endpoints& out) noexcept override {
        return resolve_stream(host, port, out);
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
        sockaddr_storage address;
        const socklen_t length = to_sockaddr(peer, address);
        u_long non_blocking = 1;
        if (::ioctlsocket(s, kNonBlockingIo, &non_blocking) != 0) {
            return -1;
        }
        int result = ::connect(s, reinterpret_cast<const sockaddr*>(&address), length);
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
