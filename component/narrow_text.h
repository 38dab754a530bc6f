#pragma once
// A narrow copy of a wide argument in the ANSI code page (CP_ACP), measured up to the first NUL;
// a null string becomes the empty text. Credentials are wiped before their memory is freed.

#include <cstddef>
#include <string_view>

#include "vrl_platform.h"

namespace vrl::component {

class NarrowText {
public:
    enum class Kind { Plain, Secret };

    explicit NarrowText(Kind kind = Kind::Plain) noexcept : kind_(kind) {}
    NarrowText(const NarrowText&) = delete;
    NarrowText& operator=(const NarrowText&) = delete;
    ~NarrowText();

    // False when the memory for the copy cannot be had; the text is then empty.
    [[nodiscard]] bool Assign(const wchar_t* wide) noexcept;

    std::string_view View() const noexcept { return {data_ != nullptr ? data_ : "", size_}; }

private:
    void Clear() noexcept;

    Kind kind_;
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace vrl::component
