#include "gateway_frame.h"

#include <algorithm>
#include <cstring>

namespace vrl::gateway {

std::size_t put_field_string(std::uint8_t* body, std::string_view text, std::size_t pos) noexcept {
    if (!text.empty()) {
        std::memcpy(body + pos, text.data(), text.size());
    }
    body[pos + text.size()] = 0;
    return pos + text.size() + 1;
}

std::size_t body_length(std::initializer_list<std::string_view> fields) noexcept {
    std::size_t length = 0;
    for (std::string_view field : fields) {
        // Saturate instead of wrapping: a caller's 4 GB string must not look short.
        if (field.size() >= kRequestSize) {
            return kRequestSize;
        }
        length += field.size() + 1;
    }
    return length;
}

bool build_request(GatewayRequest& request, Command command,
                   std::initializer_list<std::string_view> fields) noexcept {
    secure_clear(request.bytes.data(), request.bytes.size());
    if (body_length(fields) > kBodyCapacity) {
        return false;
    }
    request.bytes[1] = static_cast<std::uint8_t>(command);
    std::uint8_t* body = request.bytes.data() + kBodyOffset;
    std::size_t pos = 0;
    for (std::string_view field : fields) {
        pos = put_field_string(body, field, pos);
    }
    request.bytes[2] = static_cast<std::uint8_t>(pos);
    return true;
}

bool response_complete(const GatewayResponse& response, std::size_t received) noexcept {
    if (received >= response.bytes.size()) {
        return true;
    }
    const auto* first = response.bytes.data() + 1;
    const auto* last = response.bytes.data() + received;
    return received > 1 && std::find(first, last, std::uint8_t{0}) != last;
}

std::uint8_t response_status(const GatewayResponse& response) noexcept {
    return response.bytes[0];
}

std::string_view response_text(const GatewayResponse& response) noexcept {
    const auto* first = reinterpret_cast<const char*>(response.bytes.data() + 1);
    const auto* last = reinterpret_cast<const char*>(response.bytes.data() + response.bytes.size());
    return {first, static_cast<std::size_t>(std::find(first, last, '\0') - first)};
}

void secure_clear(void* data, std::size_t size) noexcept {
    volatile auto* bytes = static_cast<volatile std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace vrl::gateway
