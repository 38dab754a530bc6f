#pragma once
// A registry held in memory with the platform's behaviour for the calls of RegistryApi: names are
// compared without regard to letter case (characters stepped by the code page, so a trail byte is
// never folded or taken for a separator), subkeys and values are enumerated in name order, every
// key has an unnamed default value slot, values need a handle opened for setting, a key with
// subkeys cannot be deleted (ERROR_ACCESS_DENIED), a key that was deleted answers
// ERROR_KEY_DELETED through handles still open on it, and names longer than 255 characters are
// refused (ERROR_INVALID_PARAMETER). The seven predefined keys are its roots. Allocation failure
// inside it ends the process: it serves tests and fuzzing only.

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
        std::string folded;
        DWORD type;
        std::vector<BYTE> data;
    };
    struct Node {
        std::string name;
        std::string folded;
        bool deleted = false;
        std::vector<std::shared_ptr<Node>> children;  // ordered by folded name
        std::vector<Value> values;                    // ordered by folded name
    };
    struct Handle {
        std::shared_ptr<Node> node;
        REGSAM access;
    };

    std::string Fold(const char* name) const;
    bool SplitPath(const char* path, std::vector<std::string>& parts) const;
    LONG Resolve(HKEY key, REGSAM needed, std::shared_ptr<Node>& node) const;
    // The open key and the path parts beneath it of an open or create call.
    LONG ResolvePath(HKEY key, const char* sub_key, std::shared_ptr<Node>& node,
                     std::vector<std::string>& parts) const;
    HKEY NewHandle(std::shared_ptr<Node> node, REGSAM access);
    static std::shared_ptr<Node> FindChild(const Node& node, const std::string& folded);
    static std::vector<std::shared_ptr<Node>>::iterator ChildPosition(Node& node,
                                                                      const std::string& folded);
    static std::vector<Value>::iterator ValuePosition(Node& node, const std::string& folded);

    const CodePageText& text_;
    std::vector<std::shared_ptr<Node>> roots_;
    std::map<std::uintptr_t, Handle> handles_;
    std::uintptr_t next_handle_ = 0x1000;
};

}  // namespace vrl::regscript
