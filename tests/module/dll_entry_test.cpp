// VRLCOM.DLL loaded and freed with LoadLibrary and FreeLibrary: its exports by their plain names,
// the class object they hand out, and DllCanUnloadNow in every state.
#include <gtest/gtest.h>

#include "VRLCOM.h"
#include "com_ptr.h"

namespace vrl::test {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

const CLSID kOtherClass = {0x0BAD0BAD, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

class LoadedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::CoInitialize(nullptr), S_OK);
        Load();
    }
    void TearDown() override {
        Free();
        ::CoUninitialize();
    }

    void Load() {
        module_ = ::LoadLibraryW(VRL_DLL_PATH);
        ASSERT_NE(module_, nullptr) << "cannot load " << VRL_DLL_PATH;
        get_class_object_ = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
        can_unload_now_ = reinterpret_cast<CanUnloadNowFn>(
            reinterpret_cast<void*>(::GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_NE(get_class_object_, nullptr);
        ASSERT_NE(can_unload_now_, nullptr);
    }
    void Free() {
        if (module_ != nullptr) {
            EXPECT_TRUE(::FreeLibrary(module_));
            module_ = nullptr;
        }
    }

    static ULONG CountOf(IUnknown* object) {
        object->AddRef();
        return object->Release();
    }

    HMODULE module_ = nullptr;
    GetClassObjectFn get_class_object_ = nullptr;
    CanUnloadNowFn can_unload_now_ = nullptr;
};

TEST_F(LoadedLibrary, TheClassObjectIsCreatedOnceAndSharedByEveryRequest) {
    ComPtr<IClassFactory> first;
    ComPtr<IClassFactory> second;
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, first.put_void()), S_OK);
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, second.put_void()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    // The row's reference and the two clients'.
    EXPECT_EQ(CountOf(first.get()), 3u);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(first.get()));
}

TEST_F(LoadedLibrary, RefusalsLeaveTheOutPointerNull) {
    void* out = this;
    EXPECT_EQ(get_class_object_(kOtherClass, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = this;
    EXPECT_EQ(get_class_object_(CLSID_Vorel, IID_IVorel, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, nullptr), E_POINTER);
    // The class object stays cached after E_NOINTERFACE and holds no lock by itself.
    EXPECT_EQ(can_unload_now_(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(CountOf(factory.get()), 2u);
}

TEST_F(LoadedLibrary, CanUnloadOnlyWhenNothingHoldsTheModule) {
    EXPECT_EQ(can_unload_now_(), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(can_unload_now_(), S_FALSE);

    ComPtr<IVorel> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVorel, object.put_void()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE);  // object and lock
    object.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE);  // lock
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_OK);

    // An unmatched LockServer(FALSE) takes the count below zero: not unloadable until it is back.
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_FALSE);
    ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(can_unload_now_(), S_OK);
}

TEST_F(LoadedLibrary, LoadsAndFreesRepeatedlyStartingAfreshEachTime) {
    for (int round = 0; round < 4; ++round) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(get_class_object_(CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
        // A fresh module: only the row's reference and this one.
        EXPECT_EQ(CountOf(factory.get()), 2u) << "round " << round;
        ComPtr<IVorel> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVorel, object.put_void()), S_OK);
        UINT count = 0;
        EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        object.reset();
        factory.reset();
        EXPECT_EQ(can_unload_now_(), S_OK);
        Free();
        EXPECT_EQ(::GetModuleHandleW(VRL_DLL_PATH), nullptr) << "round " << round;
        Load();
    }
}

}  // namespace
}  // namespace vrl::test
