#include "server_registration.h"

#include <initializer_list>

#include "component_categories.h"
#include "module_type_library.h"
#include "other_view.h"
#include "registration_handles.h"
#include "saved_keys.h"

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

// A ProgID is a key name: at most 255 units, and room for a terminating null.
constexpr DWORD kProgIdUnits = 257;

// Adds to `saved` the ProgID keys that the class key of the other view names. They are shared
// (Windows 7 and later), and read in this process's own view: Wine shows them in no other.
void SaveSharedProgIds(InstallScope scope, const CLSID& class_id, SavedKeys& saved) noexcept {
    for (const wchar_t* name : {L"\\ProgID", L"\\VersionIndependentProgID"}) {
        const ClassesPath path = ClassesPath(scope) << L"CLSID\\" << class_id << name;
        RegistryKey key;
        wchar_t prog_id[kProgIdUnits];
        DWORD size = sizeof prog_id - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegOpenKeyExW(path.root(), path.get(), 0, KEY_READ | kOtherView, key.put()) != ERROR_SUCCESS ||
            ::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(prog_id), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            continue;
        }
        // The value may or may not hold its terminating null.
        prog_id[size / sizeof(wchar_t)] = L'\0';
        if (prog_id[0] != L'\0') {
            const ClassesPath prog_id_path = ClassesPath(scope) << prog_id;
            static_cast<void>(saved.Add(prog_id_path.root(), prog_id_path.get(), 0));
        }
    }
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

// The script removes the ProgIDs with the class; when the other view's class is still registered
// afterwards, it shares them, and they are written back as they were. Where the other view is this
// one, its class is gone with this one's and nothing is written back.
HRESULT UnregisterServer(const ComponentModule& module, InstallScope scope) noexcept {
    KeptViews kept;
    for (ObjectMapEntry* row = module.ObjectMap; row != nullptr && row->class_id != nullptr;
         row = NextObjectMapRow(module, row)) {
        if (!TakesPart(*row)) {
            continue;
        }
        SavedKeys shared;
        SaveSharedProgIds(scope, *row->class_id, shared);
        static_cast<void>(row->update_registry(FALSE));
        static_cast<void>(UpdateClassCategories(*row->class_id, CategoriesOf(module, *row), false));
        if (OtherViewRegistersClass(scope, *row->class_id)) {
            shared.Restore();
            kept.scope = true;
        }
        if (scope == InstallScope::User && OtherViewRegistersClass(InstallScope::Machine, *row->class_id)) {
            kept.machine = true;
        }
    }
    static_cast<void>(UnregisterModuleTypeLib(module.TypeLibraryInstance, "oleaut32.dll", scope, kept));
    return S_OK;
}

}  // namespace vrl::server
