#include "component_module.h"

#include <cstring>
#include <new>

#include "allocator.h"

namespace vrl::server {
namespace {

ComponentModule g_module{};

bool SameId(REFGUID a, const GUID& b) noexcept {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

bool HasClassInit(const ComponentModule& module) noexcept {
    return ObjectMapRowWords(module) == 9;
}

}  // namespace

ComponentModule& LibraryModule() noexcept {
    return g_module;
}

std::size_t ObjectMapRowWords(const ComponentModule& module) noexcept {
    return module.LayoutMarker == kSevenWordLayout ? 7 : 9;
}

ObjectMapEntry* NextObjectMapRow(const ComponentModule& module, ObjectMapEntry* row) noexcept {
    // Seven-word rows are laid out back to back, so the step is taken in words, not in rows.
    return reinterpret_cast<ObjectMapEntry*>(reinterpret_cast<void**>(row) + ObjectMapRowWords(module));
}

HRESULT ModuleInit(ComponentModule* module, ObjectMapEntry* object_map, HINSTANCE instance) noexcept {
    if (module == nullptr) {
        return E_INVALIDARG;
    }
    module->ObjectMap = object_map;
    module->ModuleLockCount = 0;
    module->ModuleInstance = instance;
    module->ResourceInstance = instance;
    module->TypeLibraryInstance = instance;
    module->TypeInfoLock.Start();
    module->ClassObjectLock.Start();
    module->TermCallbacks = nullptr;
    if (object_map != nullptr && HasClassInit(*module)) {
        for (ObjectMapEntry* row = object_map; row->class_id != nullptr; row = NextObjectMapRow(*module, row)) {
            if (row->class_init != nullptr) {
                row->class_init(TRUE);
            }
        }
    }
    return S_OK;
}

HRESULT ModuleTerm(ComponentModule* module) noexcept {
    if (module == nullptr) {
        return E_INVALIDARG;
    }
    if (module->ObjectMap != nullptr) {
        for (ObjectMapEntry* row = module->ObjectMap; row->class_id != nullptr;
             row = NextObjectMapRow(*module, row)) {
            if (row->class_object != nullptr) {
                row->class_object->Release();
            }
            row->class_object = nullptr;
            if (HasClassInit(*module) && row->class_init != nullptr) {
                row->class_init(FALSE);
            }
        }
    }
    module->TypeInfoLock.Stop();
    module->ClassObjectLock.Stop();
    // The locks are gone: a term routine must not take them.
    TermCallbackNode* node = module->TermCallbacks;
    module->TermCallbacks = nullptr;
    while (node != nullptr) {
        node->routine(node->argument);
        TermCallbackNode* const next = node->next;
        vrl::FreeMemory(node);
        node = next;
    }
    return S_OK;
}

HRESULT ModuleGetClassObject(ComponentModule* module, REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    if (module == nullptr) {
        return E_INVALIDARG;
    }
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    HRESULT result = S_OK;
    if (module->ObjectMap != nullptr) {
        for (ObjectMapEntry* row = module->ObjectMap; row->class_id != nullptr;
             row = NextObjectMapRow(*module, row)) {
            if (row->class_object_creator == nullptr || !SameId(rclsid, *row->class_id)) {
                continue;
            }
            // Created at most once: only the thread that still finds the cache empty under the
            // lock calls the creator. A failed creation leaves the cache empty for the next try.
            if (row->class_object == nullptr) {
                CriticalSectionScope hold(module->ClassObjectLock);
                if (row->class_object == nullptr) {
                    result = row->class_object_creator(reinterpret_cast<void*>(row->instance_creator),
                                                       IID_IUnknown,
                                                       reinterpret_cast<void**>(&row->class_object));
                }
            }
            if (row->class_object != nullptr) {
                result = row->class_object->QueryInterface(riid, ppv);
            }
            break;
        }
    }
    if (*ppv == nullptr && result == S_OK) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return result;
}

HRESULT AddTermCallback(ComponentModule* module, TermCallback routine, DWORD_PTR argument) noexcept {
    if (module == nullptr) {
        return E_INVALIDARG;
    }
    void* const memory = vrl::AllocateMemory(sizeof(TermCallbackNode));
    if (memory == nullptr) {
        return E_OUTOFMEMORY;
    }
    auto* const node = new (memory) TermCallbackNode{routine, argument, nullptr};
    CriticalSectionScope hold(module->TypeInfoLock);
    node->next = module->TermCallbacks;
    module->TermCallbacks = node;
    return S_OK;
}

void LockModule() noexcept {
    ::InterlockedIncrement(&g_module.ModuleLockCount);
}

void UnlockModule() noexcept {
    ::InterlockedDecrement(&g_module.ModuleLockCount);
}

}  // namespace vrl::server
