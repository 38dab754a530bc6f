#pragma once
// Running a registry script resource of a module: the entry point of registration and
// unregistration. The module's instance handle comes from the caller (the module record).

#include "module_path.h"
#include "replacement_map.h"
#include "script_reader.h"

namespace vrl::regscript {

// One extra replacement variable; a list of them ends with a null name.
struct ScriptVariable {
    const WideChar* name;
    const WideChar* value;
};

#ifdef _WIN32

// Runs the "REGISTRY" resource `resource_id` of `module` against the registry, registering or
// unregistering. The variable "Module" holds the module's short path with its single quotes
// doubled; `extra` adds more variables and may be null. A variable with a null value fails the
// call with E_INVALIDARG before anything runs.
HRESULT RunRegistryScript(HMODULE module, WORD resource_id, bool do_register,
                          const ScriptVariable* extra) noexcept;

// The same with the registry, code page, task memory and path queries given.
HRESULT RunRegistryScript(HMODULE module, WORD resource_id, bool do_register,
                          const ScriptVariable* extra, const ScriptEnvironment& environment,
                          ModulePathApi& paths) noexcept;

// Loads the script resource from the module file as data, without running the module's code, and
// runs it with `variables`.
HRESULT LoadScriptResource(ReplacementMap& variables, const WideChar* module_path,
                           WORD resource_id, const WideChar* resource_type, bool do_register,
                           const ScriptEnvironment& environment) noexcept;

#endif

}  // namespace vrl::regscript
