#include "type_library_path.h"

#include <cstring>

namespace vrl::server {

bool ToTypeLibraryFileName(char* path, const regscript::CodePageText& code_page) noexcept {
    static constexpr char kExtension[] = ".tlb";
    char* dot = nullptr;
    char* end = path;
    while (*end != '\0') {
        if (*end == '.') {
            dot = end;
        }
        end = path + (code_page.CharNext(end) - path);
    }
    char* const cut = dot != nullptr ? dot : end;
    if (static_cast<std::size_t>(cut - path) + sizeof kExtension > kTypeLibPathSize) {
        return false;
    }
    std::memcpy(cut, kExtension, sizeof kExtension);
    return true;
}

void HelpDirectoryOf(const WideChar* path, WideChar (&directory)[kTypeLibPathSize]) noexcept {
    std::size_t keep = 0;
    for (std::size_t i = 0; i < kTypeLibPathSize - 1 && path[i] != 0; ++i) {
        directory[i] = path[i];
        if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':') {
            keep = i + 1;
        }
    }
    directory[keep] = 0;
}

}  // namespace vrl::server
