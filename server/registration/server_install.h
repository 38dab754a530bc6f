#pragma once
// DllInstall's work: machine-wide or per-user registration, chosen by the install command.

#include "component_module.h"
#include "install_command.h"

namespace vrl::server {

// Registers (`install` true) or unregisters the server where `command` says (see
// ParseInstallCommand); an unknown command gives E_INVALIDARG and changes nothing. Machine-wide
// it is exactly RegisterServer / UnregisterServer; for the user, the same keys under
// HKEY_CURRENT_USER\Software\Classes. Unregistering returns S_OK unless the user's classes key
// cannot be reached.
HRESULT InstallServer(const ComponentModule& module, bool install,
                      const regscript::WideChar* command) noexcept;

}  // namespace vrl::server
