#pragma once
// The type library that a module carries: loaded from the module's own file (or, failing that,
// from the ".tlb" file beside it), registered with the platform under the path it loaded from,
// and unregistered again.

#include <windows.h>
#include <oleauto.h>

#include "install_command.h"
#include "registration_handles.h"

namespace vrl::server {

// A loaded type library and the full path it came from.
struct ModuleTypeLib {
    TypeLibRef lib;
    OwnedBstr path;
};

// Loads the type library of the module `instance`. The result is LoadTypeLib's; when neither the
// module file nor the ".tlb" file loads, it is the second attempt's code. A module path that does
// not fit the path buffer fails with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), a path string
// that cannot be allocated with E_OUTOFMEMORY.
HRESULT LoadModuleTypeLib(HINSTANCE instance, ModuleTypeLib& loaded) noexcept;

// Registers the module's type library with its directory as the help directory; returns the
// loading failure or the platform's registration result: RegisterTypeLib machine-wide,
// RegisterTypeLibForUser for the calling user.
HRESULT RegisterModuleTypeLib(HINSTANCE instance, InstallScope scope = InstallScope::Machine) noexcept;

// Removes the module's type library registration through UnRegisterTypeLib (machine-wide) or
// UnRegisterTypeLibForUser (for the calling user), looked up at run time in `automation_library`.
// Returns the loading result; what the unregistration itself does is not reported, nor a missing
// library or function. While the other architecture's class stays registered
// (`other_view_registers`), the platform's function is not called (Wine's removes the interface
// keys of both views, and its per-user one also the machine's): beneath the scope's classes, this
// view's interface keys go by name, and this platform's path, or the library's whole version key
// where the other platform's path is not registered beside it.
HRESULT UnregisterModuleTypeLib(HINSTANCE instance, const char* automation_library = "oleaut32.dll",
                                InstallScope scope = InstallScope::Machine,
                                bool other_view_registers = false) noexcept;

}  // namespace vrl::server
