#pragma once
// Whole-tree deletion and the two questions the unregistering pass asks about a key.

#include "registry_api.h"

namespace vrl::regscript {

inline constexpr REGSAM kTreeDeleteAccess = KEY_READ | KEY_WRITE;  // 0x2001F

// A key name holds at most 256 UTF-16 units (255 on Windows, 256 under Wine), and no ANSI code page
// spends more than 3 bytes on one unit: a buffer of this size holds every name a key can have, in
// bytes of the code page, so no name is ever cut short.
inline constexpr DWORD kMaxKeyNameUnits = 256;
inline constexpr DWORD kKeyNameBufferSize = kMaxKeyNameUnits * 3 + 1;
inline constexpr DWORD kValueNameEnumSize = 4096;

// Deletes the subkey `name` of `key` with everything beneath it; the platform error code, 0 on
// success. An empty name names no subkey and is refused.
LONG DeleteKeyTree(RegistryApi& registry, HKEY key, const char* name) noexcept;

// A failed query counts as no subkeys.
bool KeyHasSubkeys(RegistryApi& registry, HKEY key) noexcept;

// True when the key holds a value other than its unnamed default value.
bool KeyHasNamedValues(RegistryApi& registry, HKEY key) noexcept;

}  // namespace vrl::regscript
