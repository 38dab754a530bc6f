// TableQueryInterface over tables with offset, routine and blind rows.
#include <gtest/gtest.h>

#include <cstring>

#include "interface_table.h"

namespace vrl::server {
namespace {

// Two interface pointers inside one object; each counts its own AddRefs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct CountingUnknown final : IUnknown {
    int refs = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};
#pragma GCC diagnostic pop

struct TwoFaces {
    CountingUnknown first;
    CountingUnknown second;
};

// The byte offset of the second interface pointer inside the object.
const std::uintptr_t kSecondOffset = [] {
    TwoFaces probe;
    return static_cast<std::uintptr_t>(reinterpret_cast<unsigned char*>(&probe.second) -
                                       reinterpret_cast<unsigned char*>(&probe));
}();

constexpr IID kFirstId = {0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
constexpr IID kSecondId = {0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};
constexpr IID kRoutineId = {0x33333333, 0x3333, 0x3333, {3, 3, 3, 3, 3, 3, 3, 3}};
constexpr IID kOtherId = {0x44444444, 0x4444, 0x4444, {4, 4, 4, 4, 4, 4, 4, 4}};

// What a routine was called with, and what it answers.
struct RoutineLog {
    int calls = 0;
    void* object = nullptr;
    const IID* riid = nullptr;
    std::uintptr_t value = 0;
};
RoutineLog g_log;
HRESULT g_answer = S_OK;
void* const kRoutineResult = &g_log;

HRESULT Routine(void* object, REFIID riid, void** ppv, std::uintptr_t value) {
    ++g_log.calls;
    g_log.object = object;
    g_log.riid = &riid;
    g_log.value = value;
    *ppv = g_answer == S_OK ? kRoutineResult : reinterpret_cast<void*>(std::uintptr_t{0xBAD});
    return g_answer;
}

class TableQueryInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log = {};
        g_answer = S_OK;
    }
    TwoFaces object_;
    void* out_ = reinterpret_cast<void*>(std::uintptr_t{0xFEED});
};

TEST_F(TableQueryInterfaceTest, OffsetRowsAndIdentity) {
    const InterfaceTableRow table[] = {OffsetRow(kSecondId, kSecondOffset), OffsetRow(kFirstId, 0), EndRow};
    EXPECT_EQ(TableQueryInterface(&object_, table, kFirstId, nullptr), E_POINTER);

    // IUnknown is the first row's interface, whatever that row names.
    ASSERT_EQ(TableQueryInterface(&object_, table, IID_IUnknown, &out_), S_OK);
    EXPECT_EQ(out_, &object_.second);
    EXPECT_EQ(object_.second.refs, 1);
    ASSERT_EQ(TableQueryInterface(&object_, table, kFirstId, &out_), S_OK);
    EXPECT_EQ(out_, &object_.first);
    EXPECT_EQ(object_.first.refs, 1);

    EXPECT_EQ(TableQueryInterface(&object_, table, kOtherId, &out_), E_NOINTERFACE);
    EXPECT_EQ(out_, nullptr);
    EXPECT_EQ(object_.first.refs + object_.second.refs, 2);
}

TEST_F(TableQueryInterfaceTest, RoutineRowGetsItsValueAndDecides) {
    const InterfaceTableRow table[] = {
        OffsetRow(kFirstId, 0), RoutineRow(&kRoutineId, Routine, 77), OffsetRow(kRoutineId, kSecondOffset), EndRow};
    ASSERT_EQ(TableQueryInterface(&object_, table, kRoutineId, &out_), S_OK);
    EXPECT_EQ(out_, kRoutineResult);
    EXPECT_EQ(g_log.calls, 1);
    EXPECT_EQ(g_log.object, &object_);
    EXPECT_EQ(std::memcmp(g_log.riid, &kRoutineId, sizeof(IID)), 0);
    EXPECT_EQ(g_log.value, 77u);

    // A failure of a named row is the answer: the later row for the same id is not reached.
    // The routine wrote its junk to the out pointer, which is null again.
    g_answer = E_ACCESSDENIED;
    EXPECT_EQ(TableQueryInterface(&object_, table, kRoutineId, &out_), E_ACCESSDENIED);
    EXPECT_EQ(out_, nullptr);
    EXPECT_EQ(object_.second.refs, 0);

    // A success other than S_OK goes on to the next row.
    g_answer = S_FALSE;
    ASSERT_EQ(TableQueryInterface(&object_, table, kRoutineId, &out_), S_OK);
    EXPECT_EQ(out_, &object_.second);
    EXPECT_EQ(g_log.calls, 3);
}

TEST_F(TableQueryInterfaceTest, BlindRowsAreTriedForEveryRequest) {
    const InterfaceTableRow table[] = {
        OffsetRow(kFirstId, 0), RoutineRow(nullptr, Routine, 5), OffsetRow(kSecondId, kSecondOffset), EndRow};
    // A blind row answering S_OK answers any id.
    ASSERT_EQ(TableQueryInterface(&object_, table, kOtherId, &out_), S_OK);
    EXPECT_EQ(out_, kRoutineResult);
    // Rows before it come first.
    ASSERT_EQ(TableQueryInterface(&object_, table, kFirstId, &out_), S_OK);
    EXPECT_EQ(out_, &object_.first);
    EXPECT_EQ(g_log.calls, 1);

    // A blind row's failure is passed over.
    g_answer = E_NOINTERFACE;
    ASSERT_EQ(TableQueryInterface(&object_, table, kSecondId, &out_), S_OK);
    EXPECT_EQ(out_, &object_.second);
    EXPECT_EQ(g_log.calls, 2);
    // When nothing answers, the out pointer is null even if the blind routine wrote to it.
    EXPECT_EQ(TableQueryInterface(&object_, table, kOtherId, &out_), E_NOINTERFACE);
    EXPECT_EQ(out_, nullptr);
    // Also a blind offset row answers anything.
    const InterfaceTableRow blind[] = {OffsetRow(kFirstId, 0), {nullptr, kSecondOffset, OffsetMarker}, EndRow};
    ASSERT_EQ(TableQueryInterface(&object_, blind, kOtherId, &out_), S_OK);
    EXPECT_EQ(out_, &object_.second);
}

}  // namespace
}  // namespace vrl::server
