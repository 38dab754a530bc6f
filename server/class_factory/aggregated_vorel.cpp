#include "aggregated_vorel.h"

#include "allocator.h"
#include "component_module.h"
#include "vorel_interface_table.h"

namespace vrl::server {

// The frame relies on this layout: inner table of methods, inner count, then the contained object
// (its table of methods, the outer pointer in the place of the count, the connection).
static_assert(sizeof(ContainedVorel) == 2 * sizeof(void*) + sizeof(gateway::GatewayConnection));
static_assert(sizeof(AggregatedVorel) == 2 * sizeof(void*) + sizeof(ContainedVorel));

HRESULT STDMETHODCALLTYPE ContainedVorel::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    const HRESULT result = outer_->QueryInterface(riid, ppv);
    const auto* const identity = reinterpret_cast<const unsigned char*>(this) + VorelInterfaceTable[0].value;
    if (FAILED(result) && identity != reinterpret_cast<const unsigned char*>(outer_)) {
        return TableQueryInterface(this, VorelInterfaceTable, riid, ppv);
    }
    if (FAILED(result)) {
        // Whatever the outer object left there is not an interface.
        *ppv = nullptr;
    }
    return result;
}

ULONG STDMETHODCALLTYPE ContainedVorel::AddRef() {
    return outer_->AddRef();
}

ULONG STDMETHODCALLTYPE ContainedVorel::Release() {
    return outer_->Release();
}

HRESULT STDMETHODCALLTYPE AggregatedVorel::QueryInterface(REFIID riid, void** ppv) {
    if (SameId(riid, IID_IUnknown)) {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return TableQueryInterface(&contained_, VorelInterfaceTable, riid, ppv);
}

ULONG STDMETHODCALLTYPE AggregatedVorel::AddRef() {
    return static_cast<ULONG>(++inner_count_);
}

ULONG STDMETHODCALLTYPE AggregatedVorel::Release() {
    const LONG count = --inner_count_;
    if (count == 0) {
        Destroy();
    }
    return static_cast<ULONG>(count);
}

void AggregatedVorel::Destroy() noexcept {
    inner_count_ = 1;
    this->~AggregatedVorel();
    // The memory goes first: once the module is unlocked, the library may be unloaded at any time.
    vrl::FreeMemory(this);
    UnlockModule();
}

}  // namespace vrl::server
