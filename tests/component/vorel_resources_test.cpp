// What the methods do with memory, strings and the connection: the one allocation of a call and its
// failure, the narrow copies of the arguments, the string held by pBVal, credentials, and the
// connection of an object released while open. And the calls through the raw table of methods
// with the standard calling convention.
#include <winsock2.h>

#include <objidl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "gateway_status.h"
#include "narrow_text.h"
#include "simulator_protocol.h"
#include "stdcall_call.h"
#include "tracking_allocator.h"
#include "vorel_fixture.h"

namespace vrl::test {
namespace {

// Arguments are converted on the stack: with no memory to be had at all, StartCon still runs. A
// server address over 255 bytes is read whole and needs a copy on the heap; without memory for it,
// nothing happens and nothing leaks.
TEST_F(VorelTest, ArgumentsNeedNoMemoryExceptALongServerAddress) {
    TrackingAllocator allocator;
    Bstr ip(L"127.0.0.1");
    Bstr port(port_.c_str());
    Bstr long_port((port_ + std::wstring(300, L' ')).c_str());
    Bstr user(L"demo");
    for (const auto how : {TrackingAllocator::Failure::Null, TrackingAllocator::Failure::Throw}) {
        SCOPED_TRACE(how == TrackingAllocator::Failure::Null ? "null result" : "exception");
        allocator.FailFrom(1, how);
        int status = 777;
        EXPECT_EQ(vorel_->StartCon(ip.get(), long_port.get(), user.get(), user.get(), &status), E_OUTOFMEMORY);
        EXPECT_EQ(status, 777);
        EXPECT_EQ(vorel_->StartCon(ip.get(), port.get(), user.get(), user.get(), &status), S_OK);
        EXPECT_EQ(status, sim::kStatusOk);
        EXPECT_EQ(allocator.LiveBlocks(), 0u);
    }
    EXPECT_EQ(Received(), 2u);
    allocator.Reset();
    int status = 777;
    EXPECT_EQ(vorel_->StartCon(ip.get(), long_port.get(), user.get(), user.get(), &status), S_OK);
    EXPECT_EQ(status, sim::kStatusOk);
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
    EXPECT_EQ(Send(L"0912345678", L"memory again").status, sim::kStatusOk);
}

// An early-bound message call allocates one thing, the caller's result string, before anything is
// sent; the local refusals too. StartCon and EndCon allocate nothing.
TEST_F(VorelTest, EachMessageCallAllocatesOnlyTheCallersString) {
    TrackingAllocator allocator;
    ASSERT_EQ(Start(), sim::kStatusOk);
    const std::wstring long_text(300, L'9');
    const struct {
        const char* what;
        Outcome outcome;
        int status;
        std::wstring text;
    } calls[] = {
        {"send", Send(L"0912345678", L"hello"), sim::kStatusOk, std::to_wstring(sim::kFirstMessageId)},
        {"send at", SendAt(L"0912345678", L"later", L"20261231235959"), sim::kStatusOk,
         std::to_wstring(sim::kFirstMessageId + 1)},
        {"query", Query(L"0912345678", std::to_wstring(sim::kFirstMessageId)), sim::kStatusOk, L"DELIVERED"},
        {"long message", Send(L"0912345678", long_text), gateway::kStatusMessageTooLong,
         L"message content > max limit"},
        {"long number", Send(long_text, L"hi"), gateway::kStatusRequestTooLong, L"request content > max limit"},
        {"long id", Query(L"0912345678", long_text), gateway::kStatusRequestTooLong, L"request content > max limit"},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call.what);
        EXPECT_EQ(call.outcome.hr, S_OK);
        EXPECT_EQ(call.outcome.status, call.status);
        EXPECT_EQ(call.outcome.text, call.text);
    }
    EXPECT_EQ(vorel_->EndCon(), S_OK);
    EXPECT_EQ(allocator.Allocations(), 0);
    EXPECT_EQ(allocator.StringAllocations(), static_cast<int>(std::size(calls)));
    EXPECT_EQ(Received(), 4u);
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

TEST_F(VorelTest, CredentialsAreWipedBeforeTheirMemoryIsLeft) {
    TrackingAllocator allocator;
    EXPECT_EQ(Start(L"user-secret-17", L"pass-secret-42"), sim::kStatusBadLogin);
    EXPECT_EQ(allocator.Allocations(), 0);
    // The narrow copies live in the objects themselves: what a credential's copy leaves in its
    // memory, in place or refused for its length, is nothing. Other texts are left as they were.
    const std::wstring long_secret = L"pass-secret-42" + std::wstring(300, L'x');
    for (const auto kind : {component::NarrowText::Kind::Field, component::NarrowText::Kind::SecretField}) {
        for (const std::wstring& secret : {std::wstring(L"user-secret-17"), long_secret}) {
            alignas(component::NarrowText) unsigned char memory[sizeof(component::NarrowText)];
            auto* const narrow = new (memory) component::NarrowText(kind);
            ASSERT_TRUE(narrow->Assign(secret.c_str()));
            narrow->~NarrowText();
            const std::string left(reinterpret_cast<const char*>(memory), sizeof memory);
            const bool in_place = secret.size() <= component::NarrowText::kCapacity;
            EXPECT_EQ(left.find("-secret-") != std::string::npos,
                      kind == component::NarrowText::Kind::Field && in_place)
                << secret.size();
        }
    }
}

// Texts that fit a frame's body are copied in place; a longer field is only measured and stands
// in as 256 NUL bytes, which every length test refuses as it would the whole text; a longer
// server address is copied whole.
TEST(NarrowTextTest, FieldsThatFitAreCopiedLongerOnesMeasured) {
    using component::NarrowText;
    const std::wstring fits(NarrowText::kCapacity, L'a');
    const std::wstring longer(NarrowText::kCapacity + 1, L'a');
    const struct {
        const wchar_t* wide;
        NarrowText::Kind kind;
        std::string view;
        int allocations;
    } cases[] = {
        {nullptr, NarrowText::Kind::Field, "", 0},
        {L"", NarrowText::Kind::Address, "", 0},
        {L"abc\0def", NarrowText::Kind::Field, "abc", 0},
        {fits.c_str(), NarrowText::Kind::SecretField, std::string(NarrowText::kCapacity, 'a'), 0},
        {longer.c_str(), NarrowText::Kind::Field, std::string(NarrowText::kCapacity + 1, '\0'), 0},
        {longer.c_str(), NarrowText::Kind::SecretField, std::string(NarrowText::kCapacity + 1, '\0'), 0},
        {fits.c_str(), NarrowText::Kind::Address, std::string(NarrowText::kCapacity, 'a'), 0},
        {longer.c_str(), NarrowText::Kind::Address, std::string(NarrowText::kCapacity + 1, 'a'), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wide != nullptr ? std::wcslen(c.wide) : 0);
        TrackingAllocator allocator;
        {
            NarrowText narrow(c.kind);
            ASSERT_TRUE(narrow.Assign(c.wide));
            EXPECT_EQ(narrow.View(), c.view);
        }
        EXPECT_EQ(allocator.Allocations(), c.allocations);
        EXPECT_EQ(allocator.LiveBlocks(), 0u);
    }
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
