#pragma once
// The start and stop of the library's module, called from the library's entry point when the
// process attaches and detaches it.

#include "vrl_platform.h"

namespace vrl::server {

// Marks the rows as nine words wide and initialises the library's record with its object map.
BOOL StartLibraryModule(HINSTANCE instance) noexcept;
// Releases the cached class objects, deletes the locks and runs the term callbacks.
void StopLibraryModule() noexcept;

}  // namespace vrl::server
