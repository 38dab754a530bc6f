#include "silent_listener.h"

#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace vrl::gateway::test {
namespace {

using std::chrono::milliseconds;

#ifdef _WIN32
using NativeSocket = SOCKET;
#else
using NativeSocket = int;
#endif

NativeSocket native(SocketHandle handle) {
    return static_cast<NativeSocket>(handle);
}

}  // namespace

SilentListener::SilentListener() {
    SocketApi& api = system_socket_api();
    started_ = api.startup() == 0;
    listener_ = api.open_stream(AddressFamily::IPv4);
    if (listener_ == kInvalidSocket) {
        return;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = api.inet_addr("127.0.0.1");
    socklen_t length = sizeof local;
    // A backlog of 0 leaves room for one or two pending connections; fill it up.
    if (::bind(native(listener_), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(native(listener_), 0) != 0 ||
        ::getsockname(native(listener_), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return;
    }
    port_ = ntohs(local.sin_port);
    for (int i = 0; i < 16 && !ready_; ++i) {
        const SocketHandle s = api.open_stream(AddressFamily::IPv4);
        if (s == kInvalidSocket) {
            return;
        }
        queued_.push_back(s);
        ready_ = api.connect(s, ipv4_endpoint(local.sin_addr.s_addr, local.sin_port), milliseconds(300)) != 0;
    }
}

SilentListener::~SilentListener() {
    SocketApi& api = system_socket_api();
    for (SocketHandle s : queued_) {
        api.close(s);
    }
    if (listener_ != kInvalidSocket) {
        api.close(listener_);
    }
    if (started_) {
        api.cleanup();
    }
}

Ipv6Listener::Ipv6Listener() {
    SocketApi& api = system_socket_api();
    started_ = api.startup() == 0;
    listener_ = api.open_stream(AddressFamily::IPv6);
    if (listener_ == kInvalidSocket) {
        return;
    }
    sockaddr_in6 local{};
    local.sin6_family = AF_INET6;
    local.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof local;
    if (::bind(native(listener_), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
        ::listen(native(listener_), 4) == 0 &&
        ::getsockname(native(listener_), reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        port_ = ntohs(local.sin6_port);
    }
}

Ipv6Listener::~Ipv6Listener() {
    SocketApi& api = system_socket_api();
    if (listener_ != kInvalidSocket) {
        api.close(listener_);
    }
    if (started_) {
        api.cleanup();
    }
}

}  // namespace vrl::gateway::test
