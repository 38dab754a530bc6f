#include "gateway_connection.h"

#include <algorithm>
#include <chrono>

namespace vrl::gateway {

GatewayConnection::GatewayConnection(SocketApi& api, GatewayTimeouts timeouts) noexcept
    : api_(api), timeouts_(timeouts) {}

GatewayConnection::~GatewayConnection() {
    end();
}

void GatewayConnection::set_end_hook(EndHook hook, void* context) noexcept {
    end_hook_ = hook;
    end_context_ = context;
}

template <class Result>
Result GatewayConnection::ended(Result result) noexcept {
    run_end();
    return result;
}

std::uint16_t GatewayConnection::parse_port(std::string_view text) noexcept {
    std::size_t i = 0;
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && blank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Wrapping arithmetic, as the classic runtime's atoi accumulates; only the low 16 bits count.
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return host_to_net16(value);
}

std::int32_t GatewayConnection::start(std::string_view server_ip, std::string_view server_port,
                                      std::string_view user_id, std::string_view passwd) noexcept {
    // A login that cannot be framed is refused before the network is touched.
    if (body_length({user_id, passwd}) > kBodyCapacity) {
        return kStatusRequestTooLong;
    }
    if (timeouts_.connect.count() <= 0 || timeouts_.receive.count() <= 0) {
        return kStatusConnect;
    }
    // A connection still open is ended, not forgotten: its socket and library start would leak.
    if (is_open() || library_started_) {
        run_end();
    }
    socket_ = kInvalidSocket;
    const std::uint16_t port = parse_port(server_port);
    const std::uint32_t address = api_.inet_addr(server_ip);

    if (api_.startup() != 0) {
        return kStatusSocketLibrary;
    }
    library_started_ = true;

    const auto deadline = api_.now() + timeouts_.connect;
    Endpoints endpoints;
    if (address != kAddressNone) {
        // A dotted IPv4 address is used as it is, without a look-up.
        endpoints.items[0] = ipv4_endpoint(address, port);
        endpoints.count = 1;
    } else if (api_.resolve(server_ip, port, endpoints) != 0) {
        return ended(kStatusConnect);
    }
    const std::int32_t connected = connect_any(endpoints, deadline);
    if (connected != 0) {
        return ended(connected);
    }
    if (api_.set_receive_timeout(socket_, timeouts_.receive) != 0) {
        return ended(kStatusConnect);
    }
    build_request(request_, Command::Login, {user_id, passwd});
    if (!send_request()) {
        return ended(kStatusSend);
    }
    if (!receive_response()) {
        return ended(kStatusReceive);
    }
    return response_status(response_);
}

// Tries the addresses in order until one connects, all before the deadline. An address whose
// family has no sockets here is passed over; only when none had a socket is that the failure.
std::int32_t GatewayConnection::connect_any(const Endpoints& endpoints,
                                            SocketApi::Clock::time_point deadline) noexcept {
    bool had_socket = false;
    for (std::size_t i = 0; i < endpoints.count; ++i) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - api_.now());
        if (left.count() <= 0) {
            break;
        }
        const SocketHandle s = api_.open_stream(endpoints.items[i].family);
        if (s == kInvalidSocket) {
            continue;
        }
        had_socket = true;
        if (api_.connect(s, endpoints.items[i], left) == 0) {
            socket_ = s;
            return 0;
        }
        api_.close(s);
    }
    return had_socket ? kStatusConnect : kStatusSocketCreate;
}

GatewayResult GatewayConnection::submit(std::string_view mobile_num, std::string_view message) noexcept {
    if (message.size() > kMaxMessageBytes) {
        return {kStatusMessageTooLong, kTextMessageTooLong};
    }
    return exchange(Command::Submit, {mobile_num, message, kMarkerNow});
}

GatewayResult GatewayConnection::submit_at(std::string_view mobile_num, std::string_view message,
                                           std::string_view send_time) noexcept {
    if (message.size() > kMaxMessageBytes) {
        return {kStatusMessageTooLong, kTextMessageTooLong};
    }
    return exchange(Command::Submit, {mobile_num, message, kMarkerAt, send_time});
}

GatewayResult GatewayConnection::query(std::string_view mobile_num, std::string_view message_id) noexcept {
    return exchange(Command::Query, {mobile_num, message_id});
}

GatewayResult GatewayConnection::exchange(Command command,
                                          std::initializer_list<std::string_view> fields) noexcept {
    if (!build_request(request_, command, fields)) {
        return {kStatusRequestTooLong, kTextRequestTooLong};
    }
    // Whatever waits unasked is no reply to this request; a gateway that has closed gets none.
    if (!drop_waiting() || !send_request()) {
        return ended(GatewayResult{kStatusSend, kTextSendError});
    }
    if (!receive_response()) {
        return ended(GatewayResult{kStatusReceive, kTextReceiveError});
    }
    return {response_status(response_), response_text(response_)};
}

bool GatewayConnection::drop_waiting() noexcept {
    if (socket_ == kInvalidSocket) {
        return false;
    }
    for (std::size_t dropped = 0; dropped <= kMaxDroppedBytes;) {
        const long n = api_.recv_waiting(socket_, response_.bytes.data(), response_.bytes.size());
        if (n == kNothingWaiting) {
            return true;
        }
        if (n <= 0) {
            return false;  // closed by the gateway, or broken
        }
        dropped += static_cast<std::size_t>(n);
    }
    return false;
}

bool GatewayConnection::send_request() noexcept {
    bool sent = socket_ != kInvalidSocket;
    std::size_t offset = 0;
    // A partial send is resumed; a failed call ends the attempt, and so does a call that takes
    // nothing, which would otherwise repeat for ever.
    while (sent && offset < request_.bytes.size()) {
        const long n = api_.send(socket_, request_.bytes.data() + offset, request_.bytes.size() - offset);
        if (n <= 0) {
            sent = false;
        } else {
            offset += static_cast<std::size_t>(n);
        }
    }
    // The login request holds the user name and password: they do not outlive the send.
    secure_clear(request_.bytes.data(), request_.bytes.size());
    return sent;
}

bool GatewayConnection::receive_response() noexcept {
    response_.bytes.fill(0);
    std::uint8_t* const data = response_.bytes.data();
    const std::size_t size = response_.bytes.size();
    const auto deadline = api_.now() + timeouts_.receive;
    // The first call waits up to the socket's receive time-out; nothing at all is a failure.
    const long first = api_.recv(socket_, data, size);
    if (first <= 0) {
        return false;
    }
    std::size_t got = static_cast<std::size_t>(first);
    while (!response_complete(response_, got)) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - api_.now());
        if (left.count() <= 0 || api_.wait_readable(socket_, std::min(left, kReplyGrace)) != 1) {
            break;
        }
        const long n = api_.recv(socket_, data + got, size - got);
        if (n <= 0) {
            break;  // the gateway closed after part of a reply: that part is the reply
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void GatewayConnection::run_end() noexcept {
    if (end_hook_ != nullptr) {
        end_hook_(end_context_);
    } else {
        end();
    }
}

void GatewayConnection::end() noexcept {
    if (socket_ != kInvalidSocket) {
        api_.shutdown_send(socket_);
        api_.close(socket_);
        socket_ = kInvalidSocket;
    }
    // Only a start of our own is cleaned up: a stray WSACleanup would take the host's reference.
    if (library_started_) {
        api_.cleanup();
        library_started_ = false;
    }
}

}  // namespace vrl::gateway
