#pragma once
// Test helpers: the component's owning COM pointer under the tests' name, and an owning BSTR.

#include <string>

#include "com_ref.h"
#include "vrl_platform.h"

namespace vrl::test {

template <class T>
using ComPtr = component::ComRef<T>;

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : s_(::SysAllocString(text)) {}
    Bstr(const wchar_t* text, UINT length) : s_(::SysAllocStringLen(text, length)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { ::SysFreeString(s_); }

    BSTR get() const { return s_; }
    BSTR* put() {
        ::SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    // The BSTR's content as a wide string (its full length, NULs included).
    std::wstring str() const { return s_ != nullptr ? std::wstring(s_, ::SysStringLen(s_)) : std::wstring(); }

private:
    BSTR s_ = nullptr;
};

}  // namespace vrl::test
