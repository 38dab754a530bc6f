#include "registry_api.h"

namespace vrl::regscript {
namespace {

class Win32Registry final : public RegistryApi {
public:
    LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD options, REGSAM sam,
                       HKEY* result) noexcept override {
        return ::RegOpenKeyExA(key, sub_key, options, sam, result);
    }
    LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD reserved, char* key_class,
                         DWORD options, REGSAM sam, SECURITY_ATTRIBUTES* security, HKEY* result,
                         DWORD* disposition) noexcept override {
        return ::RegCreateKeyExA(key, sub_key, reserved, key_class, options, sam, security, result,
                                 disposition);
    }
    LONG RegCloseKey(HKEY key) noexcept override { return ::RegCloseKey(key); }
    LONG RegSetValueExA(HKEY key, const char* value_name, DWORD reserved, DWORD type,
                        const BYTE* data, DWORD size) noexcept override {
        return ::RegSetValueExA(key, value_name, reserved, type, data, size);
    }
    LONG RegDeleteValueA(HKEY key, const char* value_name) noexcept override {
        return ::RegDeleteValueA(key, value_name);
    }
    LONG RegDeleteKeyA(HKEY key, const char* sub_key) noexcept override {
        return ::RegDeleteKeyA(key, sub_key);
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved,
                       char* key_class, DWORD* class_size, FILETIME* last_write) noexcept override {
        return ::RegEnumKeyExA(key, index, name, name_size, reserved, key_class, class_size,
                               last_write);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved,
                       DWORD* type, BYTE* data, DWORD* data_size) noexcept override {
        return ::RegEnumValueA(key, index, name, name_size, reserved, type, data, data_size);
    }
    LONG RegQueryInfoKeyA(HKEY key, char* key_class, DWORD* class_size, DWORD* reserved,
                          DWORD* subkeys, DWORD* max_subkey_length, DWORD* max_class_length,
                          DWORD* values, DWORD* max_value_name_length, DWORD* max_value_length,
                          DWORD* security_descriptor_size, FILETIME* last_write) noexcept override {
        return ::RegQueryInfoKeyA(key, key_class, class_size, reserved, subkeys, max_subkey_length,
                                  max_class_length, values, max_value_name_length,
                                  max_value_length, security_descriptor_size, last_write);
    }
};

}  // namespace

RegistryApi& system_registry() noexcept {
    static Win32Registry registry;
    return registry;
}

}  // namespace vrl::regscript
