#pragma once
// The library's module record started for each test and stopped after it (which drops the loaded
// type information), the type library registered from VRLCOM.DLL or not, an owning VARIANT, and
// the bytes the process's heaps hold.

#include <gtest/gtest.h>

#include "VRLCOM.h"
#include "com_ptr.h"
#include "component_module.h"
#include "type_info_holder.h"

namespace vrl::test {

inline SYSKIND NativeSysKind() {
    return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
}

inline void RegisterLibrary() {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLibEx(VRL_DLL_PATH, REGKIND_NONE, library.put()), S_OK);
    ASSERT_EQ(::RegisterTypeLib(library.get(), const_cast<LPOLESTR>(VRL_DLL_PATH), nullptr), S_OK);
}

inline void UnregisterLibrary() {
    ::UnRegisterTypeLib(LIBID_VRLCOMLib, 1, 0, 0, NativeSysKind());
}

// The entries of the library's term-callback list that clean up the holder.
inline int HolderCleanups() {
    int count = 0;
    for (const server::TermCallbackNode* node = server::LibraryModule().TermCallbacks; node != nullptr;
         node = node->next) {
        if (node->routine == component::TypeInfoHolder::Cleanup &&
            node->argument == reinterpret_cast<DWORD_PTR>(&component::VorelTypeInfo())) {
            ++count;
        }
    }
    return count;
}

// The bytes in use in all of the process's heaps, where the platform's and the component's blocks
// alike come from.
inline std::size_t HeapBytesInUse() {
    HANDLE heaps[64];
    const DWORD count = ::GetProcessHeaps(64, heaps);
    EXPECT_LE(count, 64u);
    std::size_t bytes = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        ::HeapLock(heaps[i]);
        PROCESS_HEAP_ENTRY entry{};
        while (::HeapWalk(heaps[i], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                bytes += entry.cbData;
            }
        }
        ::HeapUnlock(heaps[i]);
    }
    return bytes;
}

// Turns the platform's string cache off for the rest of the process: a released BSTR then goes back
// to the heap at once, and heap growth counts every string still held.
inline void TurnStringCacheOff() {
    const auto no_cache = reinterpret_cast<void(WINAPI*)()>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache")));
    ASSERT_NE(no_cache, nullptr);
    no_cache();
}

class ModuleScope : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::CoInitialize(nullptr), S_OK);
        ASSERT_EQ(server::ModuleInit(&server::LibraryModule(), nullptr, ::GetModuleHandleW(nullptr)), S_OK);
        RegisterLibrary();
    }
    void TearDown() override {
        server::ModuleTerm(&server::LibraryModule());
        ::CoUninitialize();
    }
};

class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { ::VariantClear(&v_); }

    VARIANT* get() { return &v_; }
    VARIANT* operator->() { return &v_; }

private:
    VARIANT v_;
};

}  // namespace vrl::test
