#include "script_runner.h"

#include <cstring>

#include "key_tree.h"
#include "script_tables.h"

namespace vrl::regscript {
namespace {

#define VRL_RETURN_IF_FAILED(expression) \
    do {                                 \
        const HRESULT hr_ = (expression); \
        if (Failed(hr_)) {               \
            return hr_;                  \
        }                                \
    } while (false)

// A token that is exactly "{" opens a block, in both directions; a longer one such as "{G2}" is a
// name.
bool IsBlockStart(const TokenBuffer& token) noexcept {
    return token[0] == '{' && token[1] == '\0';
}

// A key entry names one subkey: not empty (the platform would take the parent itself), not a
// block's "{" (an entry that cannot have a block, such as "Val" or "Delete", is followed by one),
// not beginning with "=" (unregistering passes over such a token after a block as an assignment)
// or "}" (it ends a block everywhere else),
// and without a backslash (each key of a path is its own entry). Double-byte characters are
// stepped over whole, so a trail byte that looks like a backslash is part of its character.
bool IsKeyName(const CodePageText& text, const TokenBuffer& token) noexcept {
    const char* name = token.data();
    if (*name == '\0' || *name == '=' || *name == '}' || IsBlockStart(token)) {
        return false;
    }
    for (const char* position = name; *position != '\0'; position = text.CharNext(position)) {
        if (*position == '\\') {
            return false;
        }
    }
    return true;
}

// Copies a key name whole; false when it is longer than any key name can be.
bool CopyKeyName(const char* source, char (&target)[kKeyNameBufferSize]) noexcept {
    const std::size_t length = std::strlen(source);
    if (length >= kKeyNameBufferSize) {
        return false;
    }
    std::memcpy(target, source, length + 1);
    return true;
}

class DepthGuard {
public:
    explicit DepthGuard(ScriptReader& reader) noexcept : reader_(reader) { ++reader_.depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    ~DepthGuard() { --reader_.depth; }
    bool exceeded() const noexcept { return reader_.depth > kMaxBlockDepth; }

private:
    ScriptReader& reader_;
};

// Opens `name` beneath `parent` with the first access that is granted.
bool OpenKey(RegistryApi& registry, HKEY parent, const char* name, REGSAM first, REGSAM second,
             HKEY* opened) noexcept {
    *opened = nullptr;
    if (registry.RegOpenKeyExA(parent, name, 0, first, opened) == ERROR_SUCCESS) {
        return true;
    }
    *opened = nullptr;
    return registry.RegOpenKeyExA(parent, name, 0, second, opened) == ERROR_SUCCESS;
}

class BlockWalker {
public:
    BlockWalker(ScriptReader& reader, TokenBuffer& token, HKEY parent, bool do_register,
                bool skip) noexcept
        : reader_(reader),
          text_(reader.environment.text),
          registry_(reader.environment.registry),
          token_(token),
          parent_(parent),
          register_(do_register),
          entry_skip_(skip),
          skip_(skip),
          current_(registry_) {}

    HRESULT Run() noexcept {
        VRL_RETURN_IF_FAILED(Next());
        while (token_[0] != '}') {
            VRL_RETURN_IF_FAILED(Entry());
        }
        return S_OK;
    }

private:
    HRESULT Next() noexcept { return ReadToken(reader_, token_); }
    bool TokenIs(const char* keyword) const noexcept {
        return text_.EqualsNoCase(token_.data(), keyword);
    }

    // Both directions read an entry alike: "ForceRemove" or "Delete", then "NoRemove", then "Val"
    // or the key name. The prefix of a value entry has no effect; when registering, the tree that
    // "ForceRemove" or "Delete" removes is the one of the key name, never a key named after the
    // keyword that follows it.
    HRESULT Entry() noexcept {
        const bool force_remove = TokenIs("ForceRemove");
        const bool is_delete = TokenIs("Delete");
        if (force_remove || is_delete) {
            VRL_RETURN_IF_FAILED(Next());
        }
        if (TokenIs("NoRemove")) {
            deletable_ = false;
            VRL_RETURN_IF_FAILED(Next());
        }
        if (TokenIs("Val")) {
            return ValueEntry();
        }
        if (!IsKeyName(text_, token_)) {
            return DISP_E_EXCEPTION;
        }
        if (!register_) {
            return UnregisterKey();
        }
        if ((force_remove || is_delete) && !IsProtectedKeyName(text_, token_.data())) {
            DeleteKeyTree(registry_, parent_, token_.data());
        }
        if (is_delete) {
            // No block may follow: a "{" here fails the next entry.
            VRL_RETURN_IF_FAILED(Next());
            return PassOverAssignment(reader_, token_);
        }
        return RegisterKey();
    }

    HRESULT ValueEntry() noexcept {
        VRL_RETURN_IF_FAILED(Next());
        if (std::strlen(token_.data()) >= kValueNameBufferSize) {
            return DISP_E_EXCEPTION;
        }
        char value_name[kValueNameBufferSize];
        std::strcpy(value_name, token_.data());
        VRL_RETURN_IF_FAILED(Next());
        if (token_[0] != '=') {
            return DISP_E_EXCEPTION;
        }
        if (register_) {
            // No block may follow: a "{" here fails the next entry, as when unregistering.
            return WriteValue(reader_, parent_, value_name, token_);
        }
        if (!skip_) {
            registry_.RegDeleteValueA(parent_, value_name);
        }
        return PassOverAssignment(reader_, token_);
    }

    HRESULT RegisterKey() noexcept {
        HKEY opened = nullptr;
        bool created = false;
        if (!OpenKey(registry_, parent_, token_.data(), KEY_ALL_ACCESS, KEY_READ, &opened)) {
            opened = nullptr;
            if (registry_.RegCreateKeyExA(parent_, token_.data(), 0, nullptr,
                                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                          &opened, nullptr) != ERROR_SUCCESS) {
                return DISP_E_EXCEPTION;
            }
            created = true;
        }
        if (current_.Replace(opened) != ERROR_SUCCESS && created) {
            return DISP_E_EXCEPTION;
        }
        VRL_RETURN_IF_FAILED(Next());
        if (token_[0] == '=') {
            VRL_RETURN_IF_FAILED(WriteValue(reader_, current_.get(), nullptr, token_));
        }
        return EndOfRegisteredEntry();
    }

    // A block after a key entry registers beneath that key.
    HRESULT EndOfRegisteredEntry() noexcept {
        if (!IsBlockStart(token_)) {
            return S_OK;
        }
        VRL_RETURN_IF_FAILED(ProcessKeyBlock(reader_, token_, current_.get(), true, false));
        return Next();
    }

    HRESULT UnregisterKey() noexcept {
        if (!skip_) {
            HKEY opened = nullptr;
            if (OpenKey(registry_, parent_, token_.data(), kUnregisterAccess, KEY_READ, &opened)) {
                current_.Replace(opened);
            } else {
                skip_ = true;
            }
        }
        // The name is kept whole: deleting by a name cut short could hit a sibling.
        char key_name[kKeyNameBufferSize] = "";
        if (!skip_ && !CopyKeyName(token_.data(), key_name)) {
            return DISP_E_EXCEPTION;
        }

        if (!skip_ && !KeyHasSubkeys(registry_, current_.get()) &&
            !KeyHasNamedValues(registry_, current_.get())) {
            if (current_.Close() != ERROR_SUCCESS) {
                return DISP_E_EXCEPTION;
            }
            if (deletable_) {
                registry_.RegDeleteKeyA(parent_, key_name);
            }
            VRL_RETURN_IF_FAILED(Next());
            VRL_RETURN_IF_FAILED(PassOverAssignment(reader_, token_));
            if (IsBlockStart(token_)) {
                VRL_RETURN_IF_FAILED(ProcessKeyBlock(reader_, token_, parent_, false, true));
                return Next();
            }
            return S_OK;
        }

        VRL_RETURN_IF_FAILED(Next());
        VRL_RETURN_IF_FAILED(PassOverAssignment(reader_, token_));
        bool block = false;
        if (IsBlockStart(token_)) {
            VRL_RETURN_IF_FAILED(ProcessKeyBlock(reader_, token_, current_.get(), false, skip_));
            if (skip_) {
                skip_ = entry_skip_;
                VRL_RETURN_IF_FAILED(Next());
                return PassOverAssignment(reader_, token_);
            }
            block = true;
        } else if (skip_) {
            return S_OK;
        }

        if (KeyHasSubkeys(registry_, current_.get())) {
            // Deletes the subkey bearing the key's own name beneath the key, if there is one: a
            // key that keeps subkeys the script does not name stays, and so do they.
            if (!IsProtectedKeyName(text_, key_name)) {
                DeleteKeyTree(registry_, current_.get(), key_name);
            }
            return block ? Next() : S_OK;
        }
        if (current_.Close() != ERROR_SUCCESS) {
            return DISP_E_EXCEPTION;
        }
        if (deletable_) {
            registry_.RegDeleteKeyA(parent_, key_name);
        }
        if (block) {
            VRL_RETURN_IF_FAILED(Next());
            return PassOverAssignment(reader_, token_);
        }
        return S_OK;
    }

    ScriptReader& reader_;
    const CodePageText& text_;
    RegistryApi& registry_;
    TokenBuffer& token_;
    const HKEY parent_;
    const bool register_;
    const bool entry_skip_;
    bool skip_;
    bool deletable_ = true;
    RegKey current_;
};

}  // namespace

HRESULT ProcessKeyBlock(ScriptReader& reader, TokenBuffer& token, HKEY parent, bool do_register,
                        bool skip) noexcept {
    const DepthGuard depth(reader);
    if (depth.exceeded()) {
        return DISP_E_EXCEPTION;
    }
    BlockWalker walker(reader, token, parent, do_register, skip);
    return walker.Run();
}

HRESULT WriteValue(ScriptReader& reader, HKEY key, const char* value_name,
                   TokenBuffer& token) noexcept {
    const ScriptEnvironment& env = reader.environment;
    TokenBuffer type;
    VRL_RETURN_IF_FAILED(ReadToken(reader, type));
    ValueKind kind{};
    if (!FindValueType(env.text, type.data(), &kind)) {
        return DISP_E_EXCEPTION;
    }
    SkipBlanks(reader);
    TokenBuffer value;
    VRL_RETURN_IF_FAILED(ReadToken(reader, value));
    const std::size_t length = std::strlen(value.data());

    switch (kind) {
    case ValueKind::String:
        env.registry.RegSetValueExA(key, value_name, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.data()),
                                    static_cast<DWORD>(length + 1));
        break;
    case ValueKind::Binary: {
        if (length % 2 != 0) {
            return E_FAIL;
        }
        std::array<BYTE, kTokenSize / 2> bytes{};
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned digit = HexDigitValue(value[i]);
            bytes[i / 2] = static_cast<BYTE>(bytes[i / 2] | (i % 2 == 0 ? digit << 4 : digit));
        }
        env.registry.RegSetValueExA(key, value_name, 0, REG_BINARY, bytes.data(),
                                    static_cast<DWORD>(length / 2));
        break;
    }
    case ValueKind::Number: {
        std::array<WideChar, kTokenSize> wide{};
        std::uint32_t number = 0;
        if (env.text.ToWide(value.data(), -1, wide.data(), static_cast<int>(wide.size())) == 0 ||
            !env.text.ParseUInt32(wide.data(), &number)) {
            // A text that is no number stores 0.
            number = 0;
        }
        env.registry.RegSetValueExA(key, value_name, 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&number), sizeof number);
        break;
    }
    }
    return ReadToken(reader, token);
}

HRESULT PassOverAssignment(ScriptReader& reader, TokenBuffer& token) noexcept {
    if (token[0] != '=') {
        return S_OK;
    }
    VRL_RETURN_IF_FAILED(ReadToken(reader, token));
    VRL_RETURN_IF_FAILED(ReadToken(reader, token));
    return ReadToken(reader, token);
}

HRESULT RunScriptText(ScriptReader& reader, const char* text, bool do_register) noexcept {
    char* expanded = nullptr;
    VRL_RETURN_IF_FAILED(ExpandVariables(reader, text, &expanded));
    const TaskBlock<char> owner(reader.environment.memory, expanded);
    reader.cursor = expanded;
    TokenBuffer token;
    HRESULT hr = S_OK;
    while (*reader.cursor != '\0') {
        hr = ReadToken(reader, token);
        if (Failed(hr)) {
            break;
        }
        const HKEY root = FindRootKey(reader.environment.text, token.data());
        if (root == nullptr) {
            hr = DISP_E_EXCEPTION;
            break;
        }
        hr = ReadToken(reader, token);
        if (Failed(hr)) {
            break;
        }
        if (token[0] != '{') {
            hr = DISP_E_EXCEPTION;
            break;
        }
        if (do_register) {
            const char* block_start = reader.cursor;
            hr = ProcessKeyBlock(reader, token, root, true, false);
            if (Failed(hr)) {
                // Roll-back: an unregistering pass over the failing root entry's block, whose own
                // failure is of no interest. It deletes what that block names, as unregistering
                // does: the keys and values written before the failure, and also keys of that name
                // that existed before, unless NoRemove or foreign subkeys keep them. It restores
                // nothing: trees that ForceRemove or Delete removed and values that were
                // overwritten stay lost. It stops at its own first failure, which for a malformed
                // entry is that entry again, so the keys enclosing it stay. Root entries that
                // completed before stay registered.
                reader.cursor = block_start;
                ProcessKeyBlock(reader, token, root, false, false);
                break;
            }
        } else {
            hr = ProcessKeyBlock(reader, token, root, false, false);
            if (Failed(hr)) {
                break;
            }
        }
        SkipBlanks(reader);
    }
    reader.cursor = nullptr;
    return hr;
}

}  // namespace vrl::regscript
