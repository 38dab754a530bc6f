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
    wchar_t wide[kMaxLength];
    int length = 0;
    if (!narrow.empty()) {
        const int bytes = static_cast<int>(narrow.size() < kMaxLength ? narrow.size() : kMaxLength);
        length = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), bytes, wide, static_cast<int>(kMaxLength));
    }
    const auto units = static_cast<UINT>(length > 0 ? length : 0);

    BSTR result = AllocateString(units);
    if (result != nullptr) {
        ::SysFreeString(reserved_);
    } else {
        // No memory for a string of the exact length: the reserved one is shortened in place.
        // A BSTR's length is the byte count stored in the four bytes before its first character.
        result = reserved_;
        const UINT byte_count = units * static_cast<UINT>(sizeof(wchar_t));
        std::memcpy(reinterpret_cast<unsigned char*>(result) - sizeof(UINT), &byte_count, sizeof byte_count);
    }
    reserved_ = nullptr;
    if (units > 0) {
        std::memcpy(result, wide, units * sizeof(wchar_t));
    }
    result[units] = L'\0';

    ::SysFreeString(*target);
    *target = result;
}

}  // namespace vrl::component
