#pragma once
// Table-driven QueryInterface. A class describes its interfaces in a constant array of rows ended
// by a row whose routine column is 0. The first row is an offset row and gives the object's
// identity (IUnknown).
//
// A row is three words: interface id (null makes a blind row, tried for every request), a value,
// and the routine column: OffsetMarker makes an offset row (the value is the byte offset of the
// interface pointer inside the object), anything else is an InterfaceRoutine called with the value.

#include <cstdint>
#include <cstring>

#include "vrl_platform.h"

namespace vrl::server {

using InterfaceRoutine = HRESULT (*)(void* object, REFIID riid, void** ppv, std::uintptr_t value);

struct InterfaceTableRow {
    const IID* iid;
    std::uintptr_t value;
    std::uintptr_t routine;  // OffsetMarker, an InterfaceRoutine's address, or 0 at the end
};

inline constexpr std::uintptr_t OffsetMarker = 1;

static_assert(sizeof(InterfaceTableRow) == 3 * sizeof(void*), "a row is three words");

inline constexpr InterfaceTableRow OffsetRow(const IID& iid, std::uintptr_t offset) noexcept {
    return {&iid, offset, OffsetMarker};
}

inline InterfaceTableRow RoutineRow(const IID* iid, InterfaceRoutine routine, std::uintptr_t value) noexcept {
    return {iid, value, reinterpret_cast<std::uintptr_t>(routine)};
}

inline constexpr InterfaceTableRow EndRow{nullptr, 0, 0};

// Interface ids are equal when all 16 bytes are.
inline bool SameId(const IID& a, const IID& b) noexcept {
    return std::memcmp(&a, &b, sizeof(IID)) == 0;
}

HRESULT TableQueryInterface(void* object, const InterfaceTableRow* table, REFIID riid, void** ppv) noexcept;

}  // namespace vrl::server
