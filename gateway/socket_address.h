#pragma once
// Between an Endpoint and the platform's socket addresses, and the name look-up that fills
// Endpoints: one piece of code for POSIX sockets and Winsock, whose structures share their names.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <array>
#include <string_view>

#include "socket_api.h"

namespace vrl::gateway {

// The text as the C library takes it: NUL-terminated, shorter than 256 bytes, without a NUL inside.
bool to_c_string(std::string_view text, std::array<char, 256>& buffer) noexcept;

// The usable entries of a look-up's result list as endpoints on port, in the list's order, up to
// kMaxEndpoints: IPv4 and IPv6 addresses; entries of other families are passed over.
void to_endpoints(const addrinfo* found, std::uint16_t port, Endpoints& out) noexcept;

// getaddrinfo for a stream connection to host: 0 with at least one address, or -1. An empty name
// resolves to nothing (Winsock would answer with this machine's own addresses).
int resolve_stream(std::string_view host, std::uint16_t port, Endpoints& out) noexcept;

// The peer as a socket address; returns its length.
socklen_t to_sockaddr(const Endpoint& peer, sockaddr_storage& storage) noexcept;

}  // namespace vrl::gateway
