#include "simulator_trace.h"

#include <algorithm>
#include <array>

namespace vrl::sim {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex_byte(std::string& out, std::uint8_t b) {
    out.push_back(kHexDigits[b >> 4]);
    out.push_back(kHexDigits[b & 0x0F]);
}

}  // namespace

std::string json_string(std::string_view bytes) {
    std::string out = "\"";
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (b < 0x20 || b >= 0x7F) {
            out += "\\u00";
            append_hex_byte(out, b);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        append_hex_byte(out, b);
    }
    return out;
}

std::string trace_request_line(const ReceivedFrame& frame, bool mask_secrets) {
    const bool mask = mask_secrets && frame.command == kCommandLogin;
    std::array<std::uint8_t, kRequestSize> bytes = frame.bytes;
    if (mask) {
        // The password runs from just past the user name's terminator to the end of the body;
        // its terminator stays, so the frame's layout still shows.
        const auto body = std::span(bytes).subspan(kBodyOffset, frame.body_length);
        const auto user_end = std::find(body.begin(), body.end(), std::uint8_t{0});
        if (user_end != body.end()) {
            std::replace_if(user_end + 1, body.end(), [](std::uint8_t b) { return b != 0; }, std::uint8_t{'*'});
        }
    }
    std::string line = "{\"dir\":\"in\",\"conn\":" + std::to_string(frame.connection) +
                       ",\"command\":" + std::to_string(frame.command) +
                       ",\"body_length\":" + std::to_string(frame.body_length) +
                       ",\"well_formed\":" + (frame.well_formed ? "true" : "false") + ",\"fields\":[";
    for (std::size_t i = 0; i < frame.fields.size(); ++i) {
        if (i != 0) {
            line.push_back(',');
        }
        line += mask && i != 0 ? json_string(kMaskedSecret) : json_string(frame.fields[i]);
    }
    line += "],\"hex\":\"" + hex_bytes(bytes) + "\"}";
    return line;
}

std::string trace_reply_line(std::uint64_t connection, std::span<const std::uint8_t> bytes,
                             std::span<const ReplyPiece> pieces, bool complete) {
    std::string line = "{\"dir\":\"out\",\"conn\":" + std::to_string(connection);
    if (!bytes.empty()) {
        const auto text_begin = bytes.begin() + 1;
        const auto text_end = std::find(text_begin, bytes.end(), std::uint8_t{0});
        const std::string text(text_begin, text_end);
        line += ",\"status\":" + std::to_string(bytes[0]) + ",\"text\":" + json_string(text);
    }
    line += ",\"hex\":\"" + hex_bytes(bytes) + "\"";
    const bool shaped = pieces.size() > 1 || std::any_of(pieces.begin(), pieces.end(), [](const ReplyPiece& p) {
                            return p.delay.count() != 0;
                        });
    if (shaped) {
        line += ",\"pieces\":[";
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            line += (i == 0 ? "{\"bytes\":" : ",{\"bytes\":") + std::to_string(pieces[i].bytes.size()) +
                    ",\"delay_ms\":" + std::to_string(pieces[i].delay.count()) + "}";
        }
        line += "]";
    }
    if (!complete) {
        line += ",\"complete\":false";
    }
    line += "}";
    return line;
}

}  // namespace vrl::sim
