// What the methods do with memory, strings and the connection: allocation failures, the string
// held by pBVal, credentials, and the connection of an object released while open. And the calls
// through the raw table of methods with the standard calling convention.
#include <winsock2.h>

#include <objidl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gateway_status.h"
#include "simulator_protocol.h"
#include "stdcall_call.h"
#include "tracking_allocator.h"
#include "vorel_fixture.h"

namespace vrl::test {
namespace {

TEST_F(VorelTest, FailedArgumentConversionSendsNothingAndLeaksNothing) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    TrackingAllocator allocator;
    Bstr ip(L"127.0.0.1");
    Bstr port(port_.c_str());
    Bstr mobile(L"0912345678");
    Bstr message(L"hello");
    Bstr time(L"20261231235959");
    for (const auto how : {TrackingAllocator::Failure::Null, TrackingAllocator::Failure::Throw}) {
        // Every argument's copy in turn is the one that fails.
        for (int n = 1; n <= 4; ++n) {
            SCOPED_TRACE(::testing::Message() << "allocation " << n << (how == TrackingAllocator::Failure::Null ? " null" : " throw"));
            allocator.FailFrom(n, how);
            int status = 777;
            Bstr text(L"old");
            EXPECT_EQ(vorel_->StartCon(ip.get(), port.get(), mobile.get(), message.get(), &status), E_OUTOFMEMORY);
            if (n <= 2) {
                EXPECT_EQ(vorel_->SendMsg(mobile.get(), message.get(), &status, text.put()), E_OUTOFMEMORY);
                EXPECT_EQ(vorel_->QueryMsg(mobile.get(), message.get(), &status, text.put()), E_OUTOFMEMORY);
            }
            if (n <= 3) {
                EXPECT_EQ(vorel_->SendMsg_Order(mobile.get(), message.get(), time.get(), &status, text.put()),
                          E_OUTOFMEMORY);
            }
            EXPECT_EQ(status, 777);
            EXPECT_EQ(allocator.LiveBlocks(), 0u);
        }
    }
    allocator.Reset();
    EXPECT_EQ(Received(), 1u);
    EXPECT_EQ(Send(L"0912345678", L"memory again").status, sim::kStatusOk);
}

TEST_F(VorelTest, NoRoomForTheResultTextSendsNothing) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    TrackingAllocator allocator;
    allocator.FailStringsFrom(1);
    Bstr held(L"held");
    const BSTR before = held.get();
    int status = 777;
    Bstr mobile(L"0912345678");
    Bstr message(L"hello");
    EXPECT_EQ(vorel_->SendMsg(mobile.get(), message.get(), &status, held.put()), E_OUTOFMEMORY);
    EXPECT_EQ(vorel_->QueryMsg(mobile.get(), message.get(), &status, held.put()), E_OUTOFMEMORY);
    EXPECT_EQ(vorel_->SendMsg_Order(mobile.get(), message.get(), message.get(), &status, held.put()), E_OUTOFMEMORY);
    EXPECT_EQ(status, 777);
    EXPECT_EQ(Received(), 1u);
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    static_cast<void>(before);
}

TEST_F(VorelTest, TextStillArrivesWhenOnlyTheReservedStringIsLeft) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    TrackingAllocator allocator;
    // The reservation succeeds, the string of the exact length does not.
    allocator.FailStringsFrom(2);
    const Outcome sent = Send(L"0912345678", L"hello");
    EXPECT_EQ(sent.hr, S_OK);
    EXPECT_EQ(sent.status, sim::kStatusOk);
    EXPECT_EQ(sent.text, std::to_wstring(sim::kFirstMessageId));
    EXPECT_EQ(Received(), 2u);
}

// Records the task-memory blocks given back, to see that a string really is released.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class FreeSpy final : public IMallocSpy {
public:
    std::vector<const unsigned char*> freed;

    // Whether the block holding this string (its length prefix comes first) was given back.
    bool Freed(const wchar_t* string) const {
        const auto* const start = reinterpret_cast<const unsigned char*>(string);
        return std::any_of(freed.begin(), freed.end(), [&](const unsigned char* block) {
            return block < start && start - block <= 8;
        });
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (std::memcmp(&riid, &IID_IUnknown, sizeof(IID)) == 0 || std::memcmp(&riid, &IID_IMallocSpy, sizeof(IID)) == 0) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override { return actual; }
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL) override {
        freed.push_back(static_cast<const unsigned char*>(request));
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** new_request, BOOL) override {
        *new_request = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};
#pragma GCC diagnostic pop

TEST_F(VorelTest, StringHeldByPBValIsReleasedNotLeaked) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    // Without the string cache a released BSTR goes back to task memory at once.
    const auto no_cache = reinterpret_cast<void(WINAPI*)()>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache")));
    ASSERT_NE(no_cache, nullptr);
    no_cache();
    // Static: the platform may keep a spy registered until the blocks it saw are gone.
    static FreeSpy spy;
    spy.freed.clear();
    ASSERT_EQ(::CoRegisterMallocSpy(&spy), S_OK);

    Bstr mobile(L"0912345678");
    Bstr message(L"hello");
    const std::wstring too_long(161, L'x');
    Bstr long_message(too_long.c_str());
    int status = 0;
    BSTR text = ::SysAllocString(L"an earlier result that must go");
    const BSTR first = text;
    ASSERT_EQ(vorel_->SendMsg(mobile.get(), message.get(), &status, &text), S_OK);
    EXPECT_EQ(std::wstring(text), std::to_wstring(sim::kFirstMessageId));
    EXPECT_TRUE(spy.Freed(first));
    // The same on a local refusal, and with the text of the call before.
    const BSTR second = text;
    EXPECT_FALSE(spy.Freed(second));
    ASSERT_EQ(vorel_->SendMsg(mobile.get(), long_message.get(), &status, &text), S_OK);
    EXPECT_EQ(std::wstring(text), L"message content > max limit");
    EXPECT_TRUE(spy.Freed(second));
    ::SysFreeString(text);
    // Blocks allocated while the spy watched may defer its revocation.
    const HRESULT revoked = ::CoRevokeMallocSpy();
    EXPECT_TRUE(revoked == S_OK || revoked == E_ACCESSDENIED);
}

TEST_F(VorelTest, CredentialsAreWipedBeforeTheirMemoryIsFreed) {
    TrackingAllocator allocator;
    EXPECT_EQ(Start(L"user-secret-17", L"pass-secret-42"), sim::kStatusBadLogin);
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    EXPECT_GE(allocator.Allocations(), 4);
    EXPECT_FALSE(allocator.FreedHolding("user-secret-17"));
    EXPECT_FALSE(allocator.FreedHolding("pass-secret-42"));
    // The other arguments are not secret and are left as they were.
    EXPECT_TRUE(allocator.FreedHolding("127.0.0.1"));
}

#if defined(__i386__)
int __cdecl LeavesItsArguments(int a, int b) {
    return a + b;
}

// The check below can fail: a routine of the C convention leaves its two arguments behind.
TEST(StdcallCheck, SeesARoutineThatLeavesItsArguments) {
    const StdcallResult result = CallStdcall(reinterpret_cast<const void*>(&LeavesItsArguments), {2, 3});
    EXPECT_EQ(result.value, 5u);
    EXPECT_EQ(result.stack_drift, 8);
}
#endif

// Entries 8 to 12 of the table of methods, called as a C host calls them.
TEST_F(VorelTest, TableOfMethodsHoldsTheFiveMethodsWithTheStandardCallingConvention) {
    using StartConEntry = HRESULT(STDMETHODCALLTYPE*)(IVorel*, BSTR, BSTR, BSTR, BSTR, int*);
    using SendMsgEntry = HRESULT(STDMETHODCALLTYPE*)(IVorel*, BSTR, BSTR, int*, BSTR*);
    using SendMsgOrderEntry = HRESULT(STDMETHODCALLTYPE*)(IVorel*, BSTR, BSTR, BSTR, int*, BSTR*);
    using QueryMsgEntry = HRESULT(STDMETHODCALLTYPE*)(IVorel*, BSTR, BSTR, int*, BSTR*);
    using EndConEntry = HRESULT(STDMETHODCALLTYPE*)(IVorel*);
    struct VorelTable {
        void* unknown[3];
        void* dispatch[4];
        StartConEntry StartCon;
        SendMsgEntry SendMsg;
        SendMsgOrderEntry SendMsg_Order;
        QueryMsgEntry QueryMsg;
        EndConEntry EndCon;
    };
    static_assert(offsetof(VorelTable, StartCon) == 7 * sizeof(void*));
    static_assert(offsetof(VorelTable, EndCon) == 11 * sizeof(void*));
    IVorel* const self = vorel_.get();
    const VorelTable& table = **reinterpret_cast<VorelTable* const*>(self);

    Bstr ip(L"127.0.0.1");
    Bstr port(port_.c_str());
    Bstr user(L"demo");
    Bstr mobile(L"0912345678");
    Bstr message(L"raw");
    Bstr time(L"20261231235959");
    Bstr id(std::to_wstring(sim::kFirstMessageId).c_str());
    int status = -1;
    BSTR text = nullptr;
    const auto word = [](auto value) { return reinterpret_cast<std::uintptr_t>(value); };
#if defined(__i386__)
    const auto call = [](const void* entry, std::initializer_list<std::uintptr_t> args) {
        const StdcallResult result = CallStdcall(entry, args);
        EXPECT_EQ(result.stack_drift, 0) << "the entry does not pop its arguments";
        return static_cast<HRESULT>(result.value);
    };
    EXPECT_EQ(call(reinterpret_cast<const void*>(table.StartCon),
                   {word(self), word(ip.get()), word(port.get()), word(user.get()), word(user.get()), word(&status)}),
              S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(call(reinterpret_cast<const void*>(table.SendMsg),
                   {word(self), word(mobile.get()), word(message.get()), word(&status), word(&text)}),
              S_OK);
    EXPECT_EQ(std::wstring(text), std::to_wstring(sim::kFirstMessageId));
    EXPECT_EQ(call(reinterpret_cast<const void*>(table.SendMsg_Order),
                   {word(self), word(mobile.get()), word(message.get()), word(time.get()), word(&status), word(&text)}),
              S_OK);
    EXPECT_EQ(std::wstring(text), std::to_wstring(sim::kFirstMessageId + 1));
    EXPECT_EQ(call(reinterpret_cast<const void*>(table.QueryMsg),
                   {word(self), word(mobile.get()), word(id.get()), word(&status), word(&text)}),
              S_OK);
    EXPECT_EQ(std::wstring(text), L"DELIVERED");
    EXPECT_EQ(call(reinterpret_cast<const void*>(table.EndCon), {word(self)}), S_OK);
#else
    static_cast<void>(word);
    EXPECT_EQ(table.StartCon(self, ip.get(), port.get(), user.get(), user.get(), &status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(table.SendMsg(self, mobile.get(), message.get(), &status, &text), S_OK);
    EXPECT_EQ(std::wstring(text), std::to_wstring(sim::kFirstMessageId));
    EXPECT_EQ(table.SendMsg_Order(self, mobile.get(), message.get(), time.get(), &status, &text), S_OK);
    EXPECT_EQ(std::wstring(text), std::to_wstring(sim::kFirstMessageId + 1));
    EXPECT_EQ(table.QueryMsg(self, mobile.get(), id.get(), &status, &text), S_OK);
    EXPECT_EQ(std::wstring(text), L"DELIVERED");
    EXPECT_EQ(table.EndCon(self), S_OK);
#endif
    EXPECT_EQ(status, 0);
    ::SysFreeString(text);
    EXPECT_EQ(sim_->received().size(), 4u);
}

}  // namespace
}  // namespace vrl::test
