#pragma once
// The other architecture's registration. On 64-bit Windows the x86 DLL registers its class and
// interfaces in the 32-bit registry view and the x64 DLL in the 64-bit one, while the ProgIDs and
// the type library's key are shared by both. Where the platform keeps a single view (32-bit
// Windows; the user's classes under Wine), the other view is this one.

#include <windows.h>

#include <cstddef>

#include "install_command.h"

namespace vrl::server {

inline constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

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

// Where the other view still registers the module's classes: in the scope's own classes, and for
// a per-user unregistration also in the machine's, which Wine's per-user type library functions
// reach.
struct KeptViews {
    bool scope = false;
    bool machine = false;
};

// Whether the other view of the scope's classes registers the class for another file than
// `module`: its CLSID\{...}\InprocServer32 exists and names some other file. What cannot be read
// counts as registered: sparing a shared key is harmless, removing one breaks the other
// architecture.
bool OtherViewRegistersClass(InstallScope scope, const CLSID& class_id, HMODULE module) noexcept;

}  // namespace vrl::server
