#include "simulator_request.h"

#include <algorithm>

namespace vrl::sim {

ReceivedFrame decode_request(std::span<const std::uint8_t, kRequestSize> bytes, std::uint64_t connection) {
    ReceivedFrame frame;
    frame.connection = connection;
    std::copy(bytes.begin(), bytes.end(), frame.bytes.begin());
    frame.command = bytes[1];
    frame.body_length = bytes[2];

    const auto body = bytes.subspan(kBodyOffset);
    const std::size_t length = frame.body_length;
    std::string field;
    for (std::size_t i = 0; i < length; ++i) {
        if (body[i] == 0) {
            frame.fields.push_back(std::move(field));
            field.clear();
        } else {
            field.push_back(static_cast<char>(body[i]));
        }
    }
    const bool terminated = length > 0 && body[length - 1] == 0;
    const bool clean_tail = std::all_of(body.begin() + static_cast<std::ptrdiff_t>(length), body.end(),
                                        [](std::uint8_t b) { return b == 0; });
    frame.well_formed = bytes[0] == 0 && terminated && clean_tail;
    return frame;
}

std::vector<std::uint8_t> encode_reply(const Reply& reply) {
    const std::size_t length = std::min(reply.text.size(), kMaxResponseText);
    std::vector<std::uint8_t> out;
    out.reserve(length + 2);
    out.push_back(reply.status);
    out.insert(out.end(), reply.text.begin(), reply.text.begin() + static_cast<std::ptrdiff_t>(length));
    out.push_back(0);
    return out;
}

}  // namespace vrl::sim
