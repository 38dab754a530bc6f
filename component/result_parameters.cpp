#include "result_parameters.h"

namespace vrl::component {
namespace {

// The variant type that holds the result of one parameter; VT_EMPTY when it is no result.
VARTYPE ResultType(const ELEMDESC& parameter) noexcept {
    if ((parameter.paramdesc.wParamFlags & PARAMFLAG_FOUT) == 0 || parameter.tdesc.vt != VT_PTR) {
        return VT_EMPTY;
    }
    switch (parameter.tdesc.lptdesc->vt) {
    case VT_INT:
        return VT_I4;
    case VT_BSTR:
        return VT_BSTR;
    default:
        return VT_EMPTY;
    }
}

}  // namespace

void ResultParameters::Read(const FUNCDESC& function) noexcept {
    const auto parameters = static_cast<UINT>(function.cParams);
    count = parameters <= kMostParameters ? parameters : 0;
    for (UINT i = 0; i < count; ++i) {
        types[i] = ResultType(function.lprgelemdescParam[i]);
    }
}

bool ResultParameters::Any() const noexcept {
    for (UINT i = 0; i < count; ++i) {
        if (types[i] != VT_EMPTY) {
            return true;
        }
    }
    return false;
}

}  // namespace vrl::component
