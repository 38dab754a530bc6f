// The exported entry points of the in-process server that hand out class objects and say whether
// the library may be unloaded. Exported by their plain names through vrlcom.def.
#include "component_module.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return vrl::server::ModuleGetClassObject(&vrl::server::LibraryModule(), rclsid, riid, ppv);
}

// Only the lock count keeps this library loaded: live objects, client references to the class
// object and LockServer locks. A negative count (an unmatched LockServer(FALSE)) keeps it too.
STDAPI DllCanUnloadNow() {
    return vrl::server::LibraryModule().ModuleLockCount == 0 ? S_OK : S_FALSE;
}
