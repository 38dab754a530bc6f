#include "module_hooks.h"

#include "component_module.h"
#include "object_map.h"

namespace vrl::server {

BOOL StartLibraryModule(HINSTANCE instance) noexcept {
    ComponentModule& module = LibraryModule();
    module.LayoutMarker = kNineWordLayout;
    ModuleInit(&module, LibraryObjectMap(), instance);
    return TRUE;
}

void StopLibraryModule() noexcept {
    ModuleTerm(&LibraryModule());
}

}  // namespace vrl::server
