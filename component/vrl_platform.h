#pragma once
// The platform declarations that the generated VRLCOM.h builds on (IUnknown, IDispatch, BSTR ...),
// taken from the SDK headers. vrl_platform.idl mirrors them for widl.

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <oleauto.h>
