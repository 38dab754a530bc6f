#include "script_reader.h"

#include <cstdint>
#include <cstring>

namespace vrl::regscript {

void SkipBlanks(ScriptReader& reader) noexcept {
    while (IsBlank(*reader.cursor)) {
        reader.cursor = reader.environment.text.CharNext(reader.cursor);
    }
}

bool IsClosingQuote(const ScriptReader& reader) noexcept {
    return *reader.cursor == '\'' && *reader.environment.text.CharNext(reader.cursor) != '\'';
}

HRESULT ReadToken(ScriptReader& reader, TokenBuffer& token) noexcept {
    const CodePageText& text = reader.environment.text;
    SkipBlanks(reader);
    if (*reader.cursor == '\0') {
        return DISP_E_EXCEPTION;
    }
    std::size_t written = 0;
    // Copies the character at the cursor and steps over it. The whole character must fit before
    // the NUL, however many bytes the code page gives it.
    auto copy_char = [&]() noexcept -> bool {
        const char* next = text.CharNext(reader.cursor);
        const auto size = static_cast<std::size_t>(next - reader.cursor);
        if (written >= kTokenCharLimit || size > kTokenSize - 1 - written) {
            return false;
        }
        while (reader.cursor < next) {
            token[written++] = *reader.cursor++;
        }
        return true;
    };

    if (*reader.cursor != '\'') {
        while (*reader.cursor != '\0' && !IsBlank(*reader.cursor)) {
            if (!copy_char()) {
                return DISP_E_EXCEPTION;
            }
        }
    } else {
        reader.cursor = text.CharNext(reader.cursor);
        for (;;) {
            if (*reader.cursor == '\0') {
                return DISP_E_EXCEPTION;
            }
            if (IsClosingQuote(reader)) {
                reader.cursor = text.CharNext(reader.cursor);
                break;
            }
            if (*reader.cursor == '\'') {
                reader.cursor = text.CharNext(reader.cursor);
            }
            if (!copy_char()) {
                return DISP_E_EXCEPTION;
            }
        }
    }
    token[written] = '\0';
    return S_OK;
}

namespace {

// The output of the substitution pass, in task memory. Its capacity starts at twice the script's
// length, which is 0 for an empty script, and doubles whenever an append would not fit, so there
// is always room for a whole character and the terminating NUL.
class ExpandedTextBuffer {
public:
    explicit ExpandedTextBuffer(TaskMemory& memory) noexcept : memory_(memory) {}
    ExpandedTextBuffer(const ExpandedTextBuffer&) = delete;
    ExpandedTextBuffer& operator=(const ExpandedTextBuffer&) = delete;
    ~ExpandedTextBuffer() { memory_.Free(data_); }

    bool Start(std::size_t source_length) noexcept {
        if (source_length > SIZE_MAX / 2) {
            return false;
        }
        capacity_ = source_length * 2;
        data_ = static_cast<char*>(memory_.Allocate(capacity_));
        return data_ != nullptr;
    }

    // Room for `bytes` more bytes beyond the current length.
    bool Reserve(std::size_t bytes) noexcept {
        if (bytes > SIZE_MAX - length_) {
            return false;
        }
        const std::size_t needed = length_ + bytes;
        if (needed <= capacity_) {
            return true;
        }
        std::size_t grown = capacity_ == 0 ? 16 : capacity_;
        while (grown < needed) {
            if (grown > SIZE_MAX / 2) {
                return false;
            }
            grown *= 2;
        }
        auto* data = static_cast<char*>(memory_.Reallocate(data_, grown));
        if (data == nullptr) {
            return false;
        }
        data_ = data;
        capacity_ = grown;
        return true;
    }

    bool Append(const char* bytes, std::size_t count) noexcept {
        if (!Reserve(count)) {
            return false;
        }
        std::memcpy(data_ + length_, bytes, count);
        length_ += count;
        return true;
    }

    char* tail() noexcept { return data_ + length_; }
    void Commit(std::size_t count) noexcept { length_ += count; }

    char* Release() noexcept {
        char* data = data_;
        data_ = nullptr;
        return data;
    }

private:
    TaskMemory& memory_;
    char* data_ = nullptr;
    std::size_t length_ = 0;
    std::size_t capacity_ = 0;
};

// Appends the narrow form of a variable's value, without its terminating NUL.
HRESULT AppendValue(ExpandedTextBuffer& buffer, const CodePageText& text,
                    const WideChar* value) noexcept {
    if (value[0] == 0) {
        return S_OK;
    }
    const int needed = text.ToNarrow(value, -1, nullptr, 0);
    if (needed <= 0) {
        return DISP_E_EXCEPTION;
    }
    if (!buffer.Reserve(static_cast<std::size_t>(needed))) {
        return E_OUTOFMEMORY;
    }
    const int written = text.ToNarrow(value, -1, buffer.tail(), needed);
    if (written <= 0) {
        return DISP_E_EXCEPTION;
    }
    buffer.Commit(static_cast<std::size_t>(written - 1));
    return S_OK;
}

}  // namespace

HRESULT ExpandVariables(ScriptReader& reader, const char* source, char** expanded) noexcept {
    const CodePageText& text = reader.environment.text;
    *expanded = nullptr;
    ExpandedTextBuffer buffer(reader.environment.memory);
    if (!buffer.Start(std::strlen(source))) {
        return E_OUTOFMEMORY;
    }
    const char* position = source;
    while (*position != '\0') {
        const char* next = text.CharNext(position);
        if (*position != '%') {
            if (!buffer.Append(position, static_cast<std::size_t>(next - position))) {
                return E_OUTOFMEMORY;
            }
            position = next;
            continue;
        }
        if (*next == '%') {
            if (!buffer.Append("%", 1)) {
                return E_OUTOFMEMORY;
            }
            position = text.CharNext(next);
            continue;
        }
        const char* name_start = next;
        const char* name_end = name_start;
        while (*name_end != '\0' && *name_end != '%') {
            name_end = text.CharNext(name_end);
        }
        if (*name_end != '%') {
            return DISP_E_EXCEPTION;
        }
        const auto name_length = static_cast<std::size_t>(name_end - name_start);
        if (name_length >= kVariableNameSize) {
            return E_FAIL;
        }
        char name[kVariableNameSize];
        std::memcpy(name, name_start, name_length);
        name[name_length] = '\0';
        const WideChar* value = reader.variables.Find(name);
        if (value == nullptr) {
            return DISP_E_EXCEPTION;
        }
        const HRESULT hr = AppendValue(buffer, text, value);
        if (Failed(hr)) {
            return hr;
        }
        position = text.CharNext(name_end);
    }
    if (!buffer.Append("", 1)) {
        return E_OUTOFMEMORY;
    }
    *expanded = buffer.Release();
    return S_OK;
}

}  // namespace vrl::regscript
