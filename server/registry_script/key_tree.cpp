#include "key_tree.h"

namespace vrl::regscript {

LONG DeleteKeyTree(RegistryApi& registry, HKEY key, const char* name) noexcept {
    if (name[0] == '\0') {
        // The platform would take an empty name as the key itself.
        return ERROR_INVALID_PARAMETER;
    }
    HKEY opened = nullptr;
    const LONG open_result = registry.RegOpenKeyExA(key, name, 0, kTreeDeleteAccess, &opened);
    if (open_result != ERROR_SUCCESS) {
        return open_result;
    }
    RegKey tree(registry);
    tree.Replace(opened);
    for (;;) {
        // Index 0 every time: each deletion moves the next subkey to the front.
        char subkey[kKeyNameBufferSize];
        DWORD size = kKeyNameBufferSize;
        if (registry.RegEnumKeyExA(tree.get(), 0, subkey, &size, nullptr, nullptr, nullptr,
                                   nullptr) != ERROR_SUCCESS) {
            break;
        }
        const LONG result = DeleteKeyTree(registry, tree.get(), subkey);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    tree.Close();
    return registry.RegDeleteKeyA(key, name);
}

bool KeyHasSubkeys(RegistryApi& registry, HKEY key) noexcept {
    DWORD subkeys = 0;
    if (registry.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return subkeys != 0;
}

bool KeyHasNamedValues(RegistryApi& registry, HKEY key) noexcept {
    DWORD values = 0;
    if (registry.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    if (values != 1) {
        return values > 1;
    }
    char name[kValueNameEnumSize];
    DWORD size = kValueNameEnumSize;
    // A name too long for the buffer is certainly not the empty name of the default value.
    const LONG result =
        registry.RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    return result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && name[0] != '\0');
}

}  // namespace vrl::regscript
