#include "result_text.h"

#include <cstring>

#include "allocator.h"

namespace vrl::component {

ResultText::~ResultText() {
    ::SysFreeString(reserved_);
}

bool ResultText::Reserve() noexcept {
    if (reserved_ == nullptr) {
        reserved_ = AllocateString(kMaxLength);
    }
    return reserved_ != nullptr;
}

void ResultText::Store(std::string_view narrow, BSTR* target) noexcept {
    int length = 0;
    if (!narrow.empty()) {
        const int bytes = static_cast<int>(narrow.size() < kMaxLength ? narrow.size() : kMaxLength);
        length = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, reserved_, static_cast<int>(kMaxLength));
    }
    const auto units = static_cast<UINT>(length > 0 ? length : 0);
    // Shortened in place: a BSTR's length is the byte count stored in the four bytes before its
    // first character, and a string may own more room than its length says.
    const UINT byte_count = units * static_cast<UINT>(sizeof(wchar_t));
    std::memcpy(reinterpret_cast<unsigned char*>(reserved_) - sizeof(UINT), &byte_count, sizeof byte_count);
    reserved_[units] = L'\0';

    ::SysFreeString(*target);
    *target = reserved_;
    reserved_ = nullptr;
}

}  // namespace vrl::component
