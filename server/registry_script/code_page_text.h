#pragma once
// Narrow text in the process's ANSI code page: stepping by characters (CharNextA), case-insensitive
// comparison (lstrcmpiA), conversion to and from wide text (CP_ACP) and the reading of an unsigned
// number (VarUI4FromStr). system_code_page() is the platform's on Windows; ModelCodePage stands in
// for it elsewhere with a single-byte code page or code page 950's lead-byte rule.

#include <cstdint>

#include "script_platform.h"

namespace vrl::regscript {

class CodePageText {
public:
    virtual ~CodePageText() = default;

    virtual bool IsLeadByte(unsigned char byte) const noexcept = 0;

    // The next character: two bytes on for a lead byte followed by a byte that is not NUL, one
    // byte on otherwise, and no step at all on the terminating NUL.
    virtual const char* CharNext(const char* position) const noexcept {
        if (*position == '\0') {
            return position;
        }
        if (IsLeadByte(static_cast<unsigned char>(*position)) && position[1] != '\0') {
            return position + 2;
        }
        return position + 1;
    }

    // lstrcmpiA: 0 when equal apart from letter case.
    virtual int CompareNoCase(const char* left, const char* right) const noexcept = 0;

    // MultiByteToWideChar / WideCharToMultiByte with CP_ACP. A source length of -1 includes the
    // terminating NUL; a destination size of 0 asks for the size needed. 0 means failure.
    virtual int ToWide(const char* source, int source_bytes, WideChar* target,
                       int target_units) const noexcept = 0;
    virtual int ToNarrow(const WideChar* source, int source_units, char* target,
                         int target_bytes) const noexcept = 0;

    // VarUI4FromStr with locale 0 and no flags; false when the text is no number in range.
    virtual bool ParseUInt32(const WideChar* text, std::uint32_t* value) const noexcept = 0;

    bool EqualsNoCase(const char* left, const char* right) const noexcept {
        return CompareNoCase(left, right) == 0;
    }
};

#ifdef _WIN32
const CodePageText& system_code_page() noexcept;
#endif

// A model of an ANSI code page for tests and fuzzing, matching what the platform (measured under
// Wine) does with code pages 1252 and 950. 950 uses its lead bytes 0x81 to 0xFE; a pair whose
// trail byte is 0x40 to 0x7E or 0xA1 to 0xFE is one character, any other pair and a lead byte
// without a trail byte convert to "?". The fullwidth Latin letters of 950 convert to their own
// code units, other pairs to 0x4000 + (lead - 0x81) * 256 + trail; 1252's bytes 0x80 to 0x9F to
// the code units the platform gives them, every other byte to the code unit of the same number.
// Comparison ignores letter case as ModelUpperCase folds it, character by character. Numbers are
// read as the platform's VarUI4FromStr reads them (see ParseUInt32).
class ModelCodePage final : public CodePageText {
public:
    explicit ModelCodePage(unsigned code_page) noexcept : double_byte_(code_page == 950) {}

    bool IsLeadByte(unsigned char byte) const noexcept override;
    int CompareNoCase(const char* left, const char* right) const noexcept override;
    int ToWide(const char* source, int source_bytes, WideChar* target,
               int target_units) const noexcept override;
    int ToNarrow(const WideChar* source, int source_units, char* target,
                 int target_bytes) const noexcept override;
    // Blanks around; "&H" hexadecimal or "&O" octal digits; or "$", a sign or parentheses (a
    // negative number), decimal digits with "," between them, a fraction after "." and an exponent
    // after "e", rounded half to even. Fails when nothing else is left but a number from 0 to
    // 0xFFFFFFFF.
    bool ParseUInt32(const WideChar* text, std::uint32_t* value) const noexcept override;

private:
    // The code unit of the character at `source` (at most `available` bytes, -1: up to its NUL)
    // and the number of bytes it takes.
    unsigned NextUnit(const char* source, int available, int* bytes) const noexcept;

    bool double_byte_;
};

// The platform's letter case folding, for the letters the model's code pages can hold: ASCII,
// Latin-1, 1252's and 950's fullwidth Latin letters. Lower-case letters give their upper case.
unsigned ModelUpperCase(unsigned unit) noexcept;

}  // namespace vrl::regscript
