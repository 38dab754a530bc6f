#pragma once
// By-name calls with by-reference arguments from script hosts. VBScript passes every variable as a
// by-reference variant (VT_BYREF|VT_VARIANT); the platform's type-information Invoke refuses that
// for the int* and BSTR* parameters, so the status and the text would never reach the script.
// This call hands those parameters to the type information in a form it accepts and writes the
// results back into the caller's variants; calls without such arguments go through unchanged.

#include "vrl_platform.h"

namespace vrl::component {

HRESULT InvokeWithReferenceArguments(ITypeInfo* type_info, void* instance, DISPID member, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument_error) noexcept;

}  // namespace vrl::component
