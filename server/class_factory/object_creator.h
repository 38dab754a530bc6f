#pragma once
// The one signature of every creation routine: (argument, requested interface id, out pointer).

#include "vrl_platform.h"

namespace vrl::server {

using ObjectCreator = HRESULT(WINAPI*)(void* argument, REFIID riid, void** ppv);

}  // namespace vrl::server
