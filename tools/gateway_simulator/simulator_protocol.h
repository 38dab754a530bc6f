#pragma once
// What the gateway simulator answers. The server side of the protocol is ours to choose: these
// are the status bytes and texts it sends, the send-time format it accepts and the message-id
// form it issues. Responses are the status byte, the text, one NUL.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vrl::sim {

inline constexpr std::size_t kRequestSize = 258;
inline constexpr std::size_t kBodyOffset = 3;
inline constexpr std::size_t kResponseSize = 129;
inline constexpr std::size_t kMaxResponseText = kResponseSize - 2;  // room for status and NUL
inline constexpr std::size_t kMaxMessageBytes = 160;
inline constexpr std::size_t kMaxMobileDigits = 20;

inline constexpr std::uint8_t kCommandLogin = 0x00;
inline constexpr std::uint8_t kCommandSubmit = 0x01;
inline constexpr std::uint8_t kCommandQuery = 0x02;

enum Status : std::uint8_t {
    kStatusOk = 0,
    kStatusBadLogin = 1,          // unknown user or wrong password
    kStatusNotLoggedIn = 2,       // submit or query before a successful login
    kStatusUnknownId = 3,         // query for an id this simulator never issued to that number
    kStatusBadSendTime = 4,       // timed submit whose time is not a valid YYYYMMDDhhmmss
    kStatusMalformedFrame = 5,    // reserved byte set, fields unterminated, wrong field count, bytes past the body
    kStatusUnknownCommand = 6,    // command byte other than 0, 1, 2
    kStatusBadMobile = 7,         // mobile number empty, over 20 digits, or not digits (a leading '+' is allowed)
    kStatusMessageTooLong = 8,    // message over 160 bytes
};

inline constexpr std::string_view kTextLoginOk = "login ok";
inline constexpr std::string_view kTextBadLogin = "login refused: unknown user or wrong password";
inline constexpr std::string_view kTextNotLoggedIn = "login required";
inline constexpr std::string_view kTextUnknownId = "unknown message id";
inline constexpr std::string_view kTextBadSendTime = "malformed send time, expected YYYYMMDDhhmmss";
inline constexpr std::string_view kTextMalformedFrame = "malformed request";
inline constexpr std::string_view kTextUnknownCommand = "unknown command";
inline constexpr std::string_view kTextBadMobile = "invalid mobile number";
inline constexpr std::string_view kTextMessageTooLong = "message content > max limit";

// Query answers (status 0): an immediate submit is reported delivered, a timed one scheduled.
inline constexpr std::string_view kStateDelivered = "DELIVERED";
inline constexpr std::string_view kStateScheduledPrefix = "SCHEDULED ";  // followed by the send time

// Message ids are decimal numbers counting up from this one, unique within one simulator.
inline constexpr std::uint64_t kFirstMessageId = 1000001;

// What the extra-bytes and stray-reply fault modes send beyond the replies: read as a reply, it is
// status 42 ('*') with the text "junk".
inline constexpr std::string_view kStrayBytes{"*junk\0", 6};

// The submit markers: "d" sends now, "e" is followed by the send time.
inline constexpr std::string_view kMarkerNow = "d";
inline constexpr std::string_view kMarkerAt = "e";

}  // namespace vrl::sim
