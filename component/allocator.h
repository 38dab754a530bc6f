#pragma once
// The one allocator of the component and its frame. Objects, the name cache, term-callback nodes,
// long server addresses and result strings come from here, so that a test can make any of these
// allocations fail, either by a null result or by an exception, and check that the failure ends in
// E_OUTOFMEMORY.

#include <cstddef>

#include "vrl_platform.h"

namespace vrl {

struct AllocatorHooks {
    // May return null or throw; both count as failure.
    void* (*allocate_memory)(std::size_t size);
    void (*free_memory)(void* block) noexcept;
    // A BSTR with room for length characters, or null.
    BSTR (*allocate_string)(UINT length) noexcept;
};

// Null when the memory cannot be had, whichever way the allocator says so.
void* AllocateMemory(std::size_t size) noexcept;
void FreeMemory(void* block) noexcept;
BSTR AllocateString(UINT length) noexcept;

// Installs new hooks and returns the previous ones (for tests).
AllocatorHooks SetAllocatorHooks(AllocatorHooks hooks) noexcept;
AllocatorHooks DefaultAllocatorHooks() noexcept;

}  // namespace vrl
