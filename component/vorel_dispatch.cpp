// The IDispatch half of IVorel. Until the process-wide type-information holder serves these
// calls, the object reports that it has no type information, and late binding is refused with
// E_NOTIMPL; early binding through the table of methods is unaffected.
#include "vorel.h"

namespace vrl::component {

HRESULT STDMETHODCALLTYPE Vorel::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) {
        return E_POINTER;
    }
    *pctinfo = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Vorel::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo == nullptr) {
        return E_POINTER;
    }
    *ppTInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Vorel::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE Vorel::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                        UINT*) {
    return E_NOTIMPL;
}

}  // namespace vrl::component
