#pragma once
// The text of a script resource: its bytes up to the first NUL, or all of them followed by a NUL.

#include <cstddef>

#include "script_platform.h"
#include "task_memory.h"

namespace vrl::regscript {

// Sets *text to the resource's text. When the data holds a NUL the text is the data itself, up to
// that NUL; otherwise the bytes are copied into `copy` with a NUL after them. Nothing past the
// resource's `size` bytes is ever read.
HRESULT ScriptTextFromResource(const void* data, std::size_t size, TaskBlock<char>& copy,
                               const char** text) noexcept;

}  // namespace vrl::regscript
