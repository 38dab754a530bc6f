#pragma once
// The tables of the registry script language: root key names, value type letters and the key names
// whose trees are never deleted whole.

#include <cstdint>

#include "code_page_text.h"
#include "script_platform.h"

namespace vrl::regscript {

struct RootKeyName {
    const char* name;
    HKEY key;
};

// Short names first, then long names, each in the same order; the first match wins.
inline constexpr int kRootKeyCount = 14;
const RootKeyName* RootKeyTable() noexcept;

// The predefined key named by `token`, or null when it names none.
HKEY FindRootKey(const CodePageText& text, const char* token) noexcept;

// Variant type codes of the value type letters.
enum class ValueKind : std::uint16_t {
    String = 8,     // VT_BSTR: REG_SZ
    Number = 19,    // VT_UI4: REG_DWORD
    Binary = 17,    // VT_UI1: REG_BINARY
};

struct ValueTypeName {
    const char* letter;
    ValueKind kind;
};

inline constexpr int kValueTypeCount = 3;
inline constexpr ValueTypeName ValueTypeTable[kValueTypeCount] = {
    {"S", ValueKind::String},
    {"D", ValueKind::Number},
    {"B", ValueKind::Binary},
};

// Looks the whole token up, ignoring letter case; false when it is no type letter.
bool FindValueType(const CodePageText& text, const char* token, ValueKind* kind) noexcept;

inline constexpr const char* ProtectedKeyNames[] = {"CLSID", "TYPELIB"};

bool IsProtectedKeyName(const CodePageText& text, const char* name) noexcept;

}  // namespace vrl::regscript
