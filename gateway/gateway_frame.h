#pragma once
// The two frames of the gateway protocol: a fixed 258-byte request and a response of at most
// 129 bytes. Pure functions: they build and read buffers and never touch the network.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace vrl::gateway {

inline constexpr std::size_t kRequestSize = 258;
inline constexpr std::size_t kBodyOffset = 3;
inline constexpr std::size_t kBodyCapacity = kRequestSize - kBodyOffset;  // 255
inline constexpr std::size_t kResponseSize = 129;

enum class Command : std::uint8_t { Login = 0x00, Submit = 0x01, Query = 0x02 };

// The submit marker fields: "d" sends now, "e" is followed by a send time.
inline constexpr std::string_view kMarkerNow = "d";
inline constexpr std::string_view kMarkerAt = "e";

struct GatewayRequest {
    std::array<std::uint8_t, kRequestSize> bytes{};
};

struct GatewayResponse {
    std::array<std::uint8_t, kResponseSize> bytes{};
};

// The frames are sent and read as they lie in memory: their sizes are the wire's.
static_assert(sizeof(GatewayRequest) == 258 && sizeof(GatewayResponse) == 129);

// Copies the text and one NUL to body[pos...] and returns where the next field begins.
// The caller guarantees that pos + text.size() + 1 fits the body.
std::size_t put_field_string(std::uint8_t* body, std::string_view text, std::size_t pos) noexcept;

// Body bytes that the fields take, terminators included.
std::size_t body_length(std::initializer_list<std::string_view> fields) noexcept;

// Clears the request and packs command and fields. Returns false, leaving the request cleared,
// when the fields do not fit the 255-byte body: such a request has no form on the wire.
bool build_request(GatewayRequest& request, Command command,
                   std::initializer_list<std::string_view> fields) noexcept;

// Whether the first received bytes of a response make a whole reply: a NUL after the status
// byte, or all 129 bytes.
bool response_complete(const GatewayResponse& response, std::size_t received) noexcept;

// The status byte, always 0 to 255.
std::uint8_t response_status(const GatewayResponse& response) noexcept;

// The text after the status byte up to its first NUL, or to the end of the 129 bytes.
std::string_view response_text(const GatewayResponse& response) noexcept;

// Overwrites memory in a way the optimiser may not drop (credentials in the request buffer).
void secure_clear(void* data, std::size_t size) noexcept;

}  // namespace vrl::gateway
