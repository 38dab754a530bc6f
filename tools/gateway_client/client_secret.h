#pragma once
// The password's handling in the client: read from standard input without a stdio buffer, and
// every copy the program holds wiped once it is no longer needed.

#include <cstddef>
#include <cstdio>
#include <string>

namespace vrl::client {

// Longest password read from standard input; a login's fields must fit 255 bytes anyway.
inline constexpr std::size_t kMaxPasswordBytes = 254;

// Reads one line (without its CR LF or LF) from in into password, which is cleared first.
// Reserves its room once, so that no reallocation leaves a copy behind. False when the line is
// longer than kMaxPasswordBytes or in ends before a line (an empty one counts) was read.
bool read_password_line(std::FILE* in, std::string& password);

// Overwrites the text's bytes, then empties it.
void wipe(std::string& text) noexcept;
void wipe(char* text) noexcept;

// Wipes a string when the scope ends, however it ends.
class ScopedWipe {
public:
    explicit ScopedWipe(std::string& text) : text_(text) {}
    ScopedWipe(const ScopedWipe&) = delete;
    ScopedWipe& operator=(const ScopedWipe&) = delete;
    ~ScopedWipe() { wipe(text_); }

private:
    std::string& text_;
};

}  // namespace vrl::client
