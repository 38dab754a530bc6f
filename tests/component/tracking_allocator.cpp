#include "tracking_allocator.h"

#include <new>

namespace vrl::test {

TrackingAllocator* TrackingAllocator::current_ = nullptr;

TrackingAllocator::TrackingAllocator()
    : previous_(SetAllocatorHooks({&TrackingAllocator::AllocateMemory, &TrackingAllocator::FreeMemory,
                                   &TrackingAllocator::AllocateString})) {
    current_ = this;
}

TrackingAllocator::~TrackingAllocator() {
    SetAllocatorHooks(previous_);
    current_ = nullptr;
}

void TrackingAllocator::FailFrom(int n, Failure how) {
    fail_from_ = allocations_ + n;
    failure_ = how;
}

void TrackingAllocator::FailStringsFrom(int n) {
    fail_strings_from_ = string_allocations_ + n;
}

void TrackingAllocator::Reset() {
    fail_from_ = 0;
    fail_strings_from_ = 0;
}

bool TrackingAllocator::FreedHolding(const std::string& text) const {
    for (const std::string& block : freed_) {
        if (block.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void* TrackingAllocator::AllocateMemory(std::size_t size) {
    TrackingAllocator& self = *current_;
    ++self.allocations_;
    if (self.fail_from_ != 0 && self.allocations_ >= self.fail_from_) {
        if (self.failure_ == Failure::Throw) {
            throw std::bad_alloc();
        }
        return nullptr;
    }
    void* const block = ::operator new(size);
    self.blocks_[block] = size;
    return block;
}

void TrackingAllocator::FreeMemory(void* block) noexcept {
    TrackingAllocator& self = *current_;
    const auto found = self.blocks_.find(block);
    if (found != self.blocks_.end()) {
        self.freed_.emplace_back(static_cast<const char*>(block), found->second);
        self.blocks_.erase(found);
    }
    ::operator delete(block);
}

BSTR TrackingAllocator::AllocateString(UINT length) noexcept {
    TrackingAllocator& self = *current_;
    ++self.string_allocations_;
    if (self.fail_strings_from_ != 0 && self.string_allocations_ >= self.fail_strings_from_) {
        return nullptr;
    }
    return ::SysAllocStringLen(nullptr, length);
}

}  // namespace vrl::test
