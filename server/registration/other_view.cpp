#include "other_view.h"

#include <objbase.h>

#include "registration_handles.h"

namespace vrl::server {

ClassesPath::ClassesPath(InstallScope scope) noexcept
    : root_(scope == InstallScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE) {
    *this << L"Software\\Classes\\";
}

ClassesPath& ClassesPath::operator<<(const wchar_t* text) noexcept {
    for (; *text != L'\0' && length_ + 1 < kUnits; ++text) {
        text_[length_++] = *text;
    }
    text_[length_] = L'\0';
    return *this;
}

ClassesPath& ClassesPath::operator<<(const GUID& guid) noexcept {
    wchar_t braced[39];
    return *this << (::StringFromGUID2(guid, braced, 39) != 0 ? braced : L"");
}

ClassesPath& ClassesPath::Hex(unsigned long number) noexcept {
    wchar_t digits[9];
    wchar_t* first = digits + 8;
    *first = L'\0';
    do {
        *--first = L"0123456789abcdef"[number % 16];
        number /= 16;
    } while (number != 0);
    return *this << first;
}

bool OtherViewRegistersClass(InstallScope scope, const CLSID& class_id) noexcept {
    const ClassesPath path = ClassesPath(scope) << L"CLSID\\" << class_id << L"\\InprocServer32";
    RegistryKey key;
    return ::RegOpenKeyExW(path.root(), path.get(), 0, KEY_READ | kOtherView, key.put()) == ERROR_SUCCESS;
}

}  // namespace vrl::server
