#pragma once
// Owners of what registration holds for the length of one call: the loaded library, its
// attributes and those of its types, the path string, a library module loaded by name and an open
// registry key.

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
    const TLIBATTR& operator*() const noexcept { return *attr_; }

private:
    ITypeLib* lib_;
    TLIBATTR* attr_;
};

// A type's attributes, handed back to the type information that gave them.
class TypeAttr {
public:
    TypeAttr() noexcept = default;
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    ~TypeAttr() {
        if (attr_ != nullptr) {
            info_->ReleaseTypeAttr(attr_);
        }
    }

    // Asks `info` for its attributes; false, holding none, when it gives none.
    bool Get(ITypeInfo* info) noexcept {
        info_ = info;
        if (FAILED(info->GetTypeAttr(&attr_))) {
            attr_ = nullptr;
        }
        return attr_ != nullptr;
    }
    const TYPEATTR* operator->() const noexcept { return attr_; }

private:
    ITypeInfo* info_ = nullptr;
    TYPEATTR* attr_ = nullptr;
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

class RegistryKey {
public:
    RegistryKey() noexcept = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { reset(); }

    HKEY get() const noexcept { return key_; }
    HKEY* put() noexcept {
        reset();
        return &key_;
    }
    void reset() noexcept {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
            key_ = nullptr;
        }
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace vrl::server
