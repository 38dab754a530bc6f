#pragma once
// One row of the module's object map: nine words, one per field, in the order hosts of this frame
// expect. A static array of rows ends with a row of nine zero words (null class id).

#include <cstddef>

#include "object_creator.h"
#include "vrl_platform.h"

namespace vrl::server {

// One component category a class implements or requires; a list ends with a null category.
struct ComponentCategoryEntry {
    enum Kind : UINT { End = 0, Implemented = 1, Required = 2 };
    Kind kind;
    const GUID* category;
};

using RegistrationRoutine = HRESULT(WINAPI*)(BOOL do_register);
using DescriptionRoutine = const wchar_t*(WINAPI*)();
using CategoryListRoutine = const ComponentCategoryEntry*(WINAPI*)();
using ClassInitRoutine = void(WINAPI*)(BOOL starting);

struct ObjectMapEntry {
    const CLSID* class_id;
    RegistrationRoutine update_registry;
    ObjectCreator class_object_creator;
    ObjectCreator instance_creator;
    IUnknown* class_object;
    DWORD_PTR registration_cookie;
    DescriptionRoutine description;
    CategoryListRoutine category_list;
    ClassInitRoutine class_init;
};

static_assert(sizeof(ObjectMapEntry) == 9 * sizeof(void*));
static_assert(offsetof(ObjectMapEntry, class_object) == 4 * sizeof(void*));
static_assert(offsetof(ObjectMapEntry, class_init) == 8 * sizeof(void*));
#if defined(_WIN32) && !defined(_WIN64)
// The product layout: nine 4-byte words.
static_assert(sizeof(ObjectMapEntry) == 36);
static_assert(offsetof(ObjectMapEntry, instance_creator) == 12);
static_assert(offsetof(ObjectMapEntry, description) == 24);
static_assert(offsetof(ObjectMapEntry, class_init) == 32);
#endif

}  // namespace vrl::server
