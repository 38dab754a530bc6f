#include "other_view.h"

#include <objbase.h>
#include <winternl.h>

#include "module_path.h"
#include "registration_handles.h"

namespace vrl::server {
namespace {

using regscript::kPathSize;

// Whether the user's classes have a view per architecture, as on 64-bit Windows 7 and later (Wine
// keeps one CLSID key for both): the registry's full names of the two views of the user's CLSID key
// differ. Where either name cannot be had (no such key in one view, or the platform does not tell)
// they count as two: the other view is then read, and registers the class or not.
bool UserClassesHaveTwoViews() noexcept {
    union {
        OBJECT_NAME_INFORMATION info;
        BYTE room[1024];
    } names[2];
    for (int i = 0; i < 2; ++i) {
        const REGSAM access = KEY_QUERY_VALUE | (i == 0 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
        RegistryKey view;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID", 0, access, view.put()) != ERROR_SUCCESS ||
            !NT_SUCCESS(::NtQueryObject(view.get(), ObjectNameInformation, &names[i], sizeof names[i], nullptr))) {
            return true;
        }
    }
    const UNICODE_STRING& first = names[0].info.Name;
    const UNICODE_STRING& second = names[1].info.Name;
    return ::CompareStringOrdinal(first.Buffer, first.Length / 2, second.Buffer, second.Length / 2, TRUE) !=
           CSTR_EQUAL;
}

// Whether the platform keeps the other architecture's classes of the scope apart from this one's.
bool HasOtherView(InstallScope scope) noexcept {
    BOOL wow64 = FALSE;
    const bool windows64 = sizeof(void*) == 8 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64);
    return windows64 && (scope == InstallScope::Machine || UserClassesHaveTwoViews());
}

// The long form of `path`; the path as it is when it has none, such as a file that is not there.
void LongForm(const wchar_t* path, wchar_t (&long_form)[kPathSize]) noexcept {
    const DWORD length = ::GetLongPathNameW(path, long_form, kPathSize);
    if (length == 0 || length >= kPathSize) {
        ::lstrcpynW(long_form, path, kPathSize);
    }
}

// Whether `server` names the file of `module`: the script registers its short path, an installer
// may write the long one.
bool NamesModule(const wchar_t* server, HMODULE module) noexcept {
    wchar_t own[kPathSize];
    const DWORD length = ::GetModuleFileNameW(module, own, kPathSize);
    if (length == 0 || length >= kPathSize) {
        return false;
    }
    wchar_t own_long[kPathSize];
    wchar_t server_long[kPathSize];
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
    if (!HasOtherView(scope)) {
        return false;
    }
    const ClassesPath path = ClassesPath(scope) << L"CLSID\\" << class_id << L"\\InprocServer32";
    const REGSAM other_view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    RegistryKey key;
    LSTATUS status = ::RegOpenKeyExW(path.root(), path.get(), 0, KEY_QUERY_VALUE | other_view, key.put());
    if (status == ERROR_SUCCESS) {
        wchar_t server[kPathSize];
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
