#pragma once
// A narrow copy of a wide argument in the ANSI code page (CP_ACP), measured up to the first NUL;
// a null string becomes the empty text.
//
// A text that fits a request frame's body (255 bytes) is converted into the object itself, which
// lives on the caller's stack: the common call allocates nothing. A longer field of a frame is only
// measured, never copied: no frame carries it, and its view is a stand-in of 256 NUL bytes, which
// every length test of the gateway refuses exactly as it refuses the whole text (a message over 160
// bytes, fields over 255). A server address is read whole, not framed, so a longer one is copied to
// the heap. Credentials are wiped before the memory that held them is left or freed.

#include <cstddef>
#include <string_view>

#include "gateway_frame.h"
#include "vrl_platform.h"

namespace vrl::component {

class NarrowText {
public:
    enum class Kind {
        Field,        // a field of a request frame
        SecretField,  // a field that holds a credential
        Address,      // the server's address or port, read whole
    };

    // The longest text converted in place.
    static constexpr std::size_t kCapacity = gateway::kBodyCapacity;

    explicit NarrowText(Kind kind = Kind::Field) noexcept : kind_(kind) {}
    NarrowText(const NarrowText&) = delete;
    NarrowText& operator=(const NarrowText&) = delete;
    ~NarrowText();

    // False only when an address too long for the object cannot be copied for want of memory; the
    // text is then empty.
    [[nodiscard]] bool Assign(const wchar_t* wide) noexcept;

    std::string_view View() const noexcept { return {data_, size_}; }

private:
    void Clear() noexcept;

    Kind kind_;
    const char* data_ = "";
    std::size_t size_ = 0;
    char* heap_ = nullptr;
    char buffer_[kCapacity + 1];
};

}  // namespace vrl::component
