#include "script_resource.h"

#include <cstdint>
#include <cstring>

namespace vrl::regscript {

HRESULT ScriptTextFromResource(const void* data, std::size_t size, TaskBlock<char>& copy,
                               const char** text) noexcept {
    *text = nullptr;
    if (size != 0 && std::memchr(data, 0, size) != nullptr) {
        *text = static_cast<const char*>(data);
        return S_OK;
    }
    copy.reset(nullptr);
    if (size == SIZE_MAX) {
        return E_OUTOFMEMORY;
    }
    auto* block = static_cast<char*>(copy.memory().Allocate(size + 1));
    if (block == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (size != 0) {
        std::memcpy(block, data, size);
    }
    block[size] = '\0';
    copy.reset(block);
    *text = block;
    return S_OK;
}

}  // namespace vrl::regscript
