// POSIX sockets behind the gateway connection's socket layer (Linux builds and tests). A call that
// a signal interrupts is resumed with what is left of its time limit, never with a fresh one.
#include "socket_api.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>

#include "socket_address.h"

namespace vrl::gateway {
namespace {

using Clock = SocketApi::Clock;
using std::chrono::milliseconds;

int fd_of(SocketHandle socket) {
    return static_cast<int>(socket);
}

// Milliseconds left until deadline, rounded up so that a wait never ends early; 0 once it passed.
int left_until(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// poll for events until deadline: > 0 ready, 0 time passed, < 0 failure.
int wait_until(int fd, short events, Clock::time_point deadline) {
    pollfd p{fd, events, 0};
    int n;
    do {
        n = ::poll(&p, 1, left_until(deadline));
    } while (n < 0 && errno == EINTR);
    return n;
}

class PosixSocketApi final : public SocketApi {
public:
    int startup() noexcept override { return 0; }
    void cleanup() noexcept override {}

    Clock::time_point now() noexcept override { return Clock::now(); }

    std::uint32_t inet_addr(std::string_view text) noexcept override {
        std::array<char, 256> buffer{};
        return to_c_string(text, buffer) ? ::inet_addr(buffer.data()) : kAddressNone;
    }

    int resolve(std::string_view host, std::uint16_t port, Endpoints& out) noexcept override {
        return resolve_stream(host, port, out);
    }

    SocketHandle open_stream(AddressFamily family) noexcept override {
        const int fd = ::socket(family == AddressFamily::IPv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
    }

    int connect(SocketHandle socket, const Endpoint& peer, milliseconds timeout) noexcept override {
        if (timeout.count() <= 0) {
            return -1;
        }
        const auto deadline = Clock::now() + timeout;
        const int fd = fd_of(socket);
        sockaddr_storage address;
        const socklen_t length = to_sockaddr(peer, address);
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
            return -1;
        }
        int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
        // A non-blocking connect that a signal interrupts goes on in the background, as one in progress.
        if (result != 0 && (errno == EINPROGRESS || errno == EINTR)) {
            result = -1;
            if (wait_until(fd, POLLOUT, deadline) == 1) {
                int error = 0;
                socklen_t size = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
                    result = 0;
                }
            }
        }
        if (::fcntl(fd, F_SETFL, flags) < 0) {
            return -1;
        }
        return result == 0 ? 0 : -1;
    }

    long send(SocketHandle socket, const std::uint8_t* data, std::size_t size) noexcept override {
        ssize_t n;
        do {
            n = ::send(fd_of(socket), data, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return static_cast<long>(n);
    }

    int set_receive_timeout(SocketHandle socket, milliseconds timeout) noexcept override {
        if (timeout.count() <= 0) {
            return -1;  // 0 would mean no limit at all
        }
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        return ::setsockopt(fd_of(socket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 0 : -1;
    }

    long recv(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        const int fd = fd_of(socket);
        const auto start = Clock::now();
        ssize_t n = ::recv(fd, data, size, 0);
        if (n >= 0 || errno != EINTR) {
            return static_cast<long>(n);
        }
        // Interrupted: go on until the socket's own time-out, counted from the first call, runs out.
        timeval tv{};
        socklen_t length = sizeof tv;
        if (::getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &length) != 0) {
            return -1;
        }
        const bool unbounded = tv.tv_sec == 0 && tv.tv_usec == 0;
        const auto deadline = unbounded ? Clock::time_point::max()
                                        : start + std::chrono::seconds(tv.tv_sec) + std::chrono::microseconds(tv.tv_usec);
        for (;;) {
            const int ready = wait_until(fd, POLLIN, deadline);
            if (ready <= 0) {
                return -1;
            }
            n = ::recv(fd, data, size, MSG_DONTWAIT);
            if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                return static_cast<long>(n);
            }
        }
    }

    long recv_waiting(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        ssize_t n;
        do {
            n = ::recv(fd_of(socket), data, size, MSG_DONTWAIT);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return kNothingWaiting;
        }
        return static_cast<long>(n);
    }

    int wait_readable(SocketHandle socket, milliseconds timeout) noexcept override {
        const int n = wait_until(fd_of(socket), POLLIN, Clock::now() + std::max(timeout, milliseconds(0)));
        return n > 0 ? 1 : n;
    }

    void shutdown_send(SocketHandle socket) noexcept override { ::shutdown(fd_of(socket), SHUT_WR); }
    void close(SocketHandle socket) noexcept override { ::close(fd_of(socket)); }
};

}  // namespace

SocketApi& system_socket_api() noexcept {
    static PosixSocketApi api;
    return api;
}

}  // namespace vrl::gateway
