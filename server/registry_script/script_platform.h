#pragma once
// The few platform types, result codes and registry constants the registry script code uses. On
// Windows they come from the SDK headers; elsewhere (tests and fuzzing) the same names are defined
// here with the platform's values, so the portable code reads the same on every toolchain.

#include <cstdint>

#ifdef _WIN32
#include <windows.h>

namespace vrl::regscript {
using WideChar = wchar_t;
}  // namespace vrl::regscript

#else

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using HRESULT = std::int32_t;
using REGSAM = DWORD;

struct HKEY__;
using HKEY = HKEY__*;
struct SECURITY_ATTRIBUTES;
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;

inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// The predefined keys carry the platform's handle values, sign-extended as the SDK does.
inline HKEY PredefinedKey(std::uint32_t value) noexcept {
    return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}
inline const HKEY HKEY_CLASSES_ROOT = PredefinedKey(0x80000000u);
inline const HKEY HKEY_CURRENT_USER = PredefinedKey(0x80000001u);
inline const HKEY HKEY_LOCAL_MACHINE = PredefinedKey(0x80000002u);
inline const HKEY HKEY_USERS = PredefinedKey(0x80000003u);
inline const HKEY HKEY_PERFORMANCE_DATA = PredefinedKey(0x80000004u);
inline const HKEY HKEY_CURRENT_CONFIG = PredefinedKey(0x80000005u);
inline const HKEY HKEY_DYN_DATA = PredefinedKey(0x80000006u);

namespace vrl::regscript {
using WideChar = char16_t;
}  // namespace vrl::regscript

#endif

namespace vrl::regscript {

// A platform error code in HRESULT form, as the platform folds it.
constexpr HRESULT HResultFromError(std::uint32_t code) noexcept {
    return static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu));
}

constexpr bool Failed(HRESULT hr) noexcept { return hr < 0; }

}  // namespace vrl::regscript
