#pragma once
// Test helpers: an owning COM pointer and an owning BSTR.

#include <string>
#include <utility>

#include "vrl_platform.h"

namespace vrl::test {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    // Hands the reference over to the caller.
    T* detach() { return std::exchange(p_, nullptr); }
    void reset() {
        if (p_ != nullptr) {
            std::exchange(p_, nullptr)->Release();
        }
    }

private:
    T* p_ = nullptr;
};

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
