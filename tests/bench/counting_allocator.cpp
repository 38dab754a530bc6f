// Replaces the global allocation functions. Kept in a file of its own so that the compiler does
// not see new and free paired in one inlined body.
#include "counting_allocator.h"

#include <cstdlib>
#include <new>

namespace {

thread_local std::size_t t_allocations = 0;

}  // namespace

namespace vrl::bench {

std::size_t thread_allocations() noexcept {
    return t_allocations;
}

}  // namespace vrl::bench

void* operator new(std::size_t size) {
    ++t_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++t_allocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
