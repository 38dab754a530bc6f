// The IDispatch half of IVorel, served for plain and aggregated objects alike from the one
// type-information holder of the process.
#include "reference_arguments.h"
#include "type_info_holder.h"
#include "vorel.h"

namespace vrl::component {

HRESULT STDMETHODCALLTYPE Vorel::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) {
        return E_POINTER;
    }
    *pctinfo = 1;
    return S_OK;
}

// Every index yields the one type information.
HRESULT STDMETHODCALLTYPE Vorel::GetTypeInfo(UINT, LCID lcid, ITypeInfo** ppTInfo) {
    if (ppTInfo == nullptr) {
        return E_POINTER;
    }
    return VorelTypeInfo().Get(lcid, ppTInfo);
}

HRESULT STDMETHODCALLTYPE Vorel::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                               DISPID* rgDispId) {
    return VorelTypeInfo().LookUp(rgszNames, cNames, lcid, rgDispId);
}

HRESULT STDMETHODCALLTYPE Vorel::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags,
                                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                        UINT* puArgErr) {
    TypeInfoHolder& holder = VorelTypeInfo();
    HRESULT loaded;
    ITypeInfo* const type_info = holder.Require(lcid, &loaded);
    if (type_info == nullptr) {
        return loaded;
    }
    return InvokeWithReferenceArguments(holder, type_info, static_cast<IVorel*>(this), dispIdMember, wFlags,
                                        pDispParams, pVarResult, pExcepInfo, puArgErr);
}

}  // namespace vrl::component
