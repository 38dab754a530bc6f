#pragma once
// The process-wide holder of an interface's type information, loaded from the registered type
// library on first use, with a cache of the interface's member names for by-name look-ups and of
// each member's result parameters for by-name calls.
//
// Loading tests twice: without a lock, then again under the module's TypeInfoLock. The type
// information pointer is the publication point: it is stored (release) only after the name cache is
// complete, and read (acquire) without a lock by every call, so that once loaded nothing locks or
// allocates. The first load adds the holder's cleanup to the module's term callbacks, once, whether
// it succeeds or not; cleanup takes it off again.

#include <atomic>

#include "result_parameters.h"
#include "vrl_platform.h"

namespace vrl::component {

struct NameCacheEntry {
    BSTR name;     // owned; null when the function's name could not be read
    LONG length;   // in UTF-16 code units
    DISPID dispid;
    ResultParameters results;  // read with the name
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
    // Maps a member name and the names of its parameters to DISPIDs. The member name comes from the
    // cache, else from the type information itself; if it is unknown (or null), every slot gets
    // DISPID_UNKNOWN and its failure is returned. Each parameter name is resolved by the type
    // information; an unknown or null one gets DISPID_UNKNOWN and DISP_E_UNKNOWNNAME, the others
    // their parameter's DISPID.
    HRESULT LookUp(LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) noexcept;
    // The type information, loaded first if need be, without a reference of its own; null with the
    // load's failure in *result.
    ITypeInfo* Require(LCID lcid, HRESULT* result) noexcept;
    // The result parameters of `member` of the loaded type information `type_info`: from the cache,
    // else (a function whose entry could not be made) read from its description, which the type
    // information copies on every read. False when there is no such function.
    bool ResultsOf(ITypeInfo* type_info, DISPID member, ResultParameters* results) const noexcept;

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
    // Whether the cleanup is in the module's term-callback list.
    std::atomic<bool> cleanup_listed_{false};
};

// The one holder, for IVorel in VRLCOMLib 1.0.
TypeInfoHolder& VorelTypeInfo() noexcept;

}  // namespace vrl::component
