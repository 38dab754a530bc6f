#include "replacement_map.h"

#include <cstring>

namespace vrl::regscript {
namespace {

// Longer than any name a script can reference (31 bytes), so a name that does not convert into it
// can never match.
constexpr int kNarrowNameSize = 64;

std::size_t WideLength(const WideChar* text) noexcept {
    std::size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

}  // namespace

ReplacementMap::ReplacementMap(TaskMemory& memory, const CodePageText& text) noexcept
    : memory_(memory), text_(text) {
    entries_ = static_cast<ReplacementEntry**>(
        memory_.Allocate(sizeof(ReplacementEntry*) * static_cast<std::size_t>(capacity_)));
}

ReplacementMap::~ReplacementMap() {
    Clear();
    memory_.Free(entries_);
}

WideChar* ReplacementMap::Copy(const WideChar* text) noexcept {
    const std::size_t bytes = (WideLength(text) + 1) * sizeof(WideChar);
    auto* copy = static_cast<WideChar*>(memory_.Allocate(bytes));
    if (copy != nullptr) {
        std::memcpy(copy, text, bytes);
    }
    return copy;
}

void ReplacementMap::FreeEntry(ReplacementEntry* entry) noexcept {
    memory_.Free(entry->value);
    memory_.Free(entry->name);
    memory_.Free(entry);
}

HRESULT ReplacementMap::Add(const WideChar* name, const WideChar* value) noexcept {
    auto* entry = static_cast<ReplacementEntry*>(memory_.Allocate(sizeof(ReplacementEntry)));
    if (entry == nullptr) {
        return E_OUTOFMEMORY;
    }
    entry->name = Copy(name);
    entry->value = Copy(value);
    if (entry->name == nullptr || entry->value == nullptr || entries_ == nullptr) {
        FreeEntry(entry);
        return E_OUTOFMEMORY;
    }
    if (count_ == capacity_) {
        const int grown = capacity_ * 2;
        auto* array = static_cast<ReplacementEntry**>(memory_.Reallocate(
            entries_, sizeof(ReplacementEntry*) * static_cast<std::size_t>(grown)));
        if (array == nullptr) {
            // The old array and its entries stay valid and owned.
            FreeEntry(entry);
            return E_OUTOFMEMORY;
        }
        entries_ = array;
        capacity_ = grown;
    }
    entries_[count_++] = entry;
    return S_OK;
}

const WideChar* ReplacementMap::Find(const char* name) const noexcept {
    for (int index = 0; index < count_; ++index) {
        char narrow[kNarrowNameSize];
        if (text_.ToNarrow(entries_[index]->name, -1, narrow, kNarrowNameSize) == 0) {
            continue;
        }
        if (text_.EqualsNoCase(narrow, name)) {
            return entries_[index]->value;
        }
    }
    return nullptr;
}

void ReplacementMap::Clear() noexcept {
    for (int index = 0; index < count_; ++index) {
        FreeEntry(entries_[index]);
    }
    count_ = 0;
}

}  // namespace vrl::regscript
