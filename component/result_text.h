#pragma once
// The text that SendMsg, SendMsg_Order and QueryMsg hand back through pBVal. The caller's string is
// allocated once, at the longest length a text can have, before anything is sent: once the gateway
// has the request, storing its answer needs no memory, and the call allocates nothing else.

#include <string_view>

#include "vrl_platform.h"

namespace vrl::component {

class ResultText {
public:
    // The longest text: a response text fills at most 128 bytes, each giving at most one UTF-16
    // code unit; the fixed local texts are shorter.
    static constexpr UINT kMaxLength = 128;

    ResultText() = default;
    ResultText(const ResultText&) = delete;
    ResultText& operator=(const ResultText&) = delete;
    ~ResultText();

    // False when the string cannot be allocated.
    [[nodiscard]] bool Reserve() noexcept;

    // Converts the narrow text from the ANSI code page into the reserved string, shortened to the
    // text's length, and stores it in *target, releasing the string that *target held
    // (SysReAllocStringLen semantics). Needs a successful Reserve().
    void Store(std::string_view narrow, BSTR* target) noexcept;

private:
    BSTR reserved_ = nullptr;
};

}  // namespace vrl::component
