#pragma once
// The two path rules of type-library registration, kept apart from the platform calls: the name
// of the ".tlb" file beside a module whose own file carries no loadable type library, and the help
// directory that goes with a registered library's path.

#include <cstddef>

#include "code_page_text.h"
#include "module_path.h"

namespace vrl::server {

using regscript::WideChar;

inline constexpr std::size_t kTypeLibPathSize = regscript::kPathSize;

// Rewrites `path` (narrow, NUL-terminated, in a buffer of kTypeLibPathSize bytes) in place: from
// its last "." to the end becomes ".tlb"; a path without a "." gets ".tlb" appended. Characters
// are stepped with the code page's CharNext, so a trail byte is never taken for a ".". False,
// with the path unchanged, when the result would not fit the buffer.
bool ToTypeLibraryFileName(char* path, const regscript::CodePageText& code_page) noexcept;

// The help directory of a library path: the path up to and including its last "\", "/" or ":",
// written to `directory` (kTypeLibPathSize units); empty when the path holds none of the three.
void HelpDirectoryOf(const WideChar* path, WideChar (&directory)[kTypeLibPathSize]) noexcept;

}  // namespace vrl::server
