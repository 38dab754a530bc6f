#include "script_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "key_tree.h"
#include "script_runner.h"

namespace vrl::regscript::test {

WideString Wide(const std::string& ascii) {
    WideString wide;
    for (const char c : ascii) {
        wide.push_back(static_cast<WideChar>(static_cast<unsigned char>(c)));
    }
    return wide;
}

bool CountingTaskMemory::ShouldFail() noexcept {
    const long attempt = attempts_++;
    if (fail_at_ >= 0 && (attempt == fail_at_ || (fail_rest_ && attempt > fail_at_))) {
        injected_ = true;
        return true;
    }
    return false;
}

void* CountingTaskMemory::Allocate(std::size_t size) noexcept {
    if (ShouldFail()) {
        return nullptr;
    }
    void* block = system_task_memory().Allocate(size);
    if (block != nullptr) {
        live_.insert(block);
    }
    return block;
}

void* CountingTaskMemory::Reallocate(void* block, std::size_t size) noexcept {
    if (ShouldFail()) {
        return nullptr;
    }
    void* moved = system_task_memory().Reallocate(block, size);
    if (moved != nullptr) {
        live_.erase(block);
        live_.insert(moved);
    }
    return moved;
}

void CountingTaskMemory::Free(void* block) noexcept {
    if (block != nullptr) {
        EXPECT_EQ(live_.erase(block), 1u) << "freeing a block that is not live";
    }
    system_task_memory().Free(block);
}

bool DoubleByteCodePageActive(const CodePageText& text) {
    return text.IsLeadByte(0xA4) && text.IsLeadByte(0xB3);
}

ScriptTest::ScriptTest() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::string("VrlcomTest.") + info->test_suite_name() + "." + info->name();
    for (char& c : root_) {
        if (c == '/') {
            c = '.';
        }
    }
#ifdef _WIN32
    text_ = &system_code_page();
    registry_ = &system_registry();
#else
    UseCodePage(1252);
#endif
}

ScriptTest::~ScriptTest() = default;

void ScriptTest::UseCodePage([[maybe_unused]] unsigned code_page) {
#ifndef _WIN32
    memory_registry_.reset();
    model_ = std::make_unique<ModelCodePage>(code_page);
    text_ = model_.get();
    memory_registry_ = std::make_unique<MemoryRegistry>(*text_);
    registry_ = memory_registry_.get();
#endif
}

void ScriptTest::SetUp() {
    DeleteKeyTree(registry(), HKEY_CURRENT_USER, root_.c_str());
}

void ScriptTest::TearDown() {
    DeleteKeyTree(registry(), HKEY_CURRENT_USER, root_.c_str());
    for (const std::string& path : class_keys_) {
        Remove(HKEY_CLASSES_ROOT, path);
    }
    EXPECT_EQ(memory_.live(), 0u) << "task memory left allocated";
#ifndef _WIN32
    EXPECT_EQ(memory_registry_->open_handle_count(), 0u) << "registry handles left open";
#endif
}

void ScriptTest::CleanUpClassKeys(std::initializer_list<std::string> paths) {
    for (const std::string& path : paths) {
        class_keys_.insert(path);
        Remove(HKEY_CLASSES_ROOT, path);
    }
}

HRESULT ScriptTest::Run(const std::string& script, bool do_register,
                        std::initializer_list<std::pair<std::string, std::string>> variables) {
    const ScriptEnvironment env = environment();
    ReplacementMap map(memory_, *text_);
    for (const auto& [name, value] : variables) {
        EXPECT_EQ(map.Add(Wide(name).c_str(), Wide(value).c_str()), S_OK);
    }
    ScriptReader reader(map, env);
    return RunScriptText(reader, script.c_str(), do_register);
}

void ScriptTest::Seed(HKEY root, const std::string& path, const std::string& value_name,
                      const std::string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(registry().RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                         nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << path;
    if (!value.empty() || !value_name.empty()) {
        EXPECT_EQ(registry().RegSetValueExA(key, value_name.empty() ? nullptr : value_name.c_str(),
                                            0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(value.c_str()),
                                            static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }
    registry().RegCloseKey(key);
}

void ScriptTest::Remove(HKEY root, const std::string& path) {
    const auto slash = path.rfind('\\');
    if (slash == std::string::npos) {
        DeleteKeyTree(registry(), root, path.c_str());
        return;
    }
    HKEY parent = nullptr;
    if (registry().RegOpenKeyExA(root, path.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS,
                                 &parent) == ERROR_SUCCESS) {
        DeleteKeyTree(registry(), parent, path.substr(slash + 1).c_str());
        registry().RegCloseKey(parent);
    }
}

std::string ScriptTest::Dump(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (registry().RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "<missing>\n";
    }
    std::string out;
    DumpKey(key, "", out);
    registry().RegCloseKey(key);
    return out;
}

void ScriptTest::DumpKey(HKEY key, const std::string& prefix, std::string& out) {
    std::vector<std::pair<std::string, std::string>> lines;  // by value name, default first
    for (DWORD index = 0;; ++index) {
        char name[4096];
        DWORD name_size = sizeof name;
        DWORD type = 0;
        BYTE data[8192];
        DWORD data_size = sizeof data;
        if (registry().RegEnumValueA(key, index, name, &name_size, nullptr, &type, data,
                                     &data_size) != ERROR_SUCCESS) {
            break;
        }
        std::string line = prefix + "[" + std::string(name) + "] ";
        if (type == REG_SZ) {
            const DWORD length = data_size > 0 && data[data_size - 1] == 0 ? data_size - 1 : data_size;
            line += "sz '" + std::string(reinterpret_cast<const char*>(data), length) + "'";
        } else {
            line += "type " + std::to_string(type) + " hex";
            for (DWORD i = 0; i < data_size; ++i) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02X", data[i]);
                line += hex;
            }
        }
        lines.emplace_back(name, line);
    }
    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index) {
        char name[kKeyNameBufferSize];
        DWORD name_size = sizeof name;
        if (registry().RegEnumKeyExA(key, index, name, &name_size, nullptr, nullptr, nullptr,
                                     nullptr) != ERROR_SUCCESS) {
            break;
        }
        subkeys.emplace_back(name);
    }
    std::sort(lines.begin(), lines.end());
    std::sort(subkeys.begin(), subkeys.end());
    for (const auto& line : lines) {
        out += line.second + "\n";
    }
    for (const std::string& name : subkeys) {
        out += prefix + name + "\\\n";
        HKEY child = nullptr;
        if (registry().RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            DumpKey(child, prefix + name + "\\", out);
            registry().RegCloseKey(child);
        }
    }
}

}  // namespace vrl::regscript::test
