#include "allocator.h"

#include <new>

namespace vrl {
namespace {

void* DefaultAllocate(std::size_t size) {
    return ::operator new(size);
}

void DefaultRelease(void* block) noexcept {
    ::operator delete(block);
}

BSTR DefaultAllocateString(UINT length) noexcept {
    return ::SysAllocStringLen(nullptr, length);
}

AllocatorHooks g_hooks{DefaultAllocate, DefaultRelease, DefaultAllocateString};

}  // namespace

void* Allocate(std::size_t size) noexcept {
    try {
        return g_hooks.allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void Release(void* block) noexcept {
    if (block != nullptr) {
        g_hooks.release(block);
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
    return {DefaultAllocate, DefaultRelease, DefaultAllocateString};
}

}  // namespace vrl
