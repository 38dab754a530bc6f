#pragma once
// The program's global operator new counts the allocations of each thread.

#include <cstddef>

namespace vrl::bench {

// Allocations made so far by the calling thread.
std::size_t thread_allocations() noexcept;

}  // namespace vrl::bench
