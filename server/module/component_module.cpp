#include "component_module.h"

namespace vrl::server {
namespace {

ComponentModule g_module{};

}  // namespace

ComponentModule& LibraryModule() noexcept {
    return g_module;
}

void LockModule() noexcept {
    ::InterlockedIncrement(&g_module.ModuleLockCount);
}

void UnlockModule() noexcept {
    ::InterlockedDecrement(&g_module.ModuleLockCount);
}

}  // namespace vrl::server
