// POSIX sockets behind the gateway connection's socket layer (Linux builds and tests).
#include "socket_api.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace vrl::gateway {
namespace {

int fd_of(SocketHandle socket) {
    return static_cast<int>(socket);
}

int wait_for(int fd, short events, std::chrono::milliseconds timeout) {
    pollfd p{fd, events, 0};
    int n;
    do {
        n = ::poll(&p, 1, static_cast<int>(timeout.count()));
    } while (n < 0 && errno == EINTR);
    return n;
}

class PosixSocketApi final : public SocketApi {
public:
    int startup() noexcept override { return 0; }
    void cleanup() noexcept override {}

    std::uint32_t inet_addr(std::string_view text) noexcept override {
        std::array<char, 256> buffer{};
        if (text.size() >= buffer.size()) {
            return kAddressNone;
        }
        std::memcpy(buffer.data(), text.data(), text.size());
        return ::inet_addr(buffer.data());
    }

    SocketHandle open_stream() noexcept override {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
    }

    int connect(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                std::chrono::milliseconds timeout) noexcept override {
        const int fd = fd_of(socket);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = port;
        peer.sin_addr.s_addr = address;
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
            return -1;
        }
        int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        if (result != 0 && errno == EINPROGRESS) {
            result = -1;
            if (wait_for(fd, POLLOUT, timeout) == 1) {
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
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
        return static_cast<long>(::send(fd_of(socket), data, size, MSG_NOSIGNAL));
    }

    int set_receive_timeout(SocketHandle socket, std::chrono::milliseconds timeout) noexcept override {
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        return ::setsockopt(fd_of(socket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 0 : -1;
    }

    long recv(SocketHandle socket, std::uint8_t* data, std::size_t size) noexcept override {
        const int fd = fd_of(socket);
        ssize_t n;
        do {
            n = ::recv(fd, data, size, 0);
        } while (n < 0 && errno == EINTR);
        return static_cast<long>(n);
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
