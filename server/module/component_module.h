#pragma once
// The library-wide module record and the lock count that keeps the library loaded: every live
// Vorel object, the class factory while clients hold it, and every LockServer(TRUE) hold one unit.

#include "vrl_platform.h"

namespace vrl::server {

struct ComponentModule {
    // Changed only by LockModule and UnlockModule, atomically. May go negative after an unmatched
    // LockServer(FALSE); the library can then not be unloaded until it is back at 0.
    volatile LONG ModuleLockCount;
};

// The one record of this library.
ComponentModule& LibraryModule() noexcept;

void LockModule() noexcept;
void UnlockModule() noexcept;

}  // namespace vrl::server
