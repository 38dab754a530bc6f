#pragma once
// Owners of what type-library registration holds for the length of one call: the loaded library,
// its attributes, the path string and a library module loaded by name.

#include <windows.h>
#include <oleauto.h>

namespace vrl::server {

class TypeLibRef {
public:
    TypeLibRef() noexcept = default;
    TypeLibRef(const TypeLibRef&) = delete;
    TypeLibRef& operator=(const TypeLibRef&) = delete;
    ~TypeLibRef() { reset(); }

    ITypeLib* get() const noexcept { return lib_; }
    ITypeLib** put() noexcept {
        reset();
        return &lib_;
    }
    void reset() noexcept {
        if (lib_ != nullptr) {
            lib_->Release();
            lib_ = nullptr;
        }
    }

private:
    ITypeLib* lib_ = nullptr;
};

class OwnedBstr {
public:
    OwnedBstr() noexcept = default;
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    ~OwnedBstr() { ::SysFreeString(text_); }

    BSTR get() const noexcept { return text_; }
    void reset(BSTR text) noexcept {
        ::SysFreeString(text_);
        text_ = text;
    }

private:
    BSTR text_ = nullptr;
};

// The library's attributes, handed back to the library that gave them.
class LibAttr {
public:
    LibAttr(ITypeLib* lib, TLIBATTR* attr) noexcept : lib_(lib), attr_(attr) {}
    LibAttr(const LibAttr&) = delete;
    LibAttr& operator=(const LibAttr&) = delete;
    ~LibAttr() {
        if (attr_ != nullptr) {
            lib_->ReleaseTLibAttr(attr_);
        }
    }

    const TLIBATTR* operator->() const noexcept { return attr_; }

private:
    ITypeLib* lib_;
    TLIBATTR* attr_;
};

class LoadedLibrary {
public:
    explicit LoadedLibrary(const char* name) noexcept : module_(::LoadLibraryA(name)) {}
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    ~LoadedLibrary() {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
        }
    }

    HMODULE get() const noexcept { return module_; }

private:
    HMODULE module_;
};

}  // namespace vrl::server
