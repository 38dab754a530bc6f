// The module operations on records of the test's own: initialisation and termination with the
// class-init routines and term callbacks, the row width, and the cached class objects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "component_module.h"
#include "tracking_allocator.h"

namespace vrl::server {
namespace {

const CLSID kFirstClass = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const CLSID kSecondClass = {0x11111111, 0x2222, 0x3333, {8, 7, 6, 5, 4, 3, 2, 1}};
const CLSID kUnknownClass = {0x99999999, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};

std::string g_trace;

void WINAPI Record(DWORD_PTR argument) {
    g_trace += static_cast<char>(argument);
}

void WINAPI FirstInit(BOOL starting) {
    g_trace += starting ? "+1" : "-1";
}

void WINAPI SecondInit(BOOL starting) {
    g_trace += starting ? "+2" : "-2";
}

// A class object that counts its references and its destruction; threads share it, so the counts
// are atomic.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class CountedObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (std::memcmp(&riid, &IID_IUnknown, sizeof(IID)) != 0) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const int count = --refs;
        if (count == 0) {
            ++destroyed;
        }
        return static_cast<ULONG>(count);
    }
    std::atomic<int> refs{0};
    std::atomic<int> destroyed{0};
};
#pragma GCC diagnostic pop

CountedObject g_object;
std::atomic<int> g_creations{0};
HRESULT g_creator_result = S_OK;

HRESULT WINAPI CreateCounted(void*, REFIID riid, void** ppv) {
    ++g_creations;
    // Widens the window in which a second thread could also find the cache empty.
    ::Sleep(50);
    if (FAILED(g_creator_result)) {
        return g_creator_result;
    }
    return g_object.QueryInterface(riid, ppv);
}

class ModuleRecord : public ::testing::Test {
protected:
    void SetUp() override {
        g_trace.clear();
        g_object.refs = 0;
        g_object.destroyed = 0;
        g_creations = 0;
        g_creator_result = S_OK;
        module_.LayoutMarker = kNineWordLayout;
        map_[0] = {&kFirstClass, nullptr, CreateCounted, nullptr, nullptr, 0, nullptr, nullptr, FirstInit};
        map_[1] = {&kSecondClass, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, SecondInit};
        map_[2] = {};
    }

    ComponentModule module_{};
    ObjectMapEntry map_[3]{};
};

TEST_F(ModuleRecord, WithoutARecordTheOperationsRefuseAndDoNothing) {
    void* out = &module_;
    EXPECT_EQ(ModuleInit(nullptr, map_, nullptr), E_INVALIDARG);
    EXPECT_EQ(ModuleTerm(nullptr), E_INVALIDARG);
    EXPECT_EQ(ModuleGetClassObject(nullptr, kFirstClass, IID_IUnknown, &out), E_INVALIDARG);
    EXPECT_EQ(out, &module_);
    EXPECT_EQ(AddTermCallback(nullptr, Record, 'x'), E_INVALIDARG);
    EXPECT_EQ(g_trace, "");
}

TEST_F(ModuleRecord, InitStoresTheHandlesAndStartsEveryRowInMapOrder) {
    module_.ModuleLockCount = 7;
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    ASSERT_EQ(ModuleInit(&module_, map_, instance), S_OK);
    EXPECT_EQ(module_.ModuleInstance, instance);
    EXPECT_EQ(module_.ResourceInstance, instance);
    EXPECT_EQ(module_.TypeLibraryInstance, instance);
    EXPECT_EQ(module_.ObjectMap, map_);
    EXPECT_EQ(module_.ModuleLockCount, 0);
    EXPECT_EQ(module_.TermCallbacks, nullptr);
    EXPECT_EQ(g_trace, "+1+2");
    ASSERT_EQ(ModuleTerm(&module_), S_OK);
    EXPECT_EQ(g_trace, "+1+2-1-2");
}

TEST_F(ModuleRecord, TermCallbacksRunLastAddedFirstDuplicatesIncluded) {
    ASSERT_EQ(ModuleInit(&module_, nullptr, nullptr), S_OK);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(AddTermCallback(&module_, Record, 'A'), S_OK);
        ASSERT_EQ(AddTermCallback(&module_, Record, 'B'), S_OK);
    }
    ASSERT_EQ(ModuleTerm(&module_), S_OK);
    EXPECT_EQ(g_trace, "BABA");
    EXPECT_EQ(module_.TermCallbacks, nullptr);
}

TEST_F(ModuleRecord, TermCallbackNodesAreFreedAndAFailedAllocationAddsNothing) {
    test::TrackingAllocator allocator;
    ASSERT_EQ(ModuleInit(&module_, nullptr, nullptr), S_OK);
    ASSERT_EQ(AddTermCallback(&module_, Record, 'A'), S_OK);
    EXPECT_EQ(allocator.LiveBlocks(), 1u);
    allocator.FailFrom(1, test::TrackingAllocator::Failure::Null);
    EXPECT_EQ(AddTermCallback(&module_, Record, 'N'), E_OUTOFMEMORY);
    allocator.Reset();
    allocator.FailFrom(1, test::TrackingAllocator::Failure::Throw);
    EXPECT_EQ(AddTermCallback(&module_, Record, 'T'), E_OUTOFMEMORY);
    ASSERT_EQ(ModuleTerm(&module_), S_OK);
    EXPECT_EQ(g_trace, "A");
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
}

TEST_F(ModuleRecord, SevenWordRowsAreSteppedBySevenWordsWithoutClassInit) {
    // Two seven-word rows and the end row, back to back.
    void* words[21] = {};
    words[0] = const_cast<CLSID*>(&kSecondClass);
    words[7] = const_cast<CLSID*>(&kFirstClass);
    words[9] = reinterpret_cast<void*>(CreateCounted);
    module_.LayoutMarker = kSevenWordLayout;
    ASSERT_EQ(ModuleInit(&module_, reinterpret_cast<ObjectMapEntry*>(words), nullptr), S_OK);
    IUnknown* object = nullptr;
    ASSERT_EQ(ModuleGetClassObject(&module_, kFirstClass, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(object, &g_object);
    EXPECT_EQ(words[7 + 4], &g_object);
    object->Release();
    ASSERT_EQ(ModuleTerm(&module_), S_OK);
    EXPECT_EQ(words[7 + 4], nullptr);
    EXPECT_EQ(g_object.destroyed.load(), 1);
    EXPECT_EQ(g_trace, "");
}

TEST_F(ModuleRecord, ClassObjectIsCreatedOnceCachedAndReleasedAtTerm) {
    ASSERT_EQ(ModuleInit(&module_, map_, nullptr), S_OK);
    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    ASSERT_EQ(ModuleGetClassObject(&module_, kFirstClass, IID_IUnknown, reinterpret_cast<void**>(&first)), S_OK);
    ASSERT_EQ(ModuleGetClassObject(&module_, kFirstClass, IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_EQ(first, &g_object);
    EXPECT_EQ(second, &g_object);
    EXPECT_EQ(g_creations, 1);
    EXPECT_EQ(g_object.refs.load(), 3);
    first->Release();
    second->Release();
    EXPECT_EQ(g_object.destroyed.load(), 0);
    ASSERT_EQ(ModuleTerm(&module_), S_OK);
    EXPECT_EQ(g_object.destroyed.load(), 1);
    EXPECT_EQ(map_[0].class_object, nullptr);
}

TEST_F(ModuleRecord, RequestsThatMatchNoCreatorOrFailLeaveTheOutPointerNull) {
    ASSERT_EQ(ModuleInit(&module_, map_, nullptr), S_OK);
    void* out = &module_;
    EXPECT_EQ(ModuleGetClassObject(&module_, kUnknownClass, IID_IUnknown, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    // A row without a class-object creator is never matched.
    out = &module_;
    EXPECT_EQ(ModuleGetClassObject(&module_, kSecondClass, IID_IUnknown, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ModuleGetClassObject(&module_, kFirstClass, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(g_creations, 0);

    // A failing creator leaves the cache empty; the next request tries again.
    g_creator_result = E_OUTOFMEMORY;
    out = &module_;
    EXPECT_EQ(ModuleGetClassObject(&module_, kFirstClass, IID_IUnknown, &out), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(map_[0].class_object, nullptr);
    g_creator_result = S_OK;
    ASSERT_EQ(ModuleGetClassObject(&module_, kFirstClass, IID_IUnknown, &out), S_OK);
    EXPECT_EQ(g_creations, 2);
    static_cast<IUnknown*>(out)->Release();

    // An interface the class object lacks: refused, and the object stays cached.
    out = &module_;
    EXPECT_EQ(ModuleGetClassObject(&module_, kFirstClass, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(map_[0].class_object, &g_object);
    EXPECT_EQ(g_creations, 2);
    ASSERT_EQ(ModuleTerm(&module_), S_OK);
}

TEST_F(ModuleRecord, ThreadsAskingAtOnceShareOneClassObject) {
    ASSERT_EQ(ModuleInit(&module_, map_, nullptr), S_OK);
    constexpr int kThreads = 4;
    std::vector<std::thread> threads;
    IUnknown* got[kThreads] = {};
    HRESULT results[kThreads] = {};
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            results[i] = ModuleGetClassObject(&module_, kFirstClass, IID_IUnknown, reinterpret_cast<void**>(&got[i]));
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(g_creations, 1);
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(results[i], S_OK);
        EXPECT_EQ(got[i], &g_object);
        got[i]->Release();
    }
    EXPECT_EQ(g_object.refs.load(), 1);
    ASSERT_EQ(ModuleTerm(&module_), S_OK);
}

}  // namespace
}  // namespace vrl::server
