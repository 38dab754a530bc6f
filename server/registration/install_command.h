#pragma once
// The command that DllInstall receives (regsvr32 /i:command): where the registration goes.

#include "code_page_text.h"

namespace vrl::server {

enum class InstallScope {
    Machine,  // HKEY_CLASSES_ROOT, as DllRegisterServer does
    User,     // HKEY_CURRENT_USER\Software\Classes, no administrator rights needed
    Invalid,
};

// A null or empty command, or "machine", registers machine-wide; "user" registers for the calling
// user. Letter case does not matter (regsvr32 /i:User is the same request). Anything else is
// refused.
InstallScope ParseInstallCommand(const regscript::WideChar* command) noexcept;

}  // namespace vrl::server
