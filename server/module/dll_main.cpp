// The entry point of VRLCOM.DLL: it starts the module when a process loads the library and stops it
// when the library is freed.
#include "module_hooks.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return vrl::server::StartLibraryModule(instance);
    case DLL_PROCESS_DETACH:
        // A non-null reserved argument means the process is ending. Its other threads are gone,
        // perhaps in the middle of a call holding a module lock or a class object, and the
        // libraries this one calls into may already have shut down: releasing class objects or
        // type information then could hang or crash, and everything goes with the process anyway.
        // FreeLibrary (reserved null) runs the full stop.
        if (reserved == nullptr) {
            vrl::server::StopLibraryModule();
        }
        return TRUE;
    default:
        // Threads that come and go leave the module untouched.
        return TRUE;
    }
}
