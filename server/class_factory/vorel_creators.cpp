#include "vorel_creators.h"

#include <new>

#include "aggregated_vorel.h"
#include "allocator.h"
#include "component_module.h"
#include "plain_vorel.h"

namespace vrl::server {

HRESULT WINAPI CreateVorel(void* outer, REFIID riid, void** ppv) {
    return outer == nullptr ? CreatePlainVorel(nullptr, riid, ppv) : CreateAggregatedVorel(outer, riid, ppv);
}

HRESULT WINAPI CreatePlainVorel(void*, REFIID riid, void** ppv) {
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
    void* const memory = AllocateMemory(sizeof(AggregatedVorel));
    if (memory == nullptr) {
        return E_OUTOFMEMORY;
    }
    auto* const object = new (memory) AggregatedVorel(static_cast<IUnknown*>(outer));
    LockModule();
    const HRESULT result = object->QueryInterface(riid, ppv);
    if (result != S_OK) {
        object->Destroy();
    }
    return result;
}

}  // namespace vrl::server
