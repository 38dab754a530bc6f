#include "run_registry_script.h"

#include "script_resource.h"
#include "script_runner.h"

namespace vrl::regscript {
namespace {

class LoadedModule {
public:
    explicit LoadedModule(HMODULE module) noexcept : module_(module) {}
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    ~LoadedModule() { FreeLibrary(module_); }
    HMODULE get() const noexcept { return module_; }

private:
    HMODULE module_;
};

class SystemModulePaths final : public ModulePathApi {
public:
    DWORD GetModuleFileNameA(void* module, char* buffer, DWORD size) noexcept override {
        return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
    }
    DWORD GetShortPathNameA(const char* long_path, char* buffer, DWORD size) noexcept override {
        return ::GetShortPathNameA(long_path, buffer, size);
    }
    DWORD GetLastError() noexcept override { return ::GetLastError(); }
};

// The narrow form of a wide name that came from narrow text of at most kPathSize bytes.
HRESULT Narrow(const CodePageText& text, const WideChar* wide, char (&narrow)[kPathSize * 2]) {
    if (text.ToNarrow(wide, -1, narrow, static_cast<int>(sizeof narrow)) == 0) {
        return LastErrorResult(::GetLastError());
    }
    return S_OK;
}

}  // namespace

ModulePathApi& system_module_paths() noexcept {
    static SystemModulePaths paths;
    return paths;
}

HRESULT LoadScriptResource(ReplacementMap& variables, const WideChar* module_path,
                           WORD resource_id, const WideChar* resource_type, bool do_register,
                           const ScriptEnvironment& environment) noexcept {
    char path[kPathSize * 2];
    char type[kPathSize * 2];
    HRESULT hr = Narrow(environment.text, module_path, path);
    if (SUCCEEDED(hr)) {
        hr = Narrow(environment.text, resource_type, type);
    }
    if (FAILED(hr)) {
        return hr;
    }
    const HMODULE data_file = ::LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (data_file == nullptr) {
        return LastErrorResult(::GetLastError());
    }
    const LoadedModule library(data_file);
    const HRSRC resource = ::FindResourceA(library.get(), MAKEINTRESOURCEA(resource_id), type);
    if (resource == nullptr) {
        return LastErrorResult(::GetLastError());
    }
    const HGLOBAL loaded = ::LoadResource(library.get(), resource);
    if (loaded == nullptr) {
        return LastErrorResult(::GetLastError());
    }
    const DWORD size = ::SizeofResource(library.get(), resource);
    const void* data = ::LockResource(loaded);
    if (data == nullptr && size != 0) {
        return LastErrorResult(::GetLastError());
    }
    TaskBlock<char> copy(environment.memory);
    const char* text = nullptr;
    hr = ScriptTextFromResource(data, size, copy, &text);
    if (FAILED(hr)) {
        return hr;
    }
    ScriptReader reader(variables, environment);
    return RunScriptText(reader, text, do_register);
}

HRESULT RunRegistryScript(HMODULE module, WORD resource_id, bool do_register,
                          const ScriptVariable* extra, const ScriptEnvironment& environment,
                          ModulePathApi& paths) noexcept {
    for (const ScriptVariable* variable = extra; variable != nullptr && variable->name != nullptr;
         ++variable) {
        if (variable->value == nullptr) {
            return E_INVALIDARG;
        }
    }
    char path[kPathSize];
    HRESULT hr = GetScriptModulePath(paths, module, path);
    if (FAILED(hr)) {
        return hr;
    }
    WideChar wide_path[kPathSize];
    if (environment.text.ToWide(path, -1, wide_path, static_cast<int>(kPathSize)) == 0) {
        return LastErrorResult(::GetLastError());
    }
    WideChar escaped[kPathSize * 2 + 1];
    EscapeQuotes(wide_path, escaped);

    // A variable that cannot be added is missing: a script that uses it fails as undefined.
    ReplacementMap variables(environment.memory, environment.text);
    variables.Add(L"Module", escaped);
    for (; extra != nullptr && extra->name != nullptr; ++extra) {
        variables.Add(extra->name, extra->value);
    }
    return LoadScriptResource(variables, wide_path, resource_id, L"REGISTRY", do_register,
                              environment);
}

HRESULT RunRegistryScript(HMODULE module, WORD resource_id, bool do_register,
                          const ScriptVariable* extra) noexcept {
    const ScriptEnvironment environment{system_registry(), system_code_page(),
                                        system_task_memory()};
    return RunRegistryScript(module, resource_id, do_register, extra, environment,
                             system_module_paths());
}

}  // namespace vrl::regscript
