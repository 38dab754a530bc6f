// The type-information holder through the real OLE Automation: loading on first use and after a
// late registration, the name cache and the type information's own look-up behind it, and the
// term-callback entries that clean it up.
#include <atomic>
#include <cstring>
#include <thread>

#include "dispatch_fixture.h"
#include "tracking_allocator.h"
#include "vorel.h"
#include "vorel_creators.h"

namespace vrl::test {
namespace {

using component::VorelTypeInfo;

class TypeInfoHolderTest : public ModuleScope {
protected:
    void SetUp() override {
        ModuleScope::SetUp();
        ASSERT_EQ(server::CreateVorel(nullptr, IID_IVorel, object_.put_void()), S_OK);
    }
    void TearDown() override {
        object_.reset();
        ModuleScope::TearDown();
    }

    HRESULT Look(const wchar_t* name, DISPID* id) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return object_->GetIDsOfNames(IID_NULL, names, 1, 0, id);
    }

    // What the type information itself answers for one name.
    static HRESULT PlatformLook(const wchar_t* name, DISPID* id) {
        ComPtr<ITypeLib> library;
        EXPECT_EQ(::LoadRegTypeLib(LIBID_VRLCOMLib, 1, 0, 0, library.put()), S_OK);
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(library->GetTypeInfoOfGuid(IID_IVorel, info.put()), S_OK);
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return info->GetIDsOfNames(names, 1, id);
    }

    ComPtr<IVorel> object_;
};

TEST_F(TypeInfoHolderTest, TypeInfoCountIsOneWithoutLoadingAnything) {
    UnregisterLibrary();
    UINT count = 0;
    EXPECT_EQ(object_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(object_->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_FALSE(VorelTypeInfo().IsLoaded());
    EXPECT_EQ(HolderCleanups(), 0);
}

TEST_F(TypeInfoHolderTest, EveryIndexYieldsTheOneTypeInformationWithAReferenceEach) {
    ComPtr<ITypeInfo> first;
    ComPtr<ITypeInfo> fifth;
    ASSERT_EQ(object_->GetTypeInfo(0, 0, first.put()), S_OK);
    const ULONG count = first->AddRef();
    first->Release();
    ASSERT_EQ(object_->GetTypeInfo(5, 0, fifth.put()), S_OK);
    EXPECT_EQ(first.get(), fifth.get());
    EXPECT_EQ(first->AddRef(), count + 1);
    first->Release();
    // The holder keeps the ITypeInfo2 form when the platform offers it.
    ComPtr<ITypeInfo2> second_form;
    EXPECT_EQ(first->QueryInterface(IID_ITypeInfo2, second_form.put_void()), S_OK);
    EXPECT_EQ(static_cast<ITypeInfo*>(second_form.get()), first.get());
}

TEST_F(TypeInfoHolderTest, ANullOutPointerLoadsNothing) {
    EXPECT_EQ(object_->GetTypeInfo(0, 0, nullptr), E_POINTER);
    EXPECT_FALSE(VorelTypeInfo().IsLoaded());
    EXPECT_EQ(HolderCleanups(), 0);
}

TEST_F(TypeInfoHolderTest, MemberNamesComeFromTheCache) {
    const wchar_t* const names[] = {L"StartCon", L"SendMsg", L"SendMsg_Order", L"QueryMsg", L"EndCon"};
    for (int i = 0; i < 5; ++i) {
        DISPID id = -100;
        EXPECT_EQ(Look(names[i], &id), S_OK) << names[i];
        EXPECT_EQ(id, i + 1) << names[i];
    }
    // Every method's name is in the cache; a changed entry shows that look-ups are served from it.
    auto* const entries = const_cast<component::NameCacheEntry*>(VorelTypeInfo().Entries());
    component::NameCacheEntry* send = nullptr;
    for (LONG i = 0; i < VorelTypeInfo().EntryCount(); ++i) {
        if (entries[i].name != nullptr && std::wstring(entries[i].name) == L"SendMsg") {
            send = &entries[i];
            EXPECT_EQ(entries[i].length, 7);
        }
    }
    ASSERT_NE(send, nullptr);
    send->dispid = 77;
    DISPID id = 0;
    EXPECT_EQ(Look(L"SendMsg", &id), S_OK);
    EXPECT_EQ(id, 77);
    send->dispid = 2;
}

TEST_F(TypeInfoHolderTest, ANameDifferingInCaseGetsThePlatformsAnswer) {
    DISPID expected_id = -100;
    const HRESULT expected = PlatformLook(L"sendMSG", &expected_id);
    DISPID id = -100;
    EXPECT_EQ(Look(L"sendMSG", &id), expected);
    EXPECT_EQ(id, expected_id);
}

TEST_F(TypeInfoHolderTest, AParameterNameAfterTheMemberFailsAndStopsTheLookUp) {
    DISPID expected_id = -100;
    const HRESULT expected = PlatformLook(L"MobileNum", &expected_id);
    ASSERT_TRUE(FAILED(expected));
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"SendMsg"), const_cast<LPOLESTR>(L"MobileNum"),
                        const_cast<LPOLESTR>(L"EndCon")};
    DISPID ids[3] = {-100, -100, -100};
    EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, names, 3, 0, ids), expected);
    EXPECT_EQ(ids[0], 2);
    // The failed name's slot holds what the type information wrote there; the rest is untouched.
    EXPECT_EQ(ids[1], expected_id);
    EXPECT_EQ(ids[2], -100);
}

TEST_F(TypeInfoHolderTest, NoNamesIsSuccessOnceTheLibraryLoads) {
    DISPID id = -100;
    EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, nullptr, 0, 0, &id), S_OK);
    EXPECT_EQ(id, -100);
    EXPECT_TRUE(VorelTypeInfo().IsLoaded());
    EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_POINTER);
}

TEST_F(TypeInfoHolderTest, AnUnregisteredLibraryFailsEveryCallUntilItIsRegistered) {
    UnregisterLibrary();
    ComPtr<ITypeLib> missing;
    const HRESULT failure = ::LoadRegTypeLib(LIBID_VRLCOMLib, 1, 0, 0, missing.put());
    ASSERT_TRUE(FAILED(failure));

    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(this);
    EXPECT_EQ(object_->GetTypeInfo(0, 0, &info), failure);
    EXPECT_EQ(info, nullptr);
    DISPID id = -100;
    EXPECT_EQ(Look(L"EndCon", &id), failure);
    EXPECT_EQ(id, -100);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(object_->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), failure);
    EXPECT_FALSE(VorelTypeInfo().IsLoaded());

    RegisterLibrary();
    EXPECT_EQ(Look(L"EndCon", &id), S_OK);
    EXPECT_EQ(id, 5);
    // Three failed loads and one successful one: four cleanups, of which the first empties the holder.
    EXPECT_EQ(HolderCleanups(), 4);
    EXPECT_EQ(Look(L"QueryMsg", &id), S_OK);
    EXPECT_EQ(HolderCleanups(), 4);

    object_.reset();
    server::ModuleTerm(&server::LibraryModule());
    EXPECT_FALSE(VorelTypeInfo().IsLoaded());
    EXPECT_EQ(VorelTypeInfo().Entries(), nullptr);
    EXPECT_EQ(VorelTypeInfo().EntryCount(), 0);
    ASSERT_EQ(server::ModuleInit(&server::LibraryModule(), nullptr, nullptr), S_OK);
}

TEST_F(TypeInfoHolderTest, TwoThreadsMakingTheFirstCallAtOnceBothSucceed) {
    std::atomic<int> ready{0};
    HRESULT results[2] = {E_FAIL, E_FAIL};
    DISPID ids[2] = {-100, -100};
    IVorel* const object = object_.get();
    auto call = [&](int i) {
        ++ready;
        while (ready < 2) {
        }
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"QueryMsg")};
        results[i] = object->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[i]);
    };
    std::thread first(call, 0);
    std::thread second(call, 1);
    first.join();
    second.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(results[i], S_OK);
        EXPECT_EQ(ids[i], 4);
    }
    // One cleanup for each thread that found nothing loaded before the lock.
    EXPECT_GE(HolderCleanups(), 1);
    EXPECT_LE(HolderCleanups(), 2);
}

TEST_F(TypeInfoHolderTest, ATermCallbackThatCannotBeAddedLeavesTheHolderWorking) {
    TrackingAllocator allocator;
    allocator.FailFrom(2, TrackingAllocator::Failure::Null);  // the cache, then the node
    DISPID id = -100;
    EXPECT_EQ(Look(L"SendMsg", &id), S_OK);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(HolderCleanups(), 0);
    allocator.Reset();
    // Nothing else would drop it at termination: do it here, as a term callback would.
    component::TypeInfoHolder::Cleanup(reinterpret_cast<DWORD_PTR>(&VorelTypeInfo()));
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
}

TEST_F(TypeInfoHolderTest, WithoutMemoryForTheCacheNamesAreResolvedByTheTypeInformation) {
    TrackingAllocator allocator;
    allocator.FailFrom(1, TrackingAllocator::Failure::Throw);
    DISPID id = -100;
    const HRESULT result = Look(L"SendMsg_Order", &id);
    allocator.Reset();
    EXPECT_EQ(result, S_OK);
    EXPECT_EQ(id, 3);
    EXPECT_EQ(VorelTypeInfo().EntryCount(), 0);
    EXPECT_EQ(VorelTypeInfo().Entries(), nullptr);
    // The term callback could not be added either.
    EXPECT_EQ(HolderCleanups(), 0);
    component::TypeInfoHolder::Cleanup(reinterpret_cast<DWORD_PTR>(&VorelTypeInfo()));
}

}  // namespace
}  // namespace vrl::test
