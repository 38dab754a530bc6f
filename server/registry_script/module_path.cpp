#include "module_path.h"

#include <cstring>

namespace vrl::regscript {

HRESULT GetScriptModulePath(ModulePathApi& api, void* module, char (&path)[kPathSize]) noexcept {
    char long_path[kPathSize];
    const DWORD long_length = api.GetModuleFileNameA(module, long_path, kPathSize);
    if (long_length == 0) {
        return LastErrorResult(api.GetLastError());
    }
    if (long_length >= kPathSize) {
        return HResultFromError(ERROR_INSUFFICIENT_BUFFER);
    }
    const DWORD short_length = api.GetShortPathNameA(long_path, path, kPathSize);
    if (short_length == 0 || short_length >= kPathSize) {
        std::memcpy(path, long_path, long_length + 1);
    }
    return S_OK;
}

void EscapeQuotes(const WideChar* source, WideChar* target) noexcept {
    for (; *source != 0; ++source) {
        if (*source == 0x27) {
            *target++ = 0x27;
        }
        *target++ = *source;
    }
    *target = 0;
}

}  // namespace vrl::regscript
