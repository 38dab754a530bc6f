// The two self-registration entry points that installers and regsvr32 call.
#include <olectl.h>

#include "server_registration.h"

STDAPI DllRegisterServer() {
    return vrl::server::RegisterServer(vrl::server::LibraryModule());
}

STDAPI DllUnregisterServer() {
    return vrl::server::UnregisterServer(vrl::server::LibraryModule());
}
