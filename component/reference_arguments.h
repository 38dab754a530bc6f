#pragma once
// By-name calls with the result parameters (pVal, pBVal: the parameters the type information
// flags out) in every form hosts pass. VBScript passes every variable as a by-reference variant
// (VT_BYREF|VT_VARIANT), and a procedure passing on a ByRef parameter of its own passes a reference
// to a reference; the platform's type-information Invoke refuses these for the int* and BSTR*
// parameters, so the status and the text would never reach the script. This call follows each
// chain of references to the storage the caller owns, hands the parameters to the type information
// in a form it accepts, and writes the results into the caller's variables after the method has run
// (nothing of the caller's is read or converted before). A value in place of a variable (a
// VBScript literal, any JScript argument) gets storage of the parameter's own type, by reference,
// whose result is dropped: the platform would refuse most values for an out-parameter, and leak
// what the method wrote for the others. Other arguments go through unchanged.

#include "type_info_holder.h"
#include "vrl_platform.h"

namespace vrl::component {

// `type_info` is the one `holder` has loaded, which also names each member's result parameters.
HRESULT InvokeWithReferenceArguments(const TypeInfoHolder& holder, ITypeInfo* type_info, void* instance,
                                     DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argument_error) noexcept;

}  // namespace vrl::component
