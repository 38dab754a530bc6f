#pragma once
// One owned reference on a COM interface, released when the holder goes.

#include <utility>

namespace vrl::component {

template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* owned) noexcept : p_(owned) {}
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T** put() noexcept {
        reset();
        return &p_;
    }
    // For the calls that hand an interface back through a void** (QueryInterface, creators).
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset(T* owned = nullptr) noexcept {
        if (T* const old = std::exchange(p_, owned); old != nullptr) {
            old->Release();
        }
    }

private:
    T* p_ = nullptr;
};

}  // namespace vrl::component
