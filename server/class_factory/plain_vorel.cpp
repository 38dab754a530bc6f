#include "plain_vorel.h"

#include "allocator.h"
#include "component_module.h"
#include "vorel_interface_table.h"

namespace vrl::server {

// Hosts and the frame rely on this layout: table of methods, count, the connection.
static_assert(sizeof(PlainVorel) == 2 * sizeof(void*) + sizeof(gateway::GatewayConnection));

HRESULT STDMETHODCALLTYPE PlainVorel::QueryInterface(REFIID riid, void** ppv) {
    return TableQueryInterface(this, VorelInterfaceTable, riid, ppv);
}

ULONG STDMETHODCALLTYPE PlainVorel::AddRef() {
    return static_cast<ULONG>(++ref_count_);
}

ULONG STDMETHODCALLTYPE PlainVorel::Release() {
    const LONG count = --ref_count_;
    if (count == 0) {
        Destroy();
    }
    return static_cast<ULONG>(count);
}

void PlainVorel::Destroy() noexcept {
    // A reference taken and dropped while the object goes must not start its destruction again.
    ref_count_ = 1;
    this->~PlainVorel();
    // The memory goes first: once the module is unlocked, the library may be unloaded at any time.
    vrl::FreeMemory(this);
    UnlockModule();
}

}  // namespace vrl::server
