#include "narrow_text.h"

#include <climits>
#include <cwchar>

#include "allocator.h"
#include "gateway_frame.h"

namespace vrl::component {

NarrowText::~NarrowText() {
    Clear();
}

void NarrowText::Clear() noexcept {
    if (data_ != nullptr && kind_ == Kind::Secret) {
        gateway::secure_clear(data_, size_);
    }
    FreeMemory(data_);
    data_ = nullptr;
    size_ = 0;
}

bool NarrowText::Assign(const wchar_t* wide) noexcept {
    Clear();
    const std::size_t length = wide != nullptr ? std::wcslen(wide) : 0;
    if (length == 0) {
        return true;
    }
    if (length > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    const int wide_length = static_cast<int>(length);
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, wide, wide_length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return true;
    }
    auto* const data = static_cast<char*>(AllocateMemory(static_cast<std::size_t>(bytes)));
    if (data == nullptr) {
        return false;
    }
    data_ = data;
    size_ = static_cast<std::size_t>(
        ::WideCharToMultiByte(CP_ACP, 0, wide, wide_length, data_, bytes, nullptr, nullptr));
    return true;
}

}  // namespace vrl::component
