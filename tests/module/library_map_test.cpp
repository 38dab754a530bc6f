// The library's own record and object map: the Vorel row, its cached ClassFactory and the lock
// count across class-object references, LockServer and object lifetimes.
#include <gtest/gtest.h>

#include <cstring>

#include "VRLCOM.h"
#include "class_factory.h"
#include "com_ptr.h"
#include "component_module.h"
#include "module_hooks.h"
#include "object_map.h"
#include "tracking_allocator.h"

namespace vrl::server {
namespace {

class LibraryMap : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartLibraryModule(::GetModuleHandleW(nullptr))); }
    void TearDown() override {
        if (!stopped_) {
            StopLibraryModule();
        }
    }

    static LONG LockCount() { return LibraryModule().ModuleLockCount; }
    static ObjectMapEntry& VorelRow() { return LibraryObjectMap()[0]; }
    static ULONG CountOf(IUnknown* object) {
        object->AddRef();
        return object->Release();
    }
    void Stop() {
        StopLibraryModule();
        stopped_ = true;
    }

    bool stopped_ = false;
};

TEST_F(LibraryMap, TheMapHoldsTheVorelRowThenTheEndRow) {
    EXPECT_EQ(LibraryModule().LayoutMarker, kNineWordLayout);
    EXPECT_EQ(LibraryModule().ObjectMap, LibraryObjectMap());
    const ObjectMapEntry& row = VorelRow();
    EXPECT_EQ(row.class_id, &CLSID_Vorel);
    EXPECT_NE(row.update_registry, nullptr);
    EXPECT_EQ(row.class_object_creator, CreateClassFactory);
    EXPECT_NE(row.instance_creator, nullptr);
    EXPECT_EQ(row.class_object, nullptr);
    EXPECT_EQ(row.registration_cookie, 0u);
    ASSERT_NE(row.description, nullptr);
    EXPECT_EQ(row.description(), nullptr);
    ASSERT_NE(row.category_list, nullptr);
    EXPECT_EQ(row.category_list(), nullptr);
    ASSERT_NE(row.class_init, nullptr);
    const ObjectMapEntry& end = *NextObjectMapRow(LibraryModule(), LibraryObjectMap());
    const ObjectMapEntry zero{};
    EXPECT_EQ(std::memcmp(&end, &zero, sizeof(ObjectMapEntry)), 0);
}

TEST_F(LibraryMap, TwoRequestsShareOneFactoryThatLocksTheModuleOnce) {
    test::ComPtr<IClassFactory> first;
    test::ComPtr<IClassFactory> second;
    ASSERT_EQ(ModuleGetClassObject(&LibraryModule(), CLSID_Vorel, IID_IClassFactory, first.put_void()), S_OK);
    ASSERT_EQ(ModuleGetClassObject(&LibraryModule(), CLSID_Vorel, IID_IClassFactory, second.put_void()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(static_cast<IUnknown*>(first.get()), VorelRow().class_object);
    EXPECT_EQ(static_cast<ClassFactory*>(first.get())->Count(), 3);
    EXPECT_EQ(LockCount(), 1);

    // Objects and LockServer hold one unit each.
    test::ComPtr<IVorel> object;
    ASSERT_EQ(first->CreateInstance(nullptr, IID_IVorel, object.put_void()), S_OK);
    EXPECT_EQ(LockCount(), 2);
    EXPECT_EQ(first->LockServer(TRUE), S_OK);
    EXPECT_EQ(LockCount(), 3);
    EXPECT_EQ(first->LockServer(FALSE), S_OK);
    object.reset();
    second.reset();
    EXPECT_EQ(LockCount(), 1);
    first.reset();
    EXPECT_EQ(LockCount(), 0);
    EXPECT_EQ(CountOf(VorelRow().class_object), 1u);
}

TEST_F(LibraryMap, AMissingInterfaceLeavesTheFactoryCachedAndTheModuleUnlocked) {
    void* out = this;
    EXPECT_EQ(ModuleGetClassObject(&LibraryModule(), CLSID_Vorel, IID_IVorel, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    ASSERT_NE(VorelRow().class_object, nullptr);
    EXPECT_EQ(CountOf(VorelRow().class_object), 1u);
    EXPECT_EQ(LockCount(), 0);
}

TEST_F(LibraryMap, TermDestroysAFactoryNoClientHolds) {
    test::TrackingAllocator allocator;
    test::ComPtr<IClassFactory> factory;
    ASSERT_EQ(ModuleGetClassObject(&LibraryModule(), CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(allocator.LiveBlocks(), 1u);
    Stop();
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    EXPECT_EQ(VorelRow().class_object, nullptr);
}

TEST_F(LibraryMap, AFactoryAClientStillHoldsOutlivesTerm) {
    test::TrackingAllocator allocator;
    test::ComPtr<IClassFactory> factory;
    ASSERT_EQ(ModuleGetClassObject(&LibraryModule(), CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
    Stop();
    EXPECT_EQ(VorelRow().class_object, nullptr);
    EXPECT_EQ(allocator.LiveBlocks(), 1u);
    factory.reset();
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
}

TEST_F(LibraryMap, AFailedFactoryAllocationCachesNothingAndTheNextRequestSucceeds) {
    test::TrackingAllocator allocator;
    allocator.FailFrom(1, test::TrackingAllocator::Failure::Throw);
    void* out = this;
    EXPECT_EQ(ModuleGetClassObject(&LibraryModule(), CLSID_Vorel, IID_IClassFactory, &out), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(VorelRow().class_object, nullptr);
    allocator.Reset();
    test::ComPtr<IClassFactory> factory;
    EXPECT_EQ(ModuleGetClassObject(&LibraryModule(), CLSID_Vorel, IID_IClassFactory, factory.put_void()), S_OK);
}

}  // namespace
}  // namespace vrl::server
