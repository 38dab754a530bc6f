#include "stdcall_call.h"

#if defined(__i386__)

extern "C" std::uint32_t vrl_call_stdcall(const void* routine, const std::uintptr_t* args, std::uint32_t count,
                                          std::int32_t* drift);

// The arguments are pushed right to left; EDI (callee-saved in every convention) keeps the stack
// pointer from before the pushes, so after the call ESP - EDI is what the callee failed to pop.
asm(R"(
    .text
    .globl _vrl_call_stdcall
_vrl_call_stdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %edi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl %esp, %ecx
    subl %edi, %ecx
    negl %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    movl %edi, %esp
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

namespace vrl::test {

StdcallResult CallStdcall(const void* routine, std::initializer_list<std::uintptr_t> args) {
    StdcallResult result{};
    result.value = vrl_call_stdcall(routine, args.begin(), static_cast<std::uint32_t>(args.size()),
                                    &result.stack_drift);
    return result;
}

}  // namespace vrl::test

#endif
