#pragma once
// A registry held in memory with the platform's behaviour (as measured under Wine) for the calls of
// RegistryApi. Names are held as the platform holds them, in UTF-16 converted with the code page:
// pairs of bytes that the code page maps to one character name one key (an invalid double-byte
// pair is "?"), a name reads back as its conversion, and names are compared with letter case
// folded character by character (ModelUpperCase; never a trail byte on its own). Paths split at
// backslashes that are characters of their own. Subkeys and values are enumerated in name order,
// every key has an unnamed default value slot, values need a handle opened for setting, a key
// with subkeys cannot be deleted (ERROR_ACCESS_DENIED), a key that was deleted answers
// ERROR_KEY_DELETED through handles still open on it. A key name of more than 256 code units is
// refused (ERROR_INVALID_PARAMETER), and so is a value name of more than 16383; a path of more
// than 260 code units to open or create fails with ERROR_MORE_DATA. The seven predefined keys are
// its roots. Allocation failure inside it ends the process: it serves tests and fuzzing only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "code_page_text.h"
#include "registry_api.h"

namespace vrl::regscript {

class MemoryRegistry final : public RegistryApi {
public:
    using WideString = std::basic_string<WideChar>;

    explicit MemoryRegistry(const CodePageText& text);
    ~MemoryRegistry() override;
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD options, REGSAM sam,
                       HKEY* result) noexcept override;
    LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD reserved, char* key_class,
                         DWORD options, REGSAM sam, SECURITY_ATTRIBUTES* security, HKEY* result,
                         DWORD* disposition) noexcept override;
    LONG RegCloseKey(HKEY key) noexcept override;
    LONG RegSetValueExA(HKEY key, const char* value_name, DWORD reserved, DWORD type,
                        const BYTE* data, DWORD size) noexcept override;
    LONG RegDeleteValueA(HKEY key, const char* value_name) noexcept override;
    LONG RegDeleteKeyA(HKEY key, const char* sub_key) noexcept override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved,
                       char* key_class, DWORD* class_size, FILETIME* last_write) noexcept override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved,
                       DWORD* type, BYTE* data, DWORD* data_size) noexcept override;
    LONG RegQueryInfoKeyA(HKEY key, char* key_class, DWORD* class_size, DWORD* reserved,
                          DWORD* subkeys, DWORD* max_subkey_length, DWORD* max_class_length,
                          DWORD* values, DWORD* max_value_name_length, DWORD* max_value_length,
                          DWORD* security_descriptor_size, FILETIME* last_write) noexcept override;

    // Handles opened or created and not yet closed: a run leaves none behind.
    std::size_t open_handle_count() const noexcept { return handles_.size(); }

private:
    struct Value {
        std::string name;
        WideString folded;
        DWORD type;
        std::vector<BYTE> data;
    };
    struct Node {
        std::string name;
        WideString folded;
        bool deleted = false;
        std::vector<std::shared_ptr<Node>> children;  // ordered by folded name
        std::vector<Value> values;                    // ordered by folded name
    };
    struct Handle {
        std::shared_ptr<Node> node;
        REGSAM access;
    };

    WideString Wide(const char* name) const;
    WideString Fold(const char* name) const;
    // The name as the platform reads it back: its conversion to UTF-16 and back.
    std::string Stored(const char* name) const;
    bool SplitPath(const char* path, std::vector<std::string>& parts) const;
    LONG Resolve(HKEY key, REGSAM needed, std::shared_ptr<Node>& node) const;
    // The open key and the path parts beneath it of an open or create call.
    LONG ResolvePath(HKEY key, const char* sub_key, std::shared_ptr<Node>& node,
                     std::vector<std::string>& parts) const;
    HKEY NewHandle(std::shared_ptr<Node> node, REGSAM access);
    static std::shared_ptr<Node> FindChild(const Node& node, const WideString& folded);
    static std::vector<std::shared_ptr<Node>>::iterator ChildPosition(
        Node& node, const WideString& folded);
    static std::vector<Value>::iterator ValuePosition(Node& node, const WideString& folded);

    const CodePageText& text_;
    std::vector<std::shared_ptr<Node>> roots_;
    std::map<std::uintptr_t, Handle> handles_;
    std::uintptr_t next_handle_ = 0x1000;
};

}  // namespace vrl::regscript
