#pragma once
// The other architecture's registration. On 64-bit Windows the x86 DLL registers its class and
// interfaces in the 32-bit registry view and the x64 DLL in the 64-bit one, while the ProgIDs and
// the type library's key are shared by both. Where the platform keeps a single view (32-bit
// Windows; the user's classes under Wine), there is no other view: a view flag leads back to this
// one.

#include <windows.h>

#include <cstddef>

#include "install_command.h"

namespace vrl::server {

// A key path beneath the classes of one install scope, HKEY_LOCAL_MACHINE\Software\Classes or
// HKEY_CURRENT_USER\Software\Classes. Both are named from their root rather than through
// HKEY_CLASSES_ROOT, which a per-user registration redirects to the user's classes (and under
// Wine a view flag on the redirected key leads to the machine's classes after all).
class ClassesPath {
public:
    explicit ClassesPath(InstallScope scope) noexcept;

    ClassesPath& operator<<(const wchar_t* text) noexcept;
    // In braces, as the registry names classes, interfaces and libraries.
    ClassesPath& operator<<(const GUID& guid) noexcept;
    // In hexadecimal digits without leading zeros, as the platform names a library's version
    // and locale.
    ClassesPath& Hex(unsigned long number) noexcept;

    HKEY root() const noexcept { return root_; }
    const wchar_t* get() const noexcept { return text_; }

private:
    // The scope's prefix, a few key names, GUIDs and numbers fit with room to spare.
    static constexpr std::size_t kUnits = 512;

    HKEY root_;
    wchar_t text_[kUnits] = {};
    std::size_t length_ = 0;
};

// Whether another view than this one registers the class for another file than `module`: the
// platform keeps the scope's classes apart per architecture (64-bit Windows; for the user's
// classes only where they have a view per architecture, which Wine's do not), and the other
// view's CLSID\{...}\InprocServer32 exists and names some other file. What cannot be read counts
// as registered: sparing a shared key is harmless, removing one breaks the other architecture.
bool OtherViewRegistersClass(InstallScope scope, const CLSID& class_id, HMODULE module) noexcept;

}  // namespace vrl::server
