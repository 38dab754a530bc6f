#pragma once
// What a registry script does to the registry: the top-level run over the script's root entries
// with roll-back of a failed registration, the block walker for registering and unregistering,
// and the value writer.

#include "script_reader.h"

namespace vrl::regscript {

// Deeper nesting than the platform's registry allows (512 levels) fails the run instead of
// exhausting the stack.
inline constexpr int kMaxBlockDepth = 512;
// A value name holds at most 259 bytes.
inline constexpr std::size_t kValueNameBufferSize = 260;

// Access when unregistering: read and write first, so that the values a script names can be
// deleted beneath the key; read alone when writing is refused.
inline constexpr REGSAM kUnregisterAccess = KEY_READ | KEY_WRITE;

HRESULT RunScriptText(ScriptReader& reader, const char* text, bool do_register) noexcept;

// Called with the cursor just after a block's "{"; returns with the cursor just after its "}".
HRESULT ProcessKeyBlock(ScriptReader& reader, TokenBuffer& token, HKEY parent, bool do_register,
                        bool skip) noexcept;

// Called with "=" in `token`: reads the type and the value text, writes the value (a null name is
// the key's default value) and reads the next token into `token`.
HRESULT WriteValue(ScriptReader& reader, HKEY key, const char* value_name,
                   TokenBuffer& token) noexcept;

// When `token` begins with "=", reads the type, the value text and the next token, writing nothing.
HRESULT PassOverAssignment(ScriptReader& reader, TokenBuffer& token) noexcept;

// 0 to 15 for a hexadecimal digit, 0 for any other byte.
constexpr unsigned HexDigitValue(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<unsigned>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<unsigned>(c - 'a' + 10);
    }
    return 0;
}

}  // namespace vrl::regscript
