#include "type_info_holder.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>

#include "VRLCOM.h"
#include "allocator.h"
#include "com_ref.h"
#include "component_module.h"

namespace vrl::component {
namespace {

constinit TypeInfoHolder g_vorel_type_info(&IID_IVorel, &LIBID_VRLCOMLib, 1, 0);

// Frees one BSTR unless something took it.
class OwnedName {
public:
    OwnedName() = default;
    OwnedName(const OwnedName&) = delete;
    OwnedName& operator=(const OwnedName&) = delete;
    ~OwnedName() { ::SysFreeString(name_); }
    BSTR* put() noexcept { return &name_; }
    BSTR get() const noexcept { return name_; }
    BSTR release() noexcept { return std::exchange(name_, nullptr); }

private:
    BSTR name_ = nullptr;
};

// One function's description, released when the holder goes.
class FunctionDescription {
public:
    explicit FunctionDescription(ITypeInfo* type_info) noexcept : type_info_(type_info) {}
    FunctionDescription(const FunctionDescription&) = delete;
    FunctionDescription& operator=(const FunctionDescription&) = delete;
    ~FunctionDescription() { reset(); }

    // The description of function `index`, or null.
    const FUNCDESC* Read(UINT index) noexcept {
        reset();
        if (FAILED(type_info_->GetFuncDesc(index, &description_))) {
            description_ = nullptr;
        }
        return description_;
    }

private:
    void reset() noexcept {
        if (description_ != nullptr) {
            type_info_->ReleaseFuncDesc(std::exchange(description_, nullptr));
        }
    }

    ITypeInfo* type_info_;
    FUNCDESC* description_ = nullptr;
};

}  // namespace

TypeInfoHolder& VorelTypeInfo() noexcept {
    return g_vorel_type_info;
}

HRESULT TypeInfoHolder::Load(LCID lcid) noexcept {
    if (IsLoaded()) {
        return S_OK;
    }
    server::ComponentModule& module = server::LibraryModule();
    HRESULT result;
    {
        server::CriticalSectionScope hold(module.TypeInfoLock);
        result = LoadLocked(lcid);
    }
    // Listed once, after the lock is left (adding a term callback takes the same lock by itself): a
    // host that keeps failing to load must not grow the list with every call. A node that cannot be
    // had is tried again by the next load.
    if (!cleanup_listed_.exchange(true) &&
        FAILED(server::AddTermCallback(&module, Cleanup, reinterpret_cast<DWORD_PTR>(this)))) {
        cleanup_listed_.store(false);
    }
    return result;
}

HRESULT TypeInfoHolder::LoadLocked(LCID lcid) noexcept {
    if (type_info_.load(std::memory_order_relaxed) != nullptr) {
        return S_OK;
    }
    ComRef<ITypeLib> library;
    HRESULT result = ::LoadRegTypeLib(*library_id_, major_, minor_, lcid, library.put());
    if (FAILED(result)) {
        return result;
    }
    ComRef<ITypeInfo> type_info;
    result = library->GetTypeInfoOfGuid(*interface_id_, type_info.put());
    if (FAILED(result)) {
        return result;
    }
    ITypeInfo2* type_info2 = nullptr;
    if (SUCCEEDED(type_info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&type_info2)))) {
        type_info.reset(type_info2);
    }
    BuildCache(type_info.get());
    type_info_.store(type_info.detach(), std::memory_order_release);
    return result;
}

void TypeInfoHolder::BuildCache(ITypeInfo* type_info) noexcept {
    TYPEATTR* attributes = nullptr;
    if (FAILED(type_info->GetTypeAttr(&attributes))) {
        return;
    }
    entry_count_ = attributes->cFuncs;
    if (entry_count_ != 0) {
        const auto count = static_cast<std::size_t>(entry_count_);
        void* const memory = vrl::AllocateMemory(count * sizeof(NameCacheEntry));
        if (memory == nullptr) {
            entry_count_ = 0;
        } else {
            cache_ = static_cast<NameCacheEntry*>(memory);
            for (std::size_t i = 0; i < count; ++i) {
                new (&cache_[i]) NameCacheEntry{nullptr, 0, DISPID_UNKNOWN, {}};
            }
        }
    }
    FunctionDescription description(type_info);
    for (LONG i = 0; i < entry_count_; ++i) {
        const FUNCDESC* const function = description.Read(static_cast<UINT>(i));
        if (function == nullptr) {
            continue;
        }
        OwnedName name;
        if (SUCCEEDED(type_info->GetDocumentation(function->memid, name.put(), nullptr, nullptr, nullptr)) &&
            name.get() != nullptr) {
            cache_[i].results.Read(*function);
            cache_[i].length = static_cast<LONG>(::SysStringLen(name.get()));
            cache_[i].dispid = function->memid;
            cache_[i].name = name.release();
        }
    }
    type_info->ReleaseTypeAttr(attributes);
}

ITypeInfo* TypeInfoHolder::Require(LCID lcid, HRESULT* result) noexcept {
    *result = S_OK;
    ITypeInfo* type_info = type_info_.load(std::memory_order_acquire);
    if (type_info == nullptr) {
        *result = Load(lcid);
        type_info = type_info_.load(std::memory_order_acquire);
    }
    return type_info;
}

HRESULT TypeInfoHolder::Get(LCID lcid, ITypeInfo** type_info) noexcept {
    HRESULT result;
    ITypeInfo* const present = Require(lcid, &result);
    *type_info = present;
    if (present == nullptr) {
        return result;
    }
    present->AddRef();
    return S_OK;
}

bool TypeInfoHolder::ResultsOf(ITypeInfo* type_info, DISPID member, ResultParameters* results) const noexcept {
    for (LONG i = 0; i < entry_count_; ++i) {
        if (cache_[i].name != nullptr && cache_[i].dispid == member) {
            *results = cache_[i].results;
            return true;
        }
    }
    FunctionDescription description(type_info);
    for (UINT index = 0; const FUNCDESC* const function = description.Read(index); ++index) {
        if (function->memid == member) {
            results->Read(*function);
            return true;
        }
    }
    return false;
}

const NameCacheEntry* TypeInfoHolder::Find(const OLECHAR* name, LONG length) const noexcept {
    for (LONG i = entry_count_ - 1; i >= 0; --i) {
        const NameCacheEntry& entry = cache_[i];
        if (entry.name != nullptr && entry.length == length &&
            std::wmemcmp(entry.name, name, static_cast<std::size_t>(length)) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

HRESULT TypeInfoHolder::LookUp(LPOLESTR* names, UINT count, LCID lcid, DISPID* dispids) noexcept {
    if (count != 0 && (names == nullptr || dispids == nullptr)) {
        return E_POINTER;
    }
    HRESULT result;
    ITypeInfo* const type_info = Require(lcid, &result);
    if (type_info == nullptr || count == 0) {
        return result;
    }
    // The first name is the member's: from the cache, else from the type information.
    if (names[0] == nullptr) {
        result = DISP_E_UNKNOWNNAME;
    } else if (const NameCacheEntry* const hit = Find(names[0], ::lstrlenW(names[0])); hit != nullptr) {
        dispids[0] = hit->dispid;
    } else {
        result = type_info->GetIDsOfNames(&names[0], 1, &dispids[0]);
    }
    if (FAILED(result)) {
        std::fill(dispids, dispids + count, DISPID_UNKNOWN);
        return result;
    }
    // The others name the member's parameters (named arguments): the type information resolves each
    // one together with the member name. An unknown or null name fails its own slot only.
    for (UINT i = 1; i < count; ++i) {
        HRESULT named = DISP_E_UNKNOWNNAME;
        DISPID pair_ids[2] = {DISPID_UNKNOWN, DISPID_UNKNOWN};
        if (names[i] != nullptr) {
            LPOLESTR pair[2] = {names[0], names[i]};
            named = type_info->GetIDsOfNames(pair, 2, pair_ids);
        }
        if (FAILED(named)) {
            dispids[i] = DISPID_UNKNOWN;
            result = named;
        } else {
            dispids[i] = pair_ids[1];
        }
    }
    return result;
}

void WINAPI TypeInfoHolder::Cleanup(DWORD_PTR holder) noexcept {
    auto* const self = reinterpret_cast<TypeInfoHolder*>(holder);
    if (ITypeInfo* const type_info = self->type_info_.exchange(nullptr); type_info != nullptr) {
        type_info->Release();
    }
    if (self->cache_ != nullptr) {
        for (LONG i = 0; i < self->entry_count_; ++i) {
            ::SysFreeString(self->cache_[i].name);
        }
        vrl::FreeMemory(self->cache_);
        self->cache_ = nullptr;
    }
    self->entry_count_ = 0;
    self->cleanup_listed_.store(false);
}

}  // namespace vrl::component
