#pragma once
// Decoding of one 258-byte request as the simulator received it, and encoding of its replies.
// Pure functions: tests call them directly.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "simulator_protocol.h"

namespace vrl::sim {

struct ReceivedFrame {
    std::uint64_t connection = 0;  // 1, 2, ... in order of acceptance
    std::array<std::uint8_t, kRequestSize> bytes{};
    std::uint8_t command = 0;
    std::uint8_t body_length = 0;
    std::vector<std::string> fields;  // the body split at its NULs, terminators removed
    bool well_formed = false;         // reserved byte 0, last field terminated, nothing past the body
};

ReceivedFrame decode_request(std::span<const std::uint8_t, kRequestSize> bytes, std::uint64_t connection);

struct Reply {
    std::uint8_t status = kStatusOk;
    std::string text;
};

// Status byte, text (cut to 127 bytes so the reply fits one 129-byte response), NUL.
std::vector<std::uint8_t> encode_reply(const Reply& reply);

}  // namespace vrl::sim
