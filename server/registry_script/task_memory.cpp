#include "task_memory.h"

#ifdef _WIN32
#include <objbase.h>
#else
#include <cstdlib>
#endif

namespace vrl::regscript {
namespace {

class SystemTaskMemory final : public TaskMemory {
public:
#ifdef _WIN32
    void* Allocate(std::size_t size) noexcept override { return CoTaskMemAlloc(size); }
    void* Reallocate(void* block, std::size_t size) noexcept override {
        return CoTaskMemRealloc(block, size);
    }
    void Free(void* block) noexcept override { CoTaskMemFree(block); }
#else
    // A zero-byte request still gets a block, as CoTaskMemAlloc gives one.
    void* Allocate(std::size_t size) noexcept override { return std::malloc(size == 0 ? 1 : size); }
    void* Reallocate(void* block, std::size_t size) noexcept override {
        return std::realloc(block, size == 0 ? 1 : size);
    }
    void Free(void* block) noexcept override { std::free(block); }
#endif
};

}  // namespace

TaskMemory& system_task_memory() noexcept {
    static SystemTaskMemory memory;
    return memory;
}

}  // namespace vrl::regscript
