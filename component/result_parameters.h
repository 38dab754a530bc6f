#pragma once
// Which parameters of a method carry its results back to the caller, as its type information says.

#include "vrl_platform.h"

namespace vrl::component {

// The parameters of a function that the type information flags out (pVal, pBVal), by position, each
// with the variant type that holds its result: VT_I4 for an int*, VT_BSTR for a BSTR*. VT_EMPTY for
// every other parameter.
struct ResultParameters {
    // The most parameters of any IVorel method; a function with more is described as having none.
    static constexpr UINT kMostParameters = 5;

    UINT count;  // of parameters described
    VARTYPE types[kMostParameters];

    void Read(const FUNCDESC& function) noexcept;
    // Whether any parameter carries a result.
    bool Any() const noexcept;
};

}  // namespace vrl::component
