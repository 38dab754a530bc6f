#include "user_classes.h"

#include <initializer_list>

#include "module_path.h"

namespace vrl::server {

UserClassesRoot::UserClassesRoot() noexcept {
    LSTATUS status = ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &classes_,
                                       nullptr);
    if (status == ERROR_SUCCESS) {
        status = ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_);
    }
    result_ = status == ERROR_SUCCESS ? S_OK : regscript::LastErrorResult(static_cast<DWORD>(status));
}

UserClassesRoot::~UserClassesRoot() {
    if (SUCCEEDED(result_)) {
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    if (classes_ != nullptr) {
        ::RegCloseKey(classes_);
    }
}

void UserClassesRoot::RemoveEmptyContainers() const noexcept {
    if (FAILED(result_)) {
        return;
    }
    for (const wchar_t* name : {L"CLSID", L"Interface", L"TypeLib"}) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(classes_, name, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            continue;
        }
        DWORD subkeys = 1;
        DWORD values = 1;
        const LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                                  &values, nullptr, nullptr, nullptr, nullptr);
        ::RegCloseKey(key);
        if (status == ERROR_SUCCESS && subkeys == 0 && values == 0) {
            ::RegDeleteKeyW(classes_, name);
        }
    }
}

}  // namespace vrl::server
