#pragma once
// The module path that a registry script run works with: the short form of the module's file name
// for the "Module" variable and for loading the script resource.

#include <cstddef>

#include "script_platform.h"

namespace vrl::regscript {

inline constexpr DWORD kPathSize = 260;

// The two platform queries about the module's path, and the last error they leave.
class ModulePathApi {
public:
    virtual ~ModulePathApi() = default;
    virtual DWORD GetModuleFileNameA(void* module, char* buffer, DWORD size) noexcept = 0;
    virtual DWORD GetShortPathNameA(const char* long_path, char* buffer, DWORD size) noexcept = 0;
    virtual DWORD GetLastError() noexcept = 0;
};

#ifdef _WIN32
ModulePathApi& system_module_paths() noexcept;
#endif

// A failed platform call as an HRESULT: its last error folded, or E_FAIL when it left none.
constexpr HRESULT LastErrorResult(DWORD error) noexcept {
    return error == 0 ? E_FAIL : HResultFromError(error);
}

// The short path of the module, or its long path when the short form cannot be had or does not
// fit. A long path that does not fit kPathSize fails with ERROR_INSUFFICIENT_BUFFER instead of
// being cut short.
HRESULT GetScriptModulePath(ModulePathApi& api, void* module, char (&path)[kPathSize]) noexcept;

// Copies `source` with every single quote doubled, so that the text keeps its quotes inside a
// quoted script token. `target` holds at least twice the source's length plus one.
void EscapeQuotes(const WideChar* source, WideChar* target) noexcept;

}  // namespace vrl::regscript
