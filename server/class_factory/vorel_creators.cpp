#include "vorel_creators.h"

#include <new>

#include "aggregated_vorel.h"
#include "allocator.h"
#include "component_module.h"
#include "interface_table.h"
#include "plain_vorel.h"

namespace vrl::server {

HRESULT WINAPI CreateVorel(void* outer, REFIID riid, void** ppv) {
    return outer == nullptr ? CreatePlainVorel(nullptr, riid, ppv) : CreateAggregatedVorel(outer, riid, ppv);
}

HRESULT WINAPI CreatePlainVorel(void*, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    void* const memory = AllocateMemory(sizeof(PlainVorel));
    if (memory == nullptr) {
        return E_OUTOFMEMORY;
    }
    auto* const object = new (memory) PlainVorel();
    LockModule();
    // The table's AddRef is the object's first reference.
    const HRESULT result = object->QueryInterface(riid, ppv);
    if (result != S_OK) {
        object->Destroy();
    }
    return result;
}

HRESULT WINAPI CreateAggregatedVorel(void* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    // Only the outer object may hold the inner IUnknown: an aggregate handed out by any other
    // interface would belong to no one.
    if (!SameId(riid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    void* const memory = AllocateMemory(sizeof(AggregatedVorel));
    if (memory == nullptr) {
        return E_OUTOFMEMORY;
    }
    auto* const object = new (memory) AggregatedVorel(static_cast<IUnknown*>(outer));
    LockModule();
    // Always answered: the outer object receives the inner IUnknown with the inner count at 1.
    return object->QueryInterface(IID_IUnknown, ppv);
}

}  // namespace vrl::server
