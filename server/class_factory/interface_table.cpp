#include "interface_table.h"

namespace vrl::server {
namespace {

void HandOut(void* object, std::uintptr_t offset, void** ppv) noexcept {
    auto* const unknown = reinterpret_cast<IUnknown*>(static_cast<unsigned char*>(object) + offset);
    unknown->AddRef();
    *ppv = unknown;
}

}  // namespace

HRESULT TableQueryInterface(void* object, const InterfaceTableRow* table, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    // IUnknown is the identity: the first row answers it without a walk.
    if (SameId(riid, IID_IUnknown)) {
        HandOut(object, table[0].value, ppv);
        return S_OK;
    }
    for (const InterfaceTableRow* row = table; row->routine != 0; ++row) {
        const bool blind = row->iid == nullptr;
        if (!blind && !SameId(*row->iid, riid)) {
            continue;
        }
        if (row->routine == OffsetMarker) {
            HandOut(object, row->value, ppv);
            return S_OK;
        }
        const auto routine = reinterpret_cast<InterfaceRoutine>(row->routine);
        const HRESULT result = routine(object, riid, ppv, row->value);
        if (result == S_OK) {
            return result;
        }
        if (FAILED(result) && !blind) {
            // Whatever the routine left there is not an interface.
            *ppv = nullptr;
            return result;
        }
    }
    // A blind routine that declined may have written the out pointer.
    *ppv = nullptr;
    return E_NOINTERFACE;
}

}  // namespace vrl::server
