#pragma once
// The front end of the registry script language: the reader's state over the expanded text, the
// substitution pass (ExpandVariables) and the tokenizer (SkipBlanks, ReadToken, IsClosingQuote).

#include <array>
#include <cstddef>

#include "code_page_text.h"
#include "registry_api.h"
#include "replacement_map.h"
#include "script_platform.h"
#include "task_memory.h"

namespace vrl::regscript {

// What a run talks to: the registry, the code page of the script text, and task memory.
struct ScriptEnvironment {
    RegistryApi& registry;
    const CodePageText& text;
    TaskMemory& memory;
};

inline constexpr std::size_t kTokenSize = 4096;
// A character is copied into a token only when it starts before this byte of the buffer.
inline constexpr std::size_t kTokenCharLimit = kTokenSize - 2;
inline constexpr std::size_t kVariableNameSize = 32;

using TokenBuffer = std::array<char, kTokenSize>;

struct ScriptReader {
    ScriptReader(ReplacementMap& map, const ScriptEnvironment& env) noexcept
        : variables(map), environment(env) {}

    const char* cursor = nullptr;
    ReplacementMap& variables;
    const ScriptEnvironment& environment;
    // Nesting of the block being run, bounded by kMaxBlockDepth (script_runner.h).
    int depth = 0;
};

// Blanks are exactly tab, line feed, carriage return and space.
constexpr bool IsBlank(char c) noexcept {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

void SkipBlanks(ScriptReader& reader) noexcept;

// A single quote whose next character is not another single quote.
bool IsClosingQuote(const ScriptReader& reader) noexcept;

// Reads one token into `token`, NUL-terminated; the cursor stands after it. DISP_E_EXCEPTION when
// the text ends before a token, inside a quoted token, or when the token does not fit.
HRESULT ReadToken(ScriptReader& reader, TokenBuffer& token) noexcept;

// Replaces every %name% by the variable's value and %% by %. On success *expanded is the
// NUL-terminated result in task memory, owned by the caller.
HRESULT ExpandVariables(ScriptReader& reader, const char* text, char** expanded) noexcept;

}  // namespace vrl::regscript
