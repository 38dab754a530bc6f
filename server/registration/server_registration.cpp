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

// A class that the other view registers for another file (the other architecture's DLL) shares
// the ProgIDs that the script would remove with it: only this view's class key goes, by name.
// Every other class goes by the script. The other view's server is read for each class, and, for a
// per-user unregistration (which Wine's platform functions carry into the machine's classes), the
// machine's other view's as well; while either registers the class, only this view's part of the
// type library's keys goes.
HRESULT UnregisterServer(const ComponentModule& module, InstallScope scope) noexcept {
    bool other_view_registers = false;
    for (ObjectMapEntry* row = module.ObjectMap; row != nullptr && row->class_id != nullptr;
         row = NextObjectMapRow(module, row)) {
        if (!TakesPart(*row)) {
            continue;
        }
        const CLSID& class_id = *row->class_id;
        if (OtherViewRegistersClass(scope, class_id, module.ModuleInstance)) {
            // Its category rows lie beneath it and go with it.
            other_view_registers = true;
            const ClassesPath own = ClassesPath(scope) << L"CLSID\\" << class_id;
            ::RegDeleteTreeW(own.root(), own.get());
        } else {
            static_cast<void>(row->update_registry(FALSE));
            static_cast<void>(UpdateClassCategories(class_id, CategoriesOf(module, *row), false));
        }
        if (scope == InstallScope::User &&
            OtherViewRegistersClass(InstallScope::Machine, class_id, module.ModuleInstance)) {
            other_view_registers = true;
        }
    }
    static_cast<void>(
        UnregisterModuleTypeLib(module.TypeLibraryInstance, "oleaut32.dll", scope, other_view_registers));
    return S_OK;
}

}  // namespace vrl::server
