#pragma once
// The process-wide holder of an interface's type information, loaded from the registered type
// library on first use, with a cache of the interface's member names for by-name look-ups.
//
// Loading tests twice: without a lock, then again under the module's TypeInfoLock. The type
// information pointer is the publication point: it is stored (release) only after the name cache is
// complete, and read (acquire) without a lock by every call, so that once loaded nothing locks or
// allocates. Every load that took the lock adds the holder's cleanup to the module's term callbacks
// after leaving it; cleanup of an empty holder does nothing, so the repeated entries are harmless.

#include <atomic>

#include "vrl_platform.h"

namespace vrl::component {

struct NameCacheEntry {
    BSTR name;     // owned; null when the function's name could not be read
    LONG length;   // in UTF-16 code units
    DISPID dispid;
};

class TypeInfoHolder {
public:
    constexpr TypeInfoHolder(const GUID* interface_id, const GUID* library_id, WORD major, WORD minor) noexcept
        : interface_id_(interface_id), library_id_(library_id), major_(major), minor_(minor) {}
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    // Makes the type information and the name cache present.
    HRESULT Load(LCID lcid) noexcept;
    // Hands out the type information with a reference for the caller; null and the load's failure
    // when it cannot be loaded.
    HRESULT Get(LCID lcid, ITypeInfo** type_info) noexcept;
    // Maps member names to DISPIDs: from the cache, else from the type information itself. Stops at
    // the first name that cannot be resolved; slots already written stay written.
    HRESULT LookUp(LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) noexcept;
    // The type information, loaded first if need be, without a reference of its own; null with the
    // load's failure in *result.
    ITypeInfo* Require(LCID lcid, HRESULT* result) noexcept;

    // The term callback: drops the type information and the cache. `holder` is the holder's address.
    static void WINAPI Cleanup(DWORD_PTR holder) noexcept;

    bool IsLoaded() const noexcept { return type_info_.load(std::memory_order_acquire) != nullptr; }
    LONG EntryCount() const noexcept { return entry_count_; }
    const NameCacheEntry* Entries() const noexcept { return cache_; }

private:
    HRESULT LoadLocked(LCID lcid) noexcept;
    void BuildCache(ITypeInfo* type_info) noexcept;
    const NameCacheEntry* Find(const OLECHAR* name, LONG length) const noexcept;

    const GUID* interface_id_;
    const GUID* library_id_;
    WORD major_;
    WORD minor_;
    std::atomic<ITypeInfo*> type_info_{nullptr};
    NameCacheEntry* cache_ = nullptr;
    LONG entry_count_ = 0;
};

// The one holder, for IVorel in VRLCOMLib 1.0.
TypeInfoHolder& VorelTypeInfo() noexcept;

}  // namespace vrl::component
