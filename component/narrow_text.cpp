#include "narrow_text.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "allocator.h"

namespace vrl::component {

NarrowText::~NarrowText() {
    Clear();
}

void NarrowText::Clear() noexcept {
    if (kind_ == Kind::SecretField && data_ == buffer_) {
        // All of it: a conversion that did not fit may have written past the text it left.
        gateway::secure_clear(buffer_, sizeof buffer_);
    }
    FreeMemory(heap_);
    heap_ = nullptr;
    data_ = "";
    size_ = 0;
}

bool NarrowText::Assign(const wchar_t* wide) noexcept {
    Clear();
    const std::size_t length = wide != nullptr ? std::wcslen(wide) : 0;
    if (length == 0) {
        return true;
    }
    int bytes = 0;
    if (length <= static_cast<std::size_t>(INT_MAX)) {
        const int wide_length = static_cast<int>(length);
        data_ = buffer_;
        bytes = ::WideCharToMultiByte(CP_ACP, 0, wide, wide_length, buffer_, static_cast<int>(kCapacity), nullptr,
                                      nullptr);
        if (bytes > 0) {
            size_ = static_cast<std::size_t>(bytes);
            return true;
        }
        bytes = ::WideCharToMultiByte(CP_ACP, 0, wide, wide_length, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) {
            // Nothing the code page can express: the empty text, as the conversion gives it.
            return true;
        }
    }
    if (kind_ != Kind::Address) {
        data_ = buffer_;
        std::memset(buffer_, 0, sizeof buffer_);
        size_ = sizeof buffer_;
        return true;
    }
    data_ = "";
    if (bytes <= 0) {
        return false;
    }
    heap_ = static_cast<char*>(AllocateMemory(static_cast<std::size_t>(bytes)));
    if (heap_ == nullptr) {
        return false;
    }
    data_ = heap_;
    size_ = static_cast<std::size_t>(
        ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), heap_, bytes, nullptr, nullptr));
    return true;
}

}  // namespace vrl::component
