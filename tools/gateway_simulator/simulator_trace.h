#pragma once
// One JSON object per frame, one frame per line, for the --trace file. Text fields are escaped
// byte by byte: ASCII as is, every other byte as \u00XX, so the narrow text of any code page
// survives; "hex" carries the exact bytes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "gateway_simulator.h"
#include "simulator_request.h"

namespace vrl::sim {

std::string json_string(std::string_view bytes);
std::string hex_bytes(std::span<const std::uint8_t> bytes);

inline constexpr std::string_view kMaskedSecret = "***";

// {"dir":"in","conn":N,"command":C,"body_length":L,"well_formed":B,"fields":[...],"hex":"..."}
// With mask_secrets, a login's password (every field after the user name) shows as "***" in
// "fields" and its bytes as 2a ('*') in "hex".
std::string trace_request_line(const ReceivedFrame& frame, bool mask_secrets);

// {"dir":"out","conn":N,"status":S,"text":"...","hex":"..."}: the bytes actually written, so a
// reply shaped by a fault mode shows as sent. A reply written in more than one piece, or after a
// delay, adds "pieces":[{"bytes":B,"delay_ms":D},...]; one that the connection lost before all
// of it was written adds "complete":false.
std::string trace_reply_line(std::uint64_t connection, std::span<const std::uint8_t> bytes,
                             std::span<const ReplyPiece> pieces, bool complete);

}  // namespace vrl::sim
