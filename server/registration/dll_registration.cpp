// The self-registration entry points that installers and regsvr32 call: DllRegisterServer and
// DllUnregisterServer machine-wide, DllInstall (regsvr32 /n /i:user) also for the calling user.
#include <olectl.h>

#include "server_install.h"
#include "server_registration.h"

STDAPI DllRegisterServer() {
    return vrl::server::RegisterServer(vrl::server::LibraryModule());
}

STDAPI DllUnregisterServer() {
    return vrl::server::UnregisterServer(vrl::server::LibraryModule());
}

STDAPI DllInstall(BOOL install, LPCWSTR command) {
    return vrl::server::InstallServer(vrl::server::LibraryModule(), install != FALSE, command);
}
