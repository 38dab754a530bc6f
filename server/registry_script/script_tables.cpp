#include "script_tables.h"

namespace vrl::regscript {

const RootKeyName* RootKeyTable() noexcept {
    // The predefined keys are handle values, not constants, on some toolchains: built on first use.
    static const RootKeyName table[kRootKeyCount] = {
        {"HKCR", HKEY_CLASSES_ROOT},
        {"HKCU", HKEY_CURRENT_USER},
        {"HKLM", HKEY_LOCAL_MACHINE},
        {"HKU", HKEY_USERS},
        {"HKPD", HKEY_PERFORMANCE_DATA},
        {"HKDD", HKEY_DYN_DATA},
        {"HKCC", HKEY_CURRENT_CONFIG},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_USERS", HKEY_USERS},
        {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
        {"HKEY_DYN_DATA", HKEY_DYN_DATA},
        {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    return table;
}

HKEY FindRootKey(const CodePageText& text, const char* token) noexcept {
    const RootKeyName* table = RootKeyTable();
    for (int index = 0; index < kRootKeyCount; ++index) {
        if (text.EqualsNoCase(token, table[index].name)) {
            return table[index].key;
        }
    }
    return nullptr;
}

bool FindValueType(const CodePageText& text, const char* token, ValueKind* kind) noexcept {
    for (const ValueTypeName& entry : ValueTypeTable) {
        if (text.EqualsNoCase(token, entry.letter)) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}

namespace {

bool AsciiEqualsNoCase(const char* left, const char* right) noexcept {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    for (;; ++left, ++right) {
        if (fold(*left) != fold(*right)) {
            return false;
        }
        if (*left == '\0') {
            return true;
        }
    }
}

}  // namespace

// The platform's comparison follows the user's locale (in Turkish, "clsid" is not "CLSID"); the
// plain ASCII comparison keeps the names protected there too. Either can only protect more.
bool IsProtectedKeyName(const CodePageText& text, const char* name) noexcept {
    for (const char* protected_name : ProtectedKeyNames) {
        if (text.EqualsNoCase(name, protected_name) || AsciiEqualsNoCase(name, protected_name)) {
            return true;
        }
    }
    return false;
}

}  // namespace vrl::regscript
