#pragma once
// Installs allocator hooks for the life of the object: counts live blocks, can make allocations
// fail from the n-th on (by a null result or by an exception), and remembers whether a block
// still held a given text when it was released.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "allocator.h"

namespace vrl::test {

class TrackingAllocator {
public:
    enum class Failure { Null, Throw };

    TrackingAllocator();
    TrackingAllocator(const TrackingAllocator&) = delete;
    TrackingAllocator& operator=(const TrackingAllocator&) = delete;
    ~TrackingAllocator();

    // Allocation number n (1-based, counted from now) and every later one fail.
    void FailFrom(int n, Failure how);
    // String allocation number n (1-based) and every later one fail.
    void FailStringsFrom(int n);
    void Reset();

    std::size_t LiveBlocks() const { return blocks_.size(); }
    int Allocations() const { return allocations_; }
    int StringAllocations() const { return string_allocations_; }
    // Whether a block was freed while it still held this text.
    bool FreedHolding(const std::string& text) const;

private:
    static void* AllocateMemory(std::size_t size);
    static void FreeMemory(void* block) noexcept;
    static BSTR AllocateString(UINT length) noexcept;

    static TrackingAllocator* current_;
    AllocatorHooks previous_;
    std::map<void*, std::size_t> blocks_;
    std::vector<std::string> freed_;
    int allocations_ = 0;
    int string_allocations_ = 0;
    int fail_from_ = 0;
    Failure failure_ = Failure::Null;
    int fail_strings_from_ = 0;
};

}  // namespace vrl::test
