#pragma once
// Component categories of a class, registered through the platform's component categories
// manager: the categories it implements and those it requires.

#include "object_map_entry.h"

namespace vrl::server {

// Registers (or unregisters) every category of `list` for `class_id`, up to the End entry. A null
// or empty list does nothing and succeeds. Registering stops at the first failure and returns it;
// unregistering goes through the whole list and reports the first failure.
HRESULT UpdateClassCategories(const CLSID& class_id, const ComponentCategoryEntry* list,
                              bool do_register) noexcept;

}  // namespace vrl::server
