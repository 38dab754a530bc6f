// The class factory and the lifetime of Vorel objects: reference counts, the module lock count,
// interface identity, aggregation into a test outer object, and allocation failure in every creator.
#include <gtest/gtest.h>

#include <vector>

#include "VRLCOM.h"
#include "allocator.h"
#include "aggregated_vorel.h"
#include "class_factory.h"
#include "com_ptr.h"
#include "component_module.h"
#include "plain_vorel.h"
#include "test_outer.h"
#include "tracking_allocator.h"
#include "vorel_creators.h"

namespace vrl::server {
namespace {

using test::ComPtr;
using test::TestOuter;
using test::TrackingAllocator;

LONG LockCount() {
    return LibraryModule().ModuleLockCount;
}

const IID kOtherId = {0x5EC0DDA7, 0x1234, 0x4321, {9, 8, 7, 6, 5, 4, 3, 2}};

class ObjectLifetime : public ::testing::Test {
protected:
    void SetUp() override {
        lock_at_start_ = LockCount();
        ASSERT_EQ(CreateClassFactory(reinterpret_cast<void*>(&CreateVorel), IID_IUnknown, row_.put_void()), S_OK);
    }
    void TearDown() override {
        row_.reset();
        EXPECT_EQ(LockCount(), lock_at_start_);
        EXPECT_EQ(allocator_.LiveBlocks(), 0u);
    }

    ClassFactory* Factory() { return static_cast<ClassFactory*>(static_cast<IClassFactory*>(row_.get())); }

    TrackingAllocator allocator_;
    LONG lock_at_start_ = 0;
    ComPtr<IUnknown> row_;  // the object map row's reference
};

TEST_F(ObjectLifetime, FactoryLocksTheModuleOnlyWhileClientsHoldIt) {
    EXPECT_EQ(Factory()->Count(), 1);
    EXPECT_EQ(LockCount(), lock_at_start_);
    {
        ComPtr<IClassFactory> client;
        ASSERT_EQ(row_->QueryInterface(IID_IClassFactory, client.put_void()), S_OK);
        EXPECT_EQ(static_cast<void*>(client.get()), static_cast<void*>(row_.get()));
        EXPECT_EQ(Factory()->Count(), 2);
        EXPECT_EQ(LockCount(), lock_at_start_ + 1);
        ComPtr<IClassFactory> second;
        ASSERT_EQ(row_->QueryInterface(IID_IClassFactory, second.put_void()), S_OK);
        EXPECT_EQ(Factory()->Count(), 3);
        EXPECT_EQ(LockCount(), lock_at_start_ + 1);
    }
    EXPECT_EQ(Factory()->Count(), 1);
    EXPECT_EQ(LockCount(), lock_at_start_);

    ComPtr<IUnknown> other;
    EXPECT_EQ(row_->QueryInterface(kOtherId, other.put_void()), E_NOINTERFACE);
    EXPECT_EQ(other.get(), nullptr);
    EXPECT_EQ(row_->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(Factory()->Count(), 1);
}

TEST_F(ObjectLifetime, LockServerCountsEveryCallEvenUnmatched) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(row_->QueryInterface(IID_IClassFactory, factory.put_void()), S_OK);
    const LONG held = LockCount();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(LockCount(), held + 2);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(LockCount(), held - 1);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(LockCount(), held);
}

TEST_F(ObjectLifetime, PlainObjectHasOneIdentityAndHoldsOneModuleLock) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(row_->QueryInterface(IID_IClassFactory, factory.put_void()), S_OK);
    const LONG held = LockCount();

    IVorel* vorel = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVorel, reinterpret_cast<void**>(&vorel)), S_OK);
    auto* const plain = static_cast<PlainVorel*>(vorel);
    EXPECT_EQ(plain->Count(), 1);
    EXPECT_EQ(LockCount(), held + 1);

    void* unknown = nullptr;
    void* dispatch = nullptr;
    void* again = nullptr;
    ASSERT_EQ(vorel->QueryInterface(IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(vorel->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    ASSERT_EQ(vorel->QueryInterface(IID_IVorel, &again), S_OK);
    EXPECT_EQ(unknown, vorel);
    EXPECT_EQ(dispatch, vorel);
    EXPECT_EQ(again, vorel);
    EXPECT_EQ(plain->Count(), 4);

    void* other = &other;
    EXPECT_EQ(vorel->QueryInterface(kOtherId, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(vorel->QueryInterface(IID_IVorel, nullptr), E_POINTER);
    EXPECT_EQ(plain->Count(), 4);

    EXPECT_EQ(vorel->Release(), 3u);
    EXPECT_EQ(vorel->Release(), 2u);
    EXPECT_EQ(vorel->Release(), 1u);
    EXPECT_EQ(LockCount(), held + 1);
    EXPECT_EQ(vorel->Release(), 0u);
    EXPECT_EQ(LockCount(), held);
}

TEST_F(ObjectLifetime, CreateInstanceRefusals) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(row_->QueryInterface(IID_IClassFactory, factory.put_void()), S_OK);
    const LONG held = LockCount();
    TestOuter outer;
    void* out = &out;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IVorel, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVorel, nullptr), E_POINTER);

    // An interface outside the table: the new object is undone again.
    out = &out;
    EXPECT_EQ(factory->CreateInstance(nullptr, kOtherId, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(allocator_.Allocations(), 2);  // the factory, then the object that was undone
    EXPECT_EQ(LockCount(), held);
    EXPECT_EQ(allocator_.LiveBlocks(), 1u);  // the factory alone
    EXPECT_EQ(outer.refs, 1);
}

TEST_F(ObjectLifetime, AggregatedObjectTakesTheOuterIdentityAndLifetime) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(row_->QueryInterface(IID_IClassFactory, factory.put_void()), S_OK);
    const LONG held = LockCount();
    TestOuter outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    auto* const aggregate = static_cast<AggregatedVorel*>(outer.inner);
    EXPECT_EQ(aggregate->InnerCount(), 1);
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(LockCount(), held + 1);

    // Asking the inner IUnknown for IUnknown gives the inner IUnknown itself.
    void* inner_again = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, &inner_again), S_OK);
    EXPECT_EQ(inner_again, outer.inner);
    EXPECT_EQ(aggregate->InnerCount(), 2);
    outer.inner->Release();
    EXPECT_EQ(outer.inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    // Interfaces reached through the outer object are the contained object's; their references
    // belong to the outer object.
    IVorel* vorel = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IVorel, reinterpret_cast<void**>(&vorel)), S_OK);
    EXPECT_EQ(vorel, static_cast<IVorel*>(&aggregate->Contained()));
    EXPECT_EQ(outer.refs, 2);
    EXPECT_EQ(aggregate->InnerCount(), 1);
    EXPECT_EQ(vorel->AddRef(), 3u);
    EXPECT_EQ(outer.refs, 3);
    EXPECT_EQ(aggregate->InnerCount(), 1);
    EXPECT_EQ(vorel->Release(), 2u);

    void* identity = nullptr;
    ASSERT_EQ(vorel->QueryInterface(IID_IUnknown, &identity), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    void* dispatch = nullptr;
    ASSERT_EQ(vorel->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    EXPECT_EQ(dispatch, vorel);
    EXPECT_EQ(outer.refs, 4);
    // Something neither the outer object nor the table knows.
    void* other = &other;
    EXPECT_EQ(vorel->QueryInterface(kOtherId, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(outer.refs, 4);
    vorel->Release();
    vorel->Release();
    vorel->Release();
    EXPECT_EQ(outer.refs, 1);

    // The aggregate goes when the outer object lets go of the inner IUnknown.
    EXPECT_EQ(LockCount(), held + 1);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(LockCount(), held);
}

TEST_F(ObjectLifetime, DelegatingQueryFallsBackToTheTableWhenTheOuterRefuses) {
    TestOuter outer(/*refuse_dispatch=*/true);
    ASSERT_EQ(CreateVorel(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    auto* const aggregate = static_cast<AggregatedVorel*>(outer.inner);
    IVorel* vorel = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IVorel, reinterpret_cast<void**>(&vorel)), S_OK);
    void* refused = &refused;
    EXPECT_EQ(outer.QueryInterface(IID_IDispatch, &refused), E_NOINTERFACE);

    void* dispatch = nullptr;
    ASSERT_EQ(vorel->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    EXPECT_EQ(dispatch, static_cast<IDispatch*>(&aggregate->Contained()));
    EXPECT_EQ(outer.refs, 3);
    EXPECT_EQ(aggregate->InnerCount(), 1);
    static_cast<IDispatch*>(dispatch)->Release();
    vorel->Release();
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(outer.inner->Release(), 0u);
}

// Only the outer object may hold an aggregate, through its inner IUnknown: the creators refuse any
// other interface themselves, before anything is made, so no caller can make an aggregate that no
// one owns.
TEST_F(ObjectLifetime, AggregatedCreationForAnotherInterfaceIsRefusedByTheCreators) {
    TestOuter outer;
    const LONG held = LockCount();
    const int before = allocator_.Allocations();
    for (const IID* riid : {&IID_IVorel, &IID_IDispatch, &kOtherId}) {
        void* out = &out;
        EXPECT_EQ(CreateAggregatedVorel(&outer, *riid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
        out = &out;
        EXPECT_EQ(CreateVorel(&outer, *riid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(CreateVorel(&outer, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(CreateVorel(nullptr, IID_IVorel, nullptr), E_POINTER);
    EXPECT_EQ(CreateClassFactory(reinterpret_cast<void*>(&CreateVorel), IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(allocator_.Allocations(), before);
    EXPECT_EQ(LockCount(), held);
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(outer.queries, 0);
}

TEST_F(ObjectLifetime, DelegatingQueryWithoutAnOutPointerAsksNoOne) {
    TestOuter outer;
    ASSERT_EQ(CreateVorel(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    auto* const aggregate = static_cast<AggregatedVorel*>(outer.inner);
    EXPECT_EQ(aggregate->Contained().QueryInterface(IID_IVorel, nullptr), E_POINTER);
    EXPECT_EQ(aggregate->Contained().QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(outer.queries, 0);
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(outer.inner->Release(), 0u);
}

// The library may be unloaded as soon as the module's lock count reaches 0: by then the object's
// memory must be gone, or an unload could pull the code from under the free.
std::vector<LONG> g_locks_at_free;

void FreeRecordingLock(void* block) noexcept {
    g_locks_at_free.push_back(LockCount());
    ::operator delete(block);
}

TEST_F(ObjectLifetime, AnObjectFreesItsMemoryBeforeItUnlocksTheModule) {
    AllocatorHooks hooks = DefaultAllocatorHooks();
    hooks.free_memory = FreeRecordingLock;
    const AllocatorHooks previous = SetAllocatorHooks(hooks);
    g_locks_at_free.clear();
    const LONG held = LockCount();
    IVorel* plain = nullptr;
    ASSERT_EQ(CreateVorel(nullptr, IID_IVorel, reinterpret_cast<void**>(&plain)), S_OK);
    TestOuter outer;
    ASSERT_EQ(CreateVorel(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_EQ(LockCount(), held + 2);
    EXPECT_EQ(plain->Release(), 0u);
    EXPECT_EQ(outer.inner->Release(), 0u);
    SetAllocatorHooks(previous);
    EXPECT_EQ(g_locks_at_free, (std::vector<LONG>{held + 2, held + 1}));
    EXPECT_EQ(LockCount(), held);
}

TEST_F(ObjectLifetime, FactoryForAnInterfaceItLacksIsDestroyedAgain) {
    const int before = allocator_.Allocations();
    ComPtr<IUnknown> other;
    EXPECT_EQ(CreateClassFactory(reinterpret_cast<void*>(&CreateVorel), kOtherId, other.put_void()), E_NOINTERFACE);
    EXPECT_EQ(other.get(), nullptr);
    EXPECT_EQ(allocator_.Allocations(), before + 1);
    EXPECT_EQ(allocator_.LiveBlocks(), 1u);
}

TEST_F(ObjectLifetime, AllocationFailureInEveryCreator) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(row_->QueryInterface(IID_IClassFactory, factory.put_void()), S_OK);
    const LONG held = LockCount();
    for (const auto how : {TrackingAllocator::Failure::Null, TrackingAllocator::Failure::Throw}) {
        SCOPED_TRACE(how == TrackingAllocator::Failure::Null ? "null result" : "exception");
        allocator_.FailFrom(1, how);
        TestOuter outer;
        // Each creator leaves the out pointer null, whatever it held.
        void* out = &out;
        EXPECT_EQ(CreateClassFactory(reinterpret_cast<void*>(&CreateVorel), IID_IUnknown, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        out = &out;
        EXPECT_EQ(CreatePlainVorel(nullptr, IID_IVorel, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        out = &out;
        EXPECT_EQ(CreateAggregatedVorel(&outer, IID_IUnknown, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        out = &out;
        EXPECT_EQ(CreateVorel(nullptr, IID_IVorel, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        out = &out;
        EXPECT_EQ(CreateVorel(&outer, IID_IUnknown, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        out = &out;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVorel, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), E_OUTOFMEMORY);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(outer.refs, 1);
        EXPECT_EQ(LockCount(), held);
        EXPECT_EQ(allocator_.LiveBlocks(), 1u);  // the factory alone
    }
    allocator_.Reset();
    ComPtr<IVorel> vorel;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVorel, vorel.put_void()), S_OK);
}

TEST_F(ObjectLifetime, LastReleaseOfTheRowReferenceDestroysTheFactory) {
    EXPECT_EQ(allocator_.LiveBlocks(), 1u);
    EXPECT_EQ(row_.detach()->Release(), 0u);
    EXPECT_EQ(allocator_.LiveBlocks(), 0u);
}

// The interface pointer of a plain object is the object's start, as its table's offset rows say;
// the same holds for the contained object of an aggregate, whose inner IUnknown is at its start.
TEST(Layout, InterfacePointersSitWhereTheTablesSay) {
    alignas(PlainVorel) unsigned char plain[sizeof(PlainVorel)];
    auto* const object = reinterpret_cast<PlainVorel*>(plain);
    EXPECT_EQ(static_cast<void*>(static_cast<IVorel*>(object)), static_cast<void*>(plain));
    EXPECT_EQ(static_cast<void*>(static_cast<IDispatch*>(object)), static_cast<void*>(plain));

    alignas(AggregatedVorel) unsigned char aggregated[sizeof(AggregatedVorel)];
    auto* const aggregate = reinterpret_cast<AggregatedVorel*>(aggregated);
    EXPECT_EQ(static_cast<void*>(static_cast<IUnknown*>(aggregate)), static_cast<void*>(aggregated));
}

}  // namespace
}  // namespace vrl::server
