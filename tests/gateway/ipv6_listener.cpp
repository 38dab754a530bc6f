#include "ipv6_listener.h"

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

#ifdef _WIN32
using NativeSocket = SOCKET;
#else
using NativeSocket = int;
#endif

NativeSocket native(SocketHandle handle) {
    return static_cast<NativeSocket>(handle);
}

}  // namespace

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
