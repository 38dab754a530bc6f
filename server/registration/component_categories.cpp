#include "component_categories.h"

#include <comcat.h>

namespace vrl::server {
namespace {

class CatRegisterRef {
public:
    CatRegisterRef() noexcept = default;
    CatRegisterRef(const CatRegisterRef&) = delete;
    CatRegisterRef& operator=(const CatRegisterRef&) = delete;
    ~CatRegisterRef() {
        if (manager_ != nullptr) {
            manager_->Release();
        }
    }

    ICatRegister* operator->() const noexcept { return manager_; }
    void** put() noexcept { return reinterpret_cast<void**>(&manager_); }

private:
    ICatRegister* manager_ = nullptr;
};

HRESULT UpdateOne(ICatRegister* manager, const CLSID& class_id, const ComponentCategoryEntry& entry,
                  bool do_register) noexcept {
    // The manager's methods take a list of categories; ours come one at a time.
    CATID category = *entry.category;
    const bool implemented = entry.kind == ComponentCategoryEntry::Implemented;
    if (do_register) {
        return implemented ? manager->RegisterClassImplCategories(class_id, 1, &category)
                           : manager->RegisterClassReqCategories(class_id, 1, &category);
    }
    return implemented ? manager->UnRegisterClassImplCategories(class_id, 1, &category)
                       : manager->UnRegisterClassReqCategories(class_id, 1, &category);
}

}  // namespace

HRESULT UpdateClassCategories(const CLSID& class_id, const ComponentCategoryEntry* list,
                              bool do_register) noexcept {
    if (list == nullptr || list->kind == ComponentCategoryEntry::End) {
        return S_OK;
    }
    CatRegisterRef manager;
    HRESULT hr = ::CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ICatRegister, manager.put());
    if (FAILED(hr)) {
        return hr;
    }
    HRESULT first_failure = S_OK;
    for (const ComponentCategoryEntry* entry = list; entry->kind != ComponentCategoryEntry::End;
         ++entry) {
        if (entry->category == nullptr) {
            continue;
        }
        hr = UpdateOne(manager.operator->(), class_id, *entry, do_register);
        if (FAILED(hr)) {
            if (do_register) {
                return hr;
            }
            if (SUCCEEDED(first_failure)) {
                first_failure = hr;
            }
        }
    }
    return first_failure;
}

}  // namespace vrl::server
