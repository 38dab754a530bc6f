#include "socket_address.h"

#include <cstring>

namespace vrl::gateway {

bool to_c_string(std::string_view text, std::array<char, 256>& buffer) noexcept {
    if (text.size() >= buffer.size() || text.find('\0') != std::string_view::npos) {
        return false;
    }
    std::memcpy(buffer.data(), text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

void to_endpoints(const addrinfo* found, std::uint16_t port, Endpoints& out) noexcept {
    out.count = 0;
    for (const addrinfo* a = found; a != nullptr && out.count < out.items.size(); a = a->ai_next) {
        Endpoint e;
        e.port = port;
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in v4;
            std::memcpy(&v4, a->ai_addr, sizeof v4);
            std::memcpy(e.address.data(), &v4.sin_addr, 4);
        } else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6)) {
            sockaddr_in6 v6;
            std::memcpy(&v6, a->ai_addr, sizeof v6);
            e.family = AddressFamily::IPv6;
            std::memcpy(e.address.data(), &v6.sin6_addr, 16);
            e.scope_id = v6.sin6_scope_id;
        } else {
            continue;
        }
        out.items[out.count++] = e;
    }
}

int resolve_stream(std::string_view host, std::uint16_t port, Endpoints& out) noexcept {
    out.count = 0;
    std::array<char, 256> name{};
    if (host.empty() || !to_c_string(host, name)) {
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.data(), nullptr, &hints, &found) != 0) {
        return -1;
    }
    to_endpoints(found, port, out);
    ::freeaddrinfo(found);
    return out.count > 0 ? 0 : -1;
}

socklen_t to_sockaddr(const Endpoint& peer, sockaddr_storage& storage) noexcept {
    std::memset(&storage, 0, sizeof storage);
    if (peer.family == AddressFamily::IPv6) {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = peer.port;
        std::memcpy(&v6.sin6_addr, peer.address.data(), 16);
        v6.sin6_scope_id = peer.scope_id;
        std::memcpy(&storage, &v6, sizeof v6);
        return sizeof v6;
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = peer.port;
    std::memcpy(&v4.sin_addr, peer.address.data(), 4);
    std::memcpy(&storage, &v4, sizeof v4);
    return sizeof v4;
}

}  // namespace vrl::gateway
