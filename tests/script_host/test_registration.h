#pragma once
// Registers VRLCOM.Vorel for a test with plain registry writes (class key, in-process server,
// ProgIDs) and the type library with the platform, and removes all of it again.

#include "vrl_platform.h"

namespace vrl::test {

// S_OK, or the first failure.
HRESULT RegisterForTest(const wchar_t* dll_path);
void UnregisterForTest();

}  // namespace vrl::test
