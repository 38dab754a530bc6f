#pragma once
// The library-wide module record: the library's handles, the object map, the lock count that keeps
// the library loaded, the cached class objects, the routines to run when the module stops, and the
// two locks that guard them. The operations take the record, so that tests can run their own.

#include "critical_section.h"
#include "object_map_entry.h"
#include "vrl_platform.h"

namespace vrl::server {

// Routines run at module termination, most recently added first. The argument is a word, so that
// it can carry a pointer on either architecture.
using TermCallback = void(WINAPI*)(DWORD_PTR argument);

struct TermCallbackNode {
    TermCallback routine;
    DWORD_PTR argument;
    TermCallbackNode* next;
};

// Rows are nine words wide unless LayoutMarker is kSevenWordLayout.
inline constexpr UINT kNineWordLayout = 132;
inline constexpr UINT kSevenWordLayout = 100;

// Every field is named in mixed case, like the record's lock count and locks that other parts of the
// frame name.
struct ComponentModule {
    UINT LayoutMarker;
    HINSTANCE ModuleInstance;
    HINSTANCE ResourceInstance;
    HINSTANCE TypeLibraryInstance;
    ObjectMapEntry* ObjectMap;
    // Changed only by LockModule and UnlockModule, atomically. May go negative after an unmatched
    // LockServer(FALSE); the library can then not be unloaded until it is back at 0.
    volatile LONG ModuleLockCount;
    // Guards the loading of type information and the term-callback list.
    ModuleCriticalSection TypeInfoLock;
    // Guards the creation of cached class objects.
    ModuleCriticalSection ClassObjectLock;
    TermCallbackNode* TermCallbacks;
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(ComponentModule) == 7 * 4 + 2 * sizeof(CRITICAL_SECTION));
#endif

// The one record of this library.
ComponentModule& LibraryModule() noexcept;

// Width of the object map's rows, in words, as the record's LayoutMarker gives it.
std::size_t ObjectMapRowWords(const ComponentModule& module) noexcept;
// The row after `row` in the record's object map.
ObjectMapEntry* NextObjectMapRow(const ComponentModule& module, ObjectMapEntry* row) noexcept;

// Null module: E_INVALIDARG, and nothing happens.
HRESULT ModuleInit(ComponentModule* module, ObjectMapEntry* object_map, HINSTANCE instance) noexcept;
HRESULT ModuleTerm(ComponentModule* module) noexcept;
HRESULT ModuleGetClassObject(ComponentModule* module, REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
// S_OK, or E_OUTOFMEMORY with nothing added; E_INVALIDARG for a null module.
HRESULT AddTermCallback(ComponentModule* module, TermCallback routine, DWORD_PTR argument) noexcept;

// On the library's record.
void LockModule() noexcept;
void UnlockModule() noexcept;

}  // namespace vrl::server
