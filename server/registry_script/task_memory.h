#pragma once
// Task memory for the replacement variables, the expanded script text and the terminated copy of
// a script resource. system_task_memory() is CoTaskMemAlloc/Realloc/Free on Windows and the C
// allocator elsewhere; tests pass an allocator that fails on request.

#include <cstddef>

namespace vrl::regscript {

class TaskMemory {
public:
    virtual ~TaskMemory() = default;
    // Null when nothing can be allocated. Reallocate leaves the block untouched on failure.
    virtual void* Allocate(std::size_t size) noexcept = 0;
    virtual void* Reallocate(void* block, std::size_t size) noexcept = 0;
    virtual void Free(void* block) noexcept = 0;
};

TaskMemory& system_task_memory() noexcept;

// Owns one block of task memory.
template <typename T>
class TaskBlock {
public:
    explicit TaskBlock(TaskMemory& memory, T* block = nullptr) noexcept
        : memory_(memory), block_(block) {}
    TaskBlock(const TaskBlock&) = delete;
    TaskBlock& operator=(const TaskBlock&) = delete;
    ~TaskBlock() { memory_.Free(block_); }

    TaskMemory& memory() const noexcept { return memory_; }
    void reset(T* block) noexcept {
        memory_.Free(block_);
        block_ = block;
    }

private:
    TaskMemory& memory_;
    T* block_;
};

}  // namespace vrl::regscript
