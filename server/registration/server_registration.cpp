#include "server_registration.h"

#include "component_categories.h"
#include "module_type_library.h"
#include "other_view.h"

namespace vrl::server {
namespace {

// A row whose description routine yields a description is registered by other means; a row
// without a registration routine has nothing to register.
bool TakesPart(const ObjectMapEntry& row) noexcept {
    return row.update_registry != nullptr && (row.description == nullptr || row.description() == nullptr);
}

// Only nine-word rows carry a category-list routine.
const ComponentCategoryEntry* CategoriesOf(const ComponentModule& module,
                                           const ObjectMapEntry& row) noexcept {
    if (module.LayoutMarker != kNineWordLayout || row.category_list == nullptr) {
        return nullptr;
    }
    return row.category_list();
}

}  // namespace

HRESULT RegisterServer(const ComponentModule& module, InstallScope scope) noexcept {
    for (ObjectMapEntry* row = module.ObjectMap; row != nullptr && row->class_id != nullptr;
         row = NextObjectMapRow(module, row)) {
        if (!TakesPart(*row)) {
            continue;
        }
        HRESULT hr = row->update_registry(TRUE);
        if (FAILED(hr)) {
            return hr;
        }
        hr = UpdateClassCategories(*row->class_id, CategoriesOf(module, *row), true);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return RegisterModuleTypeLib(module.TypeLibraryInstance, scope);
}

// While the other view registers a class, the ProgIDs that the script would remove with it are
// shared: only this view's class key goes, by name, and nothing else is read or written back.
// Otherwise the script removes all of it, as for a module alone.
HRESULT UnregisterServer(const ComponentModule& module, InstallScope scope) noexcept {
    KeptViews kept;
    for (ObjectMapEntry* row = module.ObjectMap; row != nullptr && row->class_id != nullptr;
         row = NextObjectMapRow(module, row)) {
        if (!TakesPart(*row)) {
            continue;
        }
        const CLSID& class_id = *row->class_id;
        if (OtherViewRegistersClass(scope, class_id, module.ModuleInstance)) {
            // Its category rows lie beneath it and go with it.
            kept.scope = true;
            const ClassesPath own = ClassesPath(scope) << L"CLSID\\" << class_id;
            ::RegDeleteTreeW(own.root(), own.get());
        } else {
            static_cast<void>(row->update_registry(FALSE));
            static_cast<void>(UpdateClassCategories(class_id, CategoriesOf(module, *row), false));
        }
        if (scope == InstallScope::User &&
            OtherViewRegistersClass(InstallScope::Machine, class_id, module.ModuleInstance)) {
            kept.machine = true;
        }
    }
    static_cast<void>(UnregisterModuleTypeLib(module.TypeLibraryInstance, "oleaut32.dll", scope, kept));
    return S_OK;
}

}  // namespace vrl::server
