#pragma once
// One JSON object per frame, one frame per line, for the --trace file. Text fields are escaped
// byte by byte: ASCII as is, every other byte as \u00XX, so the narrow text of any code page
// survives; "hex" carries the exact bytes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "simulator_request.h"

namespace vrl::sim {

std::string json_string(std::string_view bytes);
std::string hex_bytes(std::span<const std::uint8_t> bytes);

// {"dir":"in","conn":N,"command":C,"body_length":L,"well_formed":B,"fields":[...],"hex":"..."}
std::string trace_request_line(const ReceivedFrame& frame);

// {"dir":"out","conn":N,"status":S,"text":"...","hex":"..."}: the bytes actually written, so
// a reply cut or padded by a fault mode shows as sent.
std::string trace_reply_line(std::uint64_t connection, std::span<const std::uint8_t> bytes);

}  // namespace vrl::sim
