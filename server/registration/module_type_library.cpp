#include "module_type_library.h"

#include "com_ref.h"
#include "other_view.h"
#include "type_library_path.h"

// The automation library's per-user registration (Windows Vista and later), which the SDK headers
// at hand do not declare.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* help_directory);

namespace vrl::server {
namespace {

HRESULT LastErrorResult() noexcept {
    return regscript::LastErrorResult(::GetLastError());
}

HRESULT LoadFromNarrowPath(const char* path, WCHAR (&wide)[kTypeLibPathSize], ITypeLib** lib) noexcept {
    if (::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, static_cast<int>(kTypeLibPathSize)) == 0) {
        return LastErrorResult();
    }
    return ::LoadTypeLib(wide, lib);
}

using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// The library's version key, TypeLib\{...}\<version>, and beneath it the key of its path for
// one platform, <locale>\win32 or <locale>\win64.
ClassesPath VersionPath(InstallScope scope, const TLIBATTR& attr) noexcept {
    ClassesPath path(scope);
    path << L"TypeLib\\" << attr.guid << L"\\";
    path.Hex(attr.wMajorVerNum) << L".";
    return path.Hex(attr.wMinorVerNum);
}

ClassesPath PlatformPath(InstallScope scope, const TLIBATTR& attr, SYSKIND syskind) noexcept {
    ClassesPath path = VersionPath(scope, attr) << L"\\";
    return path.Hex(attr.lcid) << (syskind == SYS_WIN64 ? L"\\win64" : L"\\win32");
}

// Removes this view's keys of the library and nothing else: the key of each of its interfaces
// beneath the scope's classes, and its path for this platform while the other platform's path is
// registered beside it in the shared version key; otherwise that whole version key, and then the
// library's key once no other version is left beneath it.
void RemoveOwnKeys(ITypeLib* lib, const TLIBATTR& attr, InstallScope scope) noexcept {
    const UINT count = lib->GetTypeInfoCount();
    for (UINT index = 0; index < count; ++index) {
        TYPEKIND kind{};
        component::ComRef<ITypeInfo> info;
        TypeAttr type;
        if (FAILED(lib->GetTypeInfoType(index, &kind)) || (kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) ||
            FAILED(lib->GetTypeInfo(index, info.put())) || !type.Get(info.get())) {
            continue;
        }
        const ClassesPath path = ClassesPath(scope) << L"Interface\\" << type->guid;
        ::RegDeleteTreeW(path.root(), path.get());
    }
    const ClassesPath other = PlatformPath(scope, attr, attr.syskind == SYS_WIN64 ? SYS_WIN32 : SYS_WIN64);
    RegistryKey other_key;
    if (::RegOpenKeyExW(other.root(), other.get(), 0, KEY_QUERY_VALUE, other_key.put()) == ERROR_SUCCESS) {
        const ClassesPath own = PlatformPath(scope, attr, attr.syskind);
        ::RegDeleteKeyW(own.root(), own.get());
        return;
    }
    const ClassesPath version = VersionPath(scope, attr);
    ::RegDeleteTreeW(version.root(), version.get());
    const ClassesPath library = ClassesPath(scope) << L"TypeLib\\" << attr.guid;
    ::RegDeleteKeyW(library.root(), library.get());
}

}  // namespace

HRESULT LoadModuleTypeLib(HINSTANCE instance, ModuleTypeLib& loaded) noexcept {
    char path[kTypeLibPathSize];
    const DWORD length = ::GetModuleFileNameA(instance, path, kTypeLibPathSize);
    if (length == 0) {
        return LastErrorResult();
    }
    // A cut-off path would name another file: refuse it rather than register that one.
    if (length >= kTypeLibPathSize) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    WCHAR wide[kTypeLibPathSize];
    HRESULT hr = LoadFromNarrowPath(path, wide, loaded.lib.put());
    if (FAILED(hr)) {
        if (!ToTypeLibraryFileName(path, regscript::system_code_page())) {
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        hr = LoadFromNarrowPath(path, wide, loaded.lib.put());
        if (FAILED(hr)) {
            return hr;
        }
    }
    loaded.path.reset(::SysAllocString(wide));
    if (loaded.path.get() == nullptr) {
        loaded.lib.reset();
        return E_OUTOFMEMORY;
    }
    return hr;
}

HRESULT RegisterModuleTypeLib(HINSTANCE instance, InstallScope scope) noexcept {
    ModuleTypeLib loaded;
    const HRESULT hr = LoadModuleTypeLib(instance, loaded);
    if (FAILED(hr)) {
        return hr;
    }
    WCHAR help_directory[kTypeLibPathSize];
    HelpDirectoryOf(loaded.path.get(), help_directory);
    if (scope == InstallScope::User) {
        return ::RegisterTypeLibForUser(loaded.lib.get(), loaded.path.get(), help_directory);
    }
    return ::RegisterTypeLib(loaded.lib.get(), loaded.path.get(), help_directory);
}

HRESULT UnregisterModuleTypeLib(HINSTANCE instance, const char* automation_library, InstallScope scope,
                                bool other_view_registers) noexcept {
    ModuleTypeLib loaded;
    const HRESULT hr = LoadModuleTypeLib(instance, loaded);
    if (FAILED(hr)) {
        return hr;
    }
    TLIBATTR* raw_attr = nullptr;
    if (FAILED(loaded.lib.get()->GetLibAttr(&raw_attr)) || raw_attr == nullptr) {
        return hr;
    }
    const LibAttr attr(loaded.lib.get(), raw_attr);
    if (other_view_registers) {
        RemoveOwnKeys(loaded.lib.get(), *attr, scope);
        return hr;
    }
    const LoadedLibrary automation(automation_library);
    if (automation.get() == nullptr) {
        return hr;
    }
    // The platform's unregistration is looked up at run time: an older automation library
    // without it leaves the library registered and unregistration still succeeds.
    const FARPROC found = ::GetProcAddress(
        automation.get(), scope == InstallScope::User ? "UnRegisterTypeLibForUser" : "UnRegisterTypeLib");
    if (found != nullptr) {
        const auto unregister = reinterpret_cast<UnRegisterTypeLibFunction>(
            reinterpret_cast<void (*)()>(found));
        static_cast<void>(unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum,
                                     attr->lcid, attr->syskind));
    }
    return hr;
}

}  // namespace vrl::server
