#include "server_install.h"

#include "server_registration.h"
#include "user_classes.h"

namespace vrl::server {

HRESULT InstallServer(const ComponentModule& module, bool install,
                      const regscript::WideChar* command) noexcept {
    switch (ParseInstallCommand(command)) {
    case InstallScope::Machine:
        return install ? RegisterServer(module) : UnregisterServer(module);
    case InstallScope::User: {
        // The type library goes through the platform's per-user functions, which write the user's
        // classes on Windows; under the redirection as well, since Wine's register machine-wide.
        const UserClassesRoot user_classes;
        if (FAILED(user_classes.result())) {
            return user_classes.result();
        }
        if (install) {
            return RegisterServer(module, InstallScope::User);
        }
        static_cast<void>(UnregisterServer(module, InstallScope::User));
        user_classes.RemoveEmptyContainers();
        return S_OK;
    }
    case InstallScope::Invalid:
        break;
    }
    return E_INVALIDARG;
}

}  // namespace vrl::server
