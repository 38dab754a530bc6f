#pragma once
// The replacement variables of one script run, in insertion order. Names and values are wide
// strings copied into task memory; lookup compares the narrow form of each name case-insensitively
// and the first match wins.

#include "code_page_text.h"
#include "script_platform.h"
#include "task_memory.h"

namespace vrl::regscript {

struct ReplacementEntry {
    WideChar* name;
    WideChar* value;
};

class ReplacementMap {
public:
    static constexpr int kInitialCapacity = 10;

    // The entry array is allocated here for kInitialCapacity entries; when that fails the map
    // stays empty and every insertion reports E_OUTOFMEMORY.
    ReplacementMap(TaskMemory& memory, const CodePageText& text) noexcept;
    ReplacementMap(const ReplacementMap&) = delete;
    ReplacementMap& operator=(const ReplacementMap&) = delete;
    ~ReplacementMap();

    HRESULT Add(const WideChar* name, const WideChar* value) noexcept;
    // The value of the first variable whose name equals `name` apart from letter case, or null.
    const WideChar* Find(const char* name) const noexcept;
    void Clear() noexcept;

    int count() const noexcept { return count_; }
    int capacity() const noexcept { return capacity_; }

private:
    WideChar* Copy(const WideChar* text) noexcept;
    void FreeEntry(ReplacementEntry* entry) noexcept;

    TaskMemory& memory_;
    const CodePageText& text_;
    ReplacementEntry** entries_ = nullptr;
    int count_ = 0;
    int capacity_ = kInitialCapacity;
};

}  // namespace vrl::regscript
