#include "object_map.h"

#include "VRLCOM.h"
#include "class_factory.h"
#include "component_module.h"
#include "run_registry_script.h"
#include "vorel_creators.h"

namespace vrl::server {
namespace {

HRESULT WINAPI UpdateVorelRegistry(BOOL do_register) {
    return regscript::RunRegistryScript(LibraryModule().ModuleInstance, kVorelScriptResource,
                                        do_register != FALSE, nullptr);
}

const wchar_t* WINAPI VorelDescription() {
    return nullptr;
}

const ComponentCategoryEntry* WINAPI VorelCategories() {
    return nullptr;
}

void WINAPI VorelClassInit(BOOL) {}

ObjectMapEntry g_object_map[] = {
    {&CLSID_Vorel, UpdateVorelRegistry, CreateClassFactory, CreateVorel, nullptr, 0, VorelDescription,
     VorelCategories, VorelClassInit},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

}  // namespace

ObjectMapEntry* LibraryObjectMap() noexcept {
    return g_object_map;
}

}  // namespace vrl::server
