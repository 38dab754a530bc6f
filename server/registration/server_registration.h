#pragma once
// Registration of the whole server: every class of the module's object map through its own
// registration routine and component categories, then the module's type library.

#include "component_module.h"
#include "install_command.h"

namespace vrl::server {

// Register-all: stops at the first failing class and returns its code (later classes and the type
// library are then not registered); otherwise the type library's registration result. The classes
// go wherever HKEY_CLASSES_ROOT leads; `scope` picks the type library's registration function.
HRESULT RegisterServer(const ComponentModule& module, InstallScope scope = InstallScope::Machine) noexcept;

// Unregister-all: every class and the type library, whatever fails on the way. Always S_OK. While
// the other registry view (the other architecture's DLL on 64-bit Windows) registers a class for
// another file, only this view's own keys go: the class key, the interface keys and this
// platform's path in the type library's key (its whole version key when the other platform's path
// is not beside it); the shared ProgIDs stay. Otherwise, and wherever the platform keeps one view,
// it removes all of it, as for a module alone.
HRESULT UnregisterServer(const ComponentModule& module, InstallScope scope = InstallScope::Machine) noexcept;

}  // namespace vrl::server
