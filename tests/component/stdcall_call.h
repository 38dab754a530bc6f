#pragma once
// Calls a __stdcall routine with word-sized arguments from hand-written code that checks the
// callee's side of the convention: a __stdcall routine removes its own arguments from the stack.
// A routine built with another convention leaves them, and the drift shows it. 32-bit x86 only.

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace vrl::test {

#if defined(__i386__)
struct StdcallResult {
    std::uint32_t value;
    std::int32_t stack_drift;  // bytes the callee left on the stack (0 for __stdcall)
};

StdcallResult CallStdcall(const void* routine, std::initializer_list<std::uintptr_t> args);
#endif

}  // namespace vrl::test
