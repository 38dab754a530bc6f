#include "other_view.h"

#include <objbase.h>

#include "registration_handles.h"

namespace vrl::server {
namespace {

// Room for a path of the longest length the platform's path functions take, and its null.
constexpr DWORD kPathUnits = MAX_PATH + 1;

// The long form of `path`; the path as it is when it has none, such as a file that is not there.
void LongForm(const wchar_t* path, wchar_t (&long_form)[kPathUnits]) noexcept {
    const DWORD length = ::GetLongPathNameW(path, long_form, kPathUnits);
    if (length == 0 || length >= kPathUnits) {
        ::lstrcpynW(long_form, path, kPathUnits);
    }
}

// Whether `server` names the file of `module`: the script registers its short path, an installer
// may write the long one.
bool NamesModule(const wchar_t* server, HMODULE module) noexcept {
    wchar_t own[kPathUnits];
    const DWORD length = ::GetModuleFileNameW(module, own, kPathUnits);
    if (length == 0 || length >= kPathUnits) {
        return false;
    }
    wchar_t own_long[kPathUnits];
    wchar_t server_long[kPathUnits];
    LongForm(own, own_long);
    LongForm(server, server_long);
    return ::CompareStringOrdinal(own_long, -1, server_long, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

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

bool OtherViewRegistersClass(InstallScope scope, const CLSID& class_id, HMODULE module) noexcept {
    const ClassesPath path = ClassesPath(scope) << L"CLSID\\" << class_id << L"\\InprocServer32";
    RegistryKey key;
    LSTATUS status = ::RegOpenKeyExW(path.root(), path.get(), 0, KEY_QUERY_VALUE | kOtherView, key.put());
    if (status == ERROR_SUCCESS) {
        wchar_t server[kPathUnits];
        DWORD size = sizeof server - sizeof(wchar_t);
        DWORD type = REG_NONE;
        status = ::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(server), &size);
        if (status == ERROR_SUCCESS) {
            // The value may or may not hold its terminating null.
            server[size / sizeof(wchar_t)] = L'\0';
            return type != REG_SZ || !NamesModule(server, module);
        }
    }
    return status != ERROR_FILE_NOT_FOUND;
}

}  // namespace vrl::server
