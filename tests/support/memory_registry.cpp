#include "memory_registry.h"

#include <algorithm>
#include <cstring>

namespace vrl::regscript {
namespace {

constexpr std::uintptr_t kFirstPredefined = 0x80000000u;
constexpr std::size_t kPredefinedCount = 7;
constexpr std::size_t kMaxKeyNameUnits = 256;
constexpr std::size_t kMaxValueNameUnits = 16383;
constexpr std::size_t kMaxPathUnits = 260;
constexpr REGSAM kFullAccess = KEY_ALL_ACCESS;

std::uintptr_t HandleValue(HKEY key) noexcept {
    return reinterpret_cast<std::uintptr_t>(key) & 0xFFFFFFFFu;
}

bool IsPredefined(HKEY key) noexcept {
    const std::uintptr_t value = HandleValue(key);
    return value >= kFirstPredefined && value < kFirstPredefined + kPredefinedCount &&
           (reinterpret_cast<std::uintptr_t>(key) >> 31) != 0;
}

// Copies a name for an A-function caller: ERROR_MORE_DATA when it does not fit with its NUL.
LONG CopyName(const std::string& source, char* target, DWORD* size) noexcept {
    if (source.size() >= *size) {
        *size = static_cast<DWORD>(source.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(target, source.c_str(), source.size() + 1);
    *size = static_cast<DWORD>(source.size());
    return ERROR_SUCCESS;
}

}  // namespace

MemoryRegistry::MemoryRegistry(const CodePageText& text) : text_(text) {
    for (std::size_t index = 0; index < kPredefinedCount; ++index) {
        roots_.push_back(std::make_shared<Node>());
    }
}

MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::WideString MemoryRegistry::Wide(const char* name) const {
    const int units = text_.ToWide(name, -1, nullptr, 0);
    if (units <= 1) {
        return WideString();
    }
    WideString wide(static_cast<std::size_t>(units), WideChar{});
    text_.ToWide(name, -1, wide.data(), units);
    wide.resize(static_cast<std::size_t>(units - 1));
    return wide;
}

MemoryRegistry::WideString MemoryRegistry::Fold(const char* name) const {
    WideString folded = Wide(name);
    for (WideChar& unit : folded) {
        unit = static_cast<WideChar>(ModelUpperCase(unit));
    }
    return folded;
}

std::string MemoryRegistry::Stored(const char* name) const {
    const WideString wide = Wide(name);
    const WideChar* units = wide.c_str();
    const int bytes = text_.ToNarrow(units, -1, nullptr, 0);
    if (bytes <= 1) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    text_.ToNarrow(units, -1, narrow.data(), bytes);
    narrow.resize(static_cast<std::size_t>(bytes - 1));
    return narrow;
}

// Splits at backslashes that are characters of their own; false for an empty part or a part longer
// than the platform allows.
bool MemoryRegistry::SplitPath(const char* path, std::vector<std::string>& parts) const {
    if (path == nullptr || *path == '\0') {
        return true;
    }
    std::string part;
    for (const char* position = path;; position = text_.CharNext(position)) {
        if (*position == '\0' || *position == '\\') {
            if (part.empty() || Wide(part.c_str()).size() > kMaxKeyNameUnits) {
                return false;
            }
            parts.push_back(part);
            part.clear();
            if (*position == '\0') {
                return true;
            }
            continue;
        }
        part.append(position, text_.CharNext(position));
    }
}

LONG MemoryRegistry::Resolve(HKEY key, REGSAM needed, std::shared_ptr<Node>& node) const {
    REGSAM access = kFullAccess;
    if (IsPredefined(key)) {
        node = roots_[HandleValue(key) - kFirstPredefined];
    } else {
        const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(key));
        if (found == handles_.end()) {
            return ERROR_INVALID_HANDLE;
        }
        node = found->second.node;
        access = found->second.access;
    }
    if ((access & needed) != needed) {
        return ERROR_ACCESS_DENIED;
    }
    return node->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

HKEY MemoryRegistry::NewHandle(std::shared_ptr<Node> node, REGSAM access) {
    const std::uintptr_t value = next_handle_;
    next_handle_ += 4;
    handles_.emplace(value, Handle{std::move(node), access});
    return reinterpret_cast<HKEY>(value);
}

std::vector<std::shared_ptr<MemoryRegistry::Node>>::iterator MemoryRegistry::ChildPosition(
    Node& node, const WideString& folded) {
    return std::lower_bound(
        node.children.begin(), node.children.end(), folded,
        [](const std::shared_ptr<Node>& child, const WideString& wanted) {
            return child->folded < wanted;
        });
}

std::vector<MemoryRegistry::Value>::iterator MemoryRegistry::ValuePosition(
    Node& node, const WideString& folded) {
    return std::lower_bound(node.values.begin(), node.values.end(), folded,
                            [](const Value& value, const WideString& wanted) {
                                return value.folded < wanted;
                            });
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::FindChild(const Node& node,
                                                                const WideString& folded) {
    for (const auto& child : node.children) {
        if (child->folded == folded) {
            return child;
        }
    }
    return nullptr;
}

LONG MemoryRegistry::ResolvePath(HKEY key, const char* sub_key, std::shared_ptr<Node>& node,
                                 std::vector<std::string>& parts) const {
    if (const LONG error = Resolve(key, 0, node); error != ERROR_SUCCESS) {
        return error;
    }
    if (sub_key != nullptr && *sub_key == '\\') {
        return ERROR_BAD_PATHNAME;
    }
    if (sub_key != nullptr && Wide(sub_key).size() > kMaxPathUnits) {
        return ERROR_MORE_DATA;
    }
    return SplitPath(sub_key, parts) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

LONG MemoryRegistry::RegOpenKeyExA(HKEY key, const char* sub_key, DWORD, REGSAM sam,
                                   HKEY* result) noexcept {
    std::shared_ptr<Node> node;
    std::vector<std::string> parts;
    if (const LONG error = ResolvePath(key, sub_key, node, parts); error != ERROR_SUCCESS) {
        return error;
    }
    for (const std::string& part : parts) {
        node = FindChild(*node, Fold(part.c_str()));
        if (node == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
    }
    *result = NewHandle(node, sam);
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegCreateKeyExA(HKEY key, const char* sub_key, DWORD, char*, DWORD,
                                     REGSAM sam, SECURITY_ATTRIBUTES*, HKEY* result,
                                     DWORD* disposition) noexcept {
    std::shared_ptr<Node> node;
    std::vector<std::string> parts;
    if (const LONG error = ResolvePath(key, sub_key, node, parts); error != ERROR_SUCCESS) {
        return error;
    }
    DWORD outcome = 2;  // REG_OPENED_EXISTING_KEY
    for (const std::string& part : parts) {
        const WideString folded = Fold(part.c_str());
        std::shared_ptr<Node> child = FindChild(*node, folded);
        if (child == nullptr) {
            child = std::make_shared<Node>();
            child->name = Stored(part.c_str());
            child->folded = folded;
            node->children.insert(ChildPosition(*node, folded), child);
            outcome = 1;  // REG_CREATED_NEW_KEY
        }
        node = child;
    }
    *result = NewHandle(node, sam);
    if (disposition != nullptr) {
        *disposition = outcome;
    }
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegCloseKey(HKEY key) noexcept {
    if (IsPredefined(key)) {
        return ERROR_SUCCESS;
    }
    return handles_.erase(reinterpret_cast<std::uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                      : ERROR_INVALID_HANDLE;
}

LONG MemoryRegistry::RegSetValueExA(HKEY key, const char* value_name, DWORD, DWORD type,
                                    const BYTE* data, DWORD size) noexcept {
    std::shared_ptr<Node> node;
    if (const LONG error = Resolve(key, KEY_SET_VALUE, node); error != ERROR_SUCCESS) {
        return error;
    }
    const char* name = value_name == nullptr ? "" : value_name;
    if (Wide(name).size() > kMaxValueNameUnits) {
        return ERROR_INVALID_PARAMETER;
    }
    const WideString folded = Fold(name);
    std::vector<BYTE> bytes(data, data + size);
    const auto position = ValuePosition(*node, folded);
    if (position != node->values.end() && position->folded == folded) {
        position->type = type;
        position->data = std::move(bytes);
    } else {
        node->values.insert(position, Value{Stored(name), folded, type, std::move(bytes)});
    }
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegDeleteValueA(HKEY key, const char* value_name) noexcept {
    std::shared_ptr<Node> node;
    if (const LONG error = Resolve(key, KEY_SET_VALUE, node); error != ERROR_SUCCESS) {
        return error;
    }
    const WideString folded = Fold(value_name == nullptr ? "" : value_name);
    const auto position = ValuePosition(*node, folded);
    if (position == node->values.end() || position->folded != folded) {
        return ERROR_FILE_NOT_FOUND;
    }
    node->values.erase(position);
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegDeleteKeyA(HKEY key, const char* sub_key) noexcept {
    std::shared_ptr<Node> node;
    if (const LONG error = Resolve(key, 0, node); error != ERROR_SUCCESS) {
        return error;
    }
    std::vector<std::string> parts;
    if (!SplitPath(sub_key, parts)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (parts.empty()) {
        // The key itself: a root cannot go, any other key is found through its parent's list.
        return ERROR_ACCESS_DENIED;
    }
    std::shared_ptr<Node> parent = node;
    for (std::size_t index = 0; index + 1 < parts.size(); ++index) {
        parent = FindChild(*parent, Fold(parts[index].c_str()));
        if (parent == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
    }
    const std::shared_ptr<Node> target = FindChild(*parent, Fold(parts.back().c_str()));
    if (target == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!target->children.empty()) {
        return ERROR_ACCESS_DENIED;
    }
    target->deleted = true;
    parent->children.erase(std::find(parent->children.begin(), parent->children.end(), target));
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD*,
                                   char*, DWORD*, FILETIME*) noexcept {
    std::shared_ptr<Node> node;
    if (const LONG error = Resolve(key, KEY_ENUMERATE_SUB_KEYS, node); error != ERROR_SUCCESS) {
        return error;
    }
    if (index >= node->children.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    return CopyName(node->children[index]->name, name, name_size);
}

LONG MemoryRegistry::RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD*,
                                   DWORD* type, BYTE* data, DWORD* data_size) noexcept {
    std::shared_ptr<Node> node;
    if (const LONG error = Resolve(key, KEY_QUERY_VALUE, node); error != ERROR_SUCCESS) {
        return error;
    }
    if (index >= node->values.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const Value& value = node->values[index];
    if (const LONG error = CopyName(value.name, name, name_size); error != ERROR_SUCCESS) {
        return error;
    }
    if (type != nullptr) {
        *type = value.type;
    }
    if (data_size != nullptr) {
        const auto size = static_cast<DWORD>(value.data.size());
        if (data != nullptr && *data_size < size) {
            *data_size = size;
            return ERROR_MORE_DATA;
        }
        if (data != nullptr && size != 0) {
            std::memcpy(data, value.data.data(), size);
        }
        *data_size = size;
    }
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::RegQueryInfoKeyA(HKEY key, char*, DWORD* class_size, DWORD*, DWORD* subkeys,
                                      DWORD* max_subkey_length, DWORD* max_class_length,
                                      DWORD* values, DWORD* max_value_name_length,
                                      DWORD* max_value_length, DWORD* security_descriptor_size,
                                      FILETIME* last_write) noexcept {
    std::shared_ptr<Node> node;
    if (const LONG error = Resolve(key, KEY_QUERY_VALUE, node); error != ERROR_SUCCESS) {
        return error;
    }
    auto set = [](DWORD* target, std::size_t value) {
        if (target != nullptr) {
            *target = static_cast<DWORD>(value);
        }
    };
    std::size_t longest_key = 0;
    for (const auto& child : node->children) {
        longest_key = std::max(longest_key, child->name.size());
    }
    std::size_t longest_name = 0;
    std::size_t longest_data = 0;
    for (const Value& value : node->values) {
        longest_name = std::max(longest_name, value.name.size());
        longest_data = std::max(longest_data, value.data.size());
    }
    set(class_size, 0);
    set(subkeys, node->children.size());
    set(max_subkey_length, longest_key);
    set(max_class_length, 0);
    set(values, node->values.size());
    set(max_value_name_length, longest_name);
    set(max_value_length, longest_data);
    set(security_descriptor_size, 0);
    if (last_write != nullptr) {
        *last_write = FILETIME{0, 0};
    }
    return ERROR_SUCCESS;
}

}  // namespace vrl::regscript
