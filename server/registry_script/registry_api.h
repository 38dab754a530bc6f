#pragma once
// The registry as the script interpreter sees it: the nine advapi32 calls it makes, with their
// arguments and error codes. system_registry() calls the platform on Windows; the tests' in-memory
// registry (tests/support) implements the same calls for native tests and fuzzing.

#include "script_platform.h"

namespace vrl::regscript {

class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    virtual LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD options, REGSAM sam,
                               HKEY* result) noexcept = 0;
    virtual LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD reserved, char* key_class,
                                 DWORD options, REGSAM sam, SECURITY_ATTRIBUTES* security,
                                 HKEY* result, DWORD* disposition) noexcept = 0;
    virtual LONG RegCloseKey(HKEY key) noexcept = 0;
    virtual LONG RegSetValueExA(HKEY key, const char* value_name, DWORD reserved, DWORD type,
                                const BYTE* data, DWORD size) noexcept = 0;
    virtual LONG RegDeleteValueA(HKEY key, const char* value_name) noexcept = 0;
    virtual LONG RegDeleteKeyA(HKEY key, const char* sub_key) noexcept = 0;
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* name_size,
                               DWORD* reserved, char* key_class, DWORD* class_size,
                               FILETIME* last_write) noexcept = 0;
    virtual LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* name_size,
                               DWORD* reserved, DWORD* type, BYTE* data,
                               DWORD* data_size) noexcept = 0;
    virtual LONG RegQueryInfoKeyA(HKEY key, char* key_class, DWORD* class_size, DWORD* reserved,
                                  DWORD* subkeys, DWORD* max_subkey_length,
                                  DWORD* max_class_length, DWORD* values,
                                  DWORD* max_value_name_length, DWORD* max_value_length,
                                  DWORD* security_descriptor_size,
                                  FILETIME* last_write) noexcept = 0;
};

#ifdef _WIN32
RegistryApi& system_registry() noexcept;
#endif

// An open key handle; closes it when replaced or destroyed. Predefined keys are never held here.
class RegKey {
public:
    explicit RegKey(RegistryApi& api) noexcept : api_(api) {}
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    HKEY get() const noexcept { return key_; }
    bool is_open() const noexcept { return key_ != nullptr; }

    // Takes a freshly opened handle; the handle held before is closed, with that close's result.
    LONG Replace(HKEY key) noexcept {
        const LONG result = Close();
        key_ = key;
        return result;
    }

    LONG Close() noexcept {
        if (key_ == nullptr) {
            return ERROR_SUCCESS;
        }
        const HKEY key = key_;
        key_ = nullptr;
        return api_.RegCloseKey(key);
    }

private:
    RegistryApi& api_;
    HKEY key_ = nullptr;
};

}  // namespace vrl::regscript
