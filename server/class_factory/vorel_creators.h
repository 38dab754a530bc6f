#pragma once
// The creation routines of Vorel objects (ObjectCreator signature). CreateVorel is the instance
// creator that the class factory calls: a null outer object builds a plain object, any other an
// aggregated one. A new object holds one module lock from construction to destruction.

#include "vrl_platform.h"

namespace vrl::server {

HRESULT WINAPI CreateVorel(void* outer, REFIID riid, void** ppv);
HRESULT WINAPI CreatePlainVorel(void* outer, REFIID riid, void** ppv);
HRESULT WINAPI CreateAggregatedVorel(void* outer, REFIID riid, void** ppv);

}  // namespace vrl::server
