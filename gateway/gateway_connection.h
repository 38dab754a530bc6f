#pragma once
// One component object's conversation with the gateway: start (connect and log in), submit now,
// submit at a time, query, end. Every operation runs to completion on the caller's thread and
// reports through a status code and, for the message operations, a text.
//
// Each request gets its own reply, however the network cuts it: a reply is read until it is
// whole (a NUL after the status byte, 129 bytes, or the gateway's close after at least one byte),
// or until kReplyGrace passes after its last byte; bytes beyond it, and bytes that arrive when no
// reply is awaited, are dropped before the next request goes out.

#include <cstdint>
#include <string_view>

#include "gateway_frame.h"
#include "gateway_status.h"
#include "socket_api.h"

namespace vrl::gateway {

struct GatewayResult {
    std::int32_t status;
    // Either a fixed text or a view into the connection's response buffer: valid until the next
    // operation on the same connection.
    std::string_view text;
};

class GatewayConnection {
public:
    // Called where an operation has to end the connection after a failure. The component routes
    // it through its own EndCon; by default it is end().
    using EndHook = void (*)(void* context) noexcept;

    explicit GatewayConnection(SocketApi& api = system_socket_api(),
                               GatewayTimeouts timeouts = {}) noexcept;
    GatewayConnection(const GatewayConnection&) = delete;
    GatewayConnection& operator=(const GatewayConnection&) = delete;
    // An object released without end() still closes its socket and balances the socket library.
    ~GatewayConnection();

    void set_end_hook(EndHook hook, void* context) noexcept;

    std::int32_t start(std::string_view server_ip, std::string_view server_port,
                       std::string_view user_id, std::string_view passwd) noexcept;
    GatewayResult submit(std::string_view mobile_num, std::string_view message) noexcept;
    GatewayResult submit_at(std::string_view mobile_num, std::string_view message,
                            std::string_view send_time) noexcept;
    GatewayResult query(std::string_view mobile_num, std::string_view message_id) noexcept;
    void end() noexcept;

    bool is_open() const noexcept { return socket_ != kInvalidSocket; }

    // atoi's reading of a port text, low 16 bits: optional blanks and sign, then leading digits.
    static std::uint16_t parse_port(std::string_view text) noexcept;

private:
    GatewayResult exchange(Command command, std::initializer_list<std::string_view> fields) noexcept;
    std::int32_t connect_any(const Endpoints& endpoints, SocketApi::Clock::time_point deadline) noexcept;
    bool drop_waiting() noexcept;
    bool send_request() noexcept;
    bool receive_response() noexcept;
    void run_end() noexcept;
    // A failed operation's answer, given once the connection is ended.
    template <class Result>
    Result ended(Result result) noexcept;

    SocketApi& api_;
    GatewayTimeouts timeouts_;
    EndHook end_hook_ = nullptr;
    void* end_context_ = nullptr;
    SocketHandle socket_ = kInvalidSocket;
    bool library_started_ = false;
    GatewayRequest request_;
    GatewayResponse response_;
};

}  // namespace vrl::gateway
