#pragma once
// Status codes and fixed texts that the gateway connection reports. 0 to 255 are the server's
// status byte; the negative values are local failures. 80 doubles as the local refusal of an
// over-long message, told apart from the server's 80 only by the text.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vrl::gateway {

inline constexpr std::int32_t kStatusSocketLibrary = -1;    // the socket library could not be started
inline constexpr std::int32_t kStatusSocketCreate = -2;     // no socket
inline constexpr std::int32_t kStatusConnect = -3;          // no connection (or connect timed out)
inline constexpr std::int32_t kStatusSend = -4;             // the request could not be sent
inline constexpr std::int32_t kStatusReceive = -5;          // no answer, or the server closed
inline constexpr std::int32_t kStatusRequestTooLong = -6;   // the fields do not fit one request
inline constexpr std::int32_t kStatusMessageTooLong = 80;   // Message over 160 bytes

inline constexpr std::size_t kMaxMessageBytes = 160;

inline constexpr std::string_view kTextMessageTooLong = "message content > max limit";
inline constexpr std::string_view kTextRequestTooLong = "request content > max limit";
inline constexpr std::string_view kTextSendError = "socket send error!";
inline constexpr std::string_view kTextReceiveError = "socket receive error!";

// How long the connection waits on a silent network. Both must be above zero: start() refuses
// others with kStatusConnect rather than wait for ever. The connect limit covers the name look-up
// and every address tried; the receive limit counts from the start of a receive.
struct GatewayTimeouts {
    std::chrono::milliseconds connect{30'000};
    std::chrono::milliseconds receive{60'000};
};

// How long a reply that is not yet whole (no NUL after the status byte, under 129 bytes) may rest
// after its last byte before what arrived is taken as the whole reply.
inline constexpr std::chrono::milliseconds kReplyGrace{500};

// Bytes waiting before a request (the late or excess part of an earlier reply) are dropped, up to
// this many: a gateway that has sent more than that unasked is treated as one that has closed.
inline constexpr std::size_t kMaxDroppedBytes = 64 * 1024;

}  // namespace vrl::gateway
