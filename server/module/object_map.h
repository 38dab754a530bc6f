#pragma once
// The object map of this library: the row of Vorel, then the end row.

#include "object_map_entry.h"

namespace vrl::server {

// The registry script resource that registers Vorel.
inline constexpr WORD kVorelScriptResource = 102;

ObjectMapEntry* LibraryObjectMap() noexcept;

}  // namespace vrl::server
