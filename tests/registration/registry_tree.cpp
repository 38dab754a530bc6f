#include "registry_tree.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace vrl::test {
namespace {

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }
    HKEY get() const { return key_; }
    HKEY* put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

std::wstring ValueText(DWORD type, const std::vector<BYTE>& data) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') {
            text.pop_back();
        }
        return text;
    }
    std::wstring hex;
    for (const BYTE byte : data) {
        static constexpr wchar_t kDigits[] = L"0123456789abcdef";
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

void Dump(HKEY parent, const std::wstring& path, std::vector<std::wstring>& lines) {
    Key key;
    if (::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return;
    }
    lines.push_back(L"KEY " + path);
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD name_length = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        std::vector<BYTE> data(size);
        name_length = 16384;
        ::RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type, data.data(), &size);
        data.resize(size);
        lines.push_back(L"VALUE " + path + L"|" + name + L"|" + std::to_wstring(type) + L"|" +
                        ValueText(type, data));
    }
    std::vector<std::wstring> children;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_length = 256;
        if (::RegEnumKeyExW(key.get(), index, name, &name_length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        children.emplace_back(name, name_length);
    }
    for (const auto& child : children) {
        Dump(parent, path.empty() ? child : path + L"\\" + child, lines);
    }
}

}  // namespace

std::vector<std::wstring> DumpTree(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> lines;
    Dump(root, path, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> DumpClassesTree(const std::wstring& path) {
    return DumpTree(HKEY_CLASSES_ROOT, path);
}

std::vector<std::wstring> Added(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after) {
    std::vector<std::wstring> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

bool Under(const std::wstring& line, const std::wstring& key) {
    const std::size_t start = line.find(L' ') + 1;
    return line.size() >= start + key.size() &&
           ::_wcsnicmp(line.c_str() + start, key.c_str(), key.size()) == 0 &&
           (line.size() == start + key.size() || line[start + key.size()] == L'\\' ||
            line[start + key.size()] == L'|');
}

std::vector<std::wstring> Relative(const std::vector<std::wstring>& lines, const std::wstring& prefix) {
    std::vector<std::wstring> relative;
    for (const auto& line : lines) {
        const std::size_t start = line.find(L' ') + 1;
        if (line.size() > start + prefix.size() &&
            ::_wcsnicmp(line.c_str() + start, prefix.c_str(), prefix.size()) == 0) {
            relative.push_back(line.substr(0, start) + line.substr(start + prefix.size()));
        }
    }
    std::sort(relative.begin(), relative.end());
    return relative;
}

bool ClassesKeyExists(const std::wstring& path) {
    Key key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> ClassesString(const std::wstring& path, const std::wstring& name) {
    Key key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    std::vector<BYTE> data(size);
    ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data.data(), &size);
    data.resize(size);
    return ValueText(type, data);
}

void DeleteClassesTree(const std::wstring& path) {
    const LSTATUS status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        ADD_FAILURE() << "cannot delete a test key, error " << status;
    }
}

void CreateClassesKey(const std::wstring& path, const std::wstring& value, DWORD options) {
    Key key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS,
                                nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    if (!value.empty()) {
        ASSERT_EQ(::RegSetValueExW(key.get(), nullptr, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
}

void SetClassesKeyAccess(const std::wstring& path, const wchar_t* rules) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(rules, SDDL_REVISION_1, &descriptor, nullptr));
    const std::unique_ptr<void, decltype(&::LocalFree)> owner(descriptor, &::LocalFree);
    Key key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, WRITE_DAC, key.put()), ERROR_SUCCESS);
    EXPECT_EQ(::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
}

std::wstring BracedGuid(const GUID& guid) {
    wchar_t text[39];
    EXPECT_EQ(::StringFromGUID2(guid, text, 39), 39);
    return text;
}

}  // namespace vrl::test
