#pragma once
// An outer object that aggregates a Vorel: it keeps the inner IUnknown and hands out IVorel
// (and, unless it refuses it, IDispatch) from the inner object. It lives on the stack and only
// counts its references and the questions it is asked.

#include <cstring>

#include "VRLCOM.h"

namespace vrl::test {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TestOuter final : public IUnknown {
public:
    explicit TestOuter(bool refuse_dispatch = false) : refuse_dispatch_(refuse_dispatch) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (Same(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (inner != nullptr && (Same(riid, IID_IVorel) || (Same(riid, IID_IDispatch) && !refuse_dispatch_))) {
            return inner->QueryInterface(riid, ppv);
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    IUnknown* inner = nullptr;
    int refs = 1;
    int queries = 0;  // calls of QueryInterface

private:
    static bool Same(REFIID a, REFIID b) { return std::memcmp(&a, &b, sizeof(IID)) == 0; }

    bool refuse_dispatch_;
};
#pragma GCC diagnostic pop

}  // namespace vrl::test
