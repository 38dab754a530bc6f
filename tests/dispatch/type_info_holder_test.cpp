// The type-information holder through the real OLE Automation: loading on first use and after a
// late registration, the name cache and the type information's own look-up behind it, parameter
// names after the member's, and the one term-callback entry that cleans it up.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

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
        platform_info_.reset();
        ModuleScope::TearDown();
    }

    HRESULT Look(const wchar_t* name, DISPID* id) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return object_->GetIDsOfNames(IID_NULL, names, 1, 0, id);
    }

    // The type information as the platform gives it, apart from the holder.
    ITypeInfo* PlatformInfo() {
        if (platform_info_.get() == nullptr) {
            ComPtr<ITypeLib> library;
            EXPECT_EQ(::LoadRegTypeLib(LIBID_VRLCOMLib, 1, 0, 0, library.put()), S_OK);
            EXPECT_EQ(library->GetTypeInfoOfGuid(IID_IVorel, platform_info_.put()), S_OK);
        }
        return platform_info_.get();
    }

    // What the type information itself answers for one name.
    HRESULT PlatformLook(const wchar_t* name, DISPID* id) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        return PlatformInfo()->GetIDsOfNames(names, 1, id);
    }

    ComPtr<IVorel> object_;
    ComPtr<ITypeInfo> platform_info_;
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

// Names after the first are the member's parameter names, as hosts with named arguments send them:
// the answer is the type information's own for the same names, with the member from the cache.
TEST_F(TypeInfoHolderTest, ParameterNamesAfterTheMemberGetThePlatformsAnswer) {
    const std::vector<std::vector<const wchar_t*>> requests = {
        {L"QueryMsg", L"MessageID", L"MobileNum"},
        {L"SendMsg_Order", L"pBVal", L"Send_Time", L"pVal", L"Message", L"MobileNum"},
        {L"StartCon", L"Passwd", L"ServerIP"},
        {L"SendMsg", L"MobileNum", L"EndCon", L"pBVal"},
    };
    const std::vector<std::vector<DISPID>> expected_ids = {{4, 1, 0}, {3, 4, 2, 3, 1, 0}, {1, 3, 0}, {2, 0, -1, 3}};
    for (std::size_t r = 0; r < requests.size(); ++r) {
        std::vector<LPOLESTR> names;
        for (const wchar_t* name : requests[r]) {
            names.push_back(const_cast<LPOLESTR>(name));
        }
        const UINT count = static_cast<UINT>(names.size());
        std::vector<DISPID> platform_ids(count, -100);
        const HRESULT platform = PlatformInfo()->GetIDsOfNames(names.data(), count, platform_ids.data());
        std::vector<DISPID> ids(count, -100);
        EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, names.data(), count, 0, ids.data()), platform) << r;
        EXPECT_EQ(ids, platform_ids) << r;
        EXPECT_EQ(ids, expected_ids[r]) << r;
    }
    // A name that no parameter has fails its own slot.
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"SendMsg"), const_cast<LPOLESTR>(L"EndCon")};
    DISPID ids[2] = {-100, -100};
    EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

// A null entry in the names is an unknown name for its slot, never a crash; so is a name that
// extends a member's or a parameter's, as the platform answers.
TEST_F(TypeInfoHolderTest, ANullOrLongerNameIsUnknown) {
    const struct {
        std::vector<const wchar_t*> names;
        std::vector<DISPID> ids;
    } cases[] = {
        {{nullptr}, {DISPID_UNKNOWN}},
        {{nullptr, L"MobileNum"}, {DISPID_UNKNOWN, DISPID_UNKNOWN}},
        {{L"SendMsg", nullptr, L"pBVal"}, {2, DISPID_UNKNOWN, 3}},
        {{L"QueryMsg", L"pVal", nullptr}, {4, 2, DISPID_UNKNOWN}},
        {{L"SendMsgX"}, {DISPID_UNKNOWN}},
        {{L"SendMsg", L"pBValX"}, {2, DISPID_UNKNOWN}},
    };
    for (const auto& c : cases) {
        std::vector<LPOLESTR> names;
        for (const wchar_t* name : c.names) {
            names.push_back(const_cast<LPOLESTR>(name));
        }
        std::vector<DISPID> ids(names.size(), -100);
        EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), 0, ids.data()),
                  DISP_E_UNKNOWNNAME);
        EXPECT_EQ(ids, c.ids);
    }
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
    // Three failed loads and one successful one: the cleanup is listed once.
    EXPECT_EQ(HolderCleanups(), 1);
    EXPECT_EQ(Look(L"QueryMsg", &id), S_OK);
    EXPECT_EQ(HolderCleanups(), 1);

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
    // Listed once, whichever thread loaded.
    EXPECT_EQ(HolderCleanups(), 1);
}

// A host that keeps calling while the registration is broken: every call fails, and the module
// holds no more memory after 10,000 of them than after the first.
TEST_F(TypeInfoHolderTest, RepeatedFailingLoadsDoNotGrowTheModulesMemory) {
    UnregisterLibrary();
    TrackingAllocator allocator;
    DISPID id = -100;
    const HRESULT failure = Look(L"SendMsg", &id);
    ASSERT_TRUE(FAILED(failure));
    const std::size_t blocks = allocator.LiveBlocks();
    const int allocations = allocator.Allocations();
    EXPECT_EQ(blocks, 1u);  // the term-callback node
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(Look(L"SendMsg", &id), failure) << i;
    }
    EXPECT_EQ(allocator.LiveBlocks(), blocks);
    EXPECT_EQ(allocator.Allocations(), allocations);
    EXPECT_EQ(HolderCleanups(), 1);
    // Termination takes the entry off; the next module lists it again.
    server::ModuleTerm(&server::LibraryModule());
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    ASSERT_EQ(server::ModuleInit(&server::LibraryModule(), nullptr, nullptr), S_OK);
    EXPECT_EQ(Look(L"SendMsg", &id), failure);
    EXPECT_EQ(HolderCleanups(), 1);
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

TEST_F(TypeInfoHolderTest, WithoutMemoryForTheCacheTheTypeInformationAnswersForNamesAndResults) {
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
    // A by-name call finds its result parameters in the type information's own description: the
    // variables passed by reference get the status and the text of a send without a connection.
    Variant status, text;
    VARIANTARG args[4];
    V_VT(&args[0]) = V_VT(&args[1]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[0]) = text.get();
    V_VARIANTREF(&args[1]) = status.get();
    V_VT(&args[2]) = V_VT(&args[3]) = VT_BSTR;
    V_BSTR(&args[2]) = V_BSTR(&args[3]) = nullptr;
    DISPPARAMS params{args, nullptr, 4, 0};
    EXPECT_EQ(object_->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(V_VT(status.get()), VT_I4);
    EXPECT_EQ(V_I4(status.get()), -4);
    EXPECT_EQ(V_VT(text.get()), VT_BSTR);
    component::TypeInfoHolder::Cleanup(reinterpret_cast<DWORD_PTR>(&VorelTypeInfo()));
}

}  // namespace
}  // namespace vrl::test
