#include "allocator.h"

#include <new>

namespace vrl {
namespace {

void* DefaultAllocateMemory(std::size_t size) {
    return ::operator new(size);
}

void DefaultFreeMemory(void* block) noexcept {
    ::operator delete(block);
}

BSTR DefaultAllocateString(UINT length) noexcept {
    return ::SysAllocStringLen(nullptr, length);
}

AllocatorHooks g_hooks{DefaultAllocateMemory, DefaultFreeMemory, DefaultAllocateString};

}  // namespace

void* AllocateMemory(std::size_t size) noexcept {
    try {
        return g_hooks.allocate_memory(size);
    } catch (...) {
        return nullptr;
    }
}

void FreeMemory(void* block) noexcept {
    if (block != nullptr) {
        g_hooks.free_memory(block);
    }
}

BSTR AllocateString(UINT length) noexcept {
    return g_hooks.allocate_string(length);
}

AllocatorHooks SetAllocatorHooks(AllocatorHooks hooks) noexcept {
    const AllocatorHooks previous = g_hooks;
    g_hooks = hooks;
    return previous;
}

AllocatorHooks DefaultAllocatorHooks() noexcept {
    return {DefaultAllocateMemory, DefaultFreeMemory, DefaultAllocateString};
}

}  // namespace vrl
