#include "code_page_text.h"

#include <oleauto.h>

namespace vrl::regscript {
namespace {

class SystemCodePage final : public CodePageText {
public:
    bool IsLeadByte(unsigned char byte) const noexcept override {
        return IsDBCSLeadByte(byte) != FALSE;
    }
    const char* CharNext(const char* position) const noexcept override {
        return ::CharNextA(position);
    }
    int CompareNoCase(const char* left, const char* right) const noexcept override {
        return ::lstrcmpiA(left, right);
    }
    int ToWide(const char* source, int source_bytes, WideChar* target,
               int target_units) const noexcept override {
        return ::MultiByteToWideChar(CP_ACP, 0, source, source_bytes, target, target_units);
    }
    int ToNarrow(const WideChar* source, int source_units, char* target,
                 int target_bytes) const noexcept override {
        return ::WideCharToMultiByte(CP_ACP, 0, source, source_units, target, target_bytes,
                                     nullptr, nullptr);
    }
    bool ParseUInt32(const WideChar* text, std::uint32_t* value) const noexcept override {
        ULONG number = 0;
        if (FAILED(::VarUI4FromStr(const_cast<OLECHAR*>(text), 0, 0, &number))) {
            return false;
        }
        *value = number;
        return true;
    }
};

}  // namespace

const CodePageText& system_code_page() noexcept {
    static const SystemCodePage code_page;
    return code_page;
}

}  // namespace vrl::regscript
