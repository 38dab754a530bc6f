// Arbitrary script text and variables, registered and then unregistered against the in-memory
// registry, judged by what the two runs leave behind.
//
// Input: a flag byte, then optionally the variables up to the first NUL byte, then the script.
//   Flag byte: bit 0 picks code page 950 (else 1252); bit 1 fails the allocation of task memory
//   numbered by the upper six bits, in each of the two runs.
//   Variables: lines separated by line feeds; the first is the module path (as the module's file
//   name query would give it, at most 259 bytes), whose value gets its quotes doubled for
//   "Module"; each further line "name=value" adds an extra variable. Without a NUL byte the whole
//   rest is the script and the module path is "C:\it's\VRLCOM.DLL".
//
// Every run must leave no registry handle open and no task memory allocated, and must not crash.
// The registry starts with a key named "}" beneath every root, with a value and a subkey; a script
// cannot name it, since a token beginning with "}" ends a block. The rule checked when no memory
// failure is injected and registering returns S_OK:
//   1. Unregistering returns S_OK.
//   2. Every key and value present before registering is still present, with the same data.
//   3. When unregistering found every key it looked for (no open for reading failed, so no entry
//      was passed over as missing) and neither the script nor a variable holds "NoRemove" in any
//      letter case, the registry is exactly as it was before registering.
//   4. Otherwise unregistering only deleted: every key and value present after it was present,
//      with the same data, after registering.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "code_page_text.h"
#include "key_tree.h"
#include "memory_registry.h"
#include "module_path.h"
#include "replacement_map.h"
#include "script_runner.h"
#include "task_memory.h"

namespace {

using namespace vrl::regscript;

class FuzzTaskMemory final : public TaskMemory {
public:
    explicit FuzzTaskMemory(long fail_at) : fail_at_(fail_at) {}
    ~FuzzTaskMemory() override {
        if (!live_.empty()) {
            std::abort();  // task memory leaked by a run
        }
    }
    void* Allocate(std::size_t size) noexcept override {
        if (ShouldFail()) {
            return nullptr;
        }
        void* block = system_task_memory().Allocate(size);
        live_.insert(block);
        return block;
    }
    void* Reallocate(void* block, std::size_t size) noexcept override {
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
    void Free(void* block) noexcept override {
        if (block != nullptr && live_.erase(block) != 1) {
            std::abort();  // a block freed twice or never allocated
        }
        system_task_memory().Free(block);
    }
    bool injected() const noexcept { return injected_; }

private:
    bool ShouldFail() noexcept {
        if (attempts_++ != fail_at_) {
            return false;
        }
        injected_ = true;
        return true;
    }

    long fail_at_;
    long attempts_ = 0;
    bool injected_ = false;
    std::set<void*> live_;
};

// The in-memory registry, noting whether an open for reading alone failed: unregistering tries
// that last before it passes over a missing key.
class WatchedRegistry final : public RegistryApi {
public:
    explicit WatchedRegistry(const CodePageText& text) : registry_(text) {}

    bool missing_key_seen = false;
    std::size_t open_handle_count() const noexcept { return registry_.open_handle_count(); }

    LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD options, REGSAM sam,
                       HKEY* result) noexcept override {
        const LONG error = registry_.RegOpenKeyExA(key, sub_key, options, sam, result);
        if (error != ERROR_SUCCESS && sam == KEY_READ) {
            missing_key_seen = true;
        }
        return error;
    }
    LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD reserved, char* key_class,
                         DWORD options, REGSAM sam, SECURITY_ATTRIBUTES* security, HKEY* result,
                         DWORD* disposition) noexcept override {
        return registry_.RegCreateKeyExA(key, sub_key, reserved, key_class, options, sam,
                                         security, result, disposition);
    }
    LONG RegCloseKey(HKEY key) noexcept override { return registry_.RegCloseKey(key); }
    LONG RegSetValueExA(HKEY key, const char* value_name, DWORD reserved, DWORD type,
                        const BYTE* data, DWORD size) noexcept override {
        return registry_.RegSetValueExA(key, value_name, reserved, type, data, size);
    }
    LONG RegDeleteValueA(HKEY key, const char* value_name) noexcept override {
        return registry_.RegDeleteValueA(key, value_name);
    }
    LONG RegDeleteKeyA(HKEY key, const char* sub_key) noexcept override {
        return registry_.RegDeleteKeyA(key, sub_key);
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved,
                       char* key_class, DWORD* class_size, FILETIME* last_write) noexcept override {
        return registry_.RegEnumKeyExA(key, index, name, name_size, reserved, key_class,
                                       class_size, last_write);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* name_size, DWORD* reserved,
                       DWORD* type, BYTE* data, DWORD* data_size) noexcept override {
        return registry_.RegEnumValueA(key, index, name, name_size, reserved, type, data,
                                       data_size);
    }
    LONG RegQueryInfoKeyA(HKEY key, char* key_class, DWORD* class_size, DWORD* reserved,
                          DWORD* subkeys, DWORD* max_subkey_length, DWORD* max_class_length,
                          DWORD* values, DWORD* max_value_name_length, DWORD* max_value_length,
                          DWORD* security_descriptor_size, FILETIME* last_write) noexcept override {
        return registry_.RegQueryInfoKeyA(key, key_class, class_size, reserved, subkeys,
                                          max_subkey_length, max_class_length, values,
                                          max_value_name_length, max_value_length,
                                          security_descriptor_size, last_write);
    }

private:
    MemoryRegistry registry_;
};

// The predefined keys are no constants here: built on use, not at start-up.
std::array<HKEY, 7> Roots() {
    return {HKEY_CLASSES_ROOT,     HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE, HKEY_USERS,
            HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};
}

// One line per key and per value beneath `key`, with the value's type and data.
void Snapshot(RegistryApi& registry, HKEY key, const std::string& path,
              std::set<std::string>& lines) {
    for (DWORD index = 0;; ++index) {
        std::vector<char> name(20000);
        auto name_size = static_cast<DWORD>(name.size());
        DWORD type = 0;
        std::vector<BYTE> data(8192);
        auto data_size = static_cast<DWORD>(data.size());
        if (registry.RegEnumValueA(key, index, name.data(), &name_size, nullptr, &type,
                                   data.data(), &data_size) != ERROR_SUCCESS) {
            break;
        }
        lines.insert(path + "[" + name.data() + "]" + std::to_string(type) + ":" +
                     std::string(data.begin(), data.begin() + data_size));
    }
    for (DWORD index = 0;; ++index) {
        char name[kKeyNameBufferSize];
        DWORD name_size = kKeyNameBufferSize;
        if (registry.RegEnumKeyExA(key, index, name, &name_size, nullptr, nullptr, nullptr,
                                   nullptr) != ERROR_SUCCESS) {
            break;
        }
        const std::string child_path = path + name + "\\";
        lines.insert(child_path);
        HKEY child = nullptr;
        if (registry.RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &child) == ERROR_SUCCESS) {
            Snapshot(registry, child, child_path, lines);
            registry.RegCloseKey(child);
        }
    }
}

std::set<std::string> Snapshot(RegistryApi& registry) {
    std::set<std::string> lines;
    const std::array<HKEY, 7> roots = Roots();
    for (std::size_t index = 0; index < roots.size(); ++index) {
        Snapshot(registry, roots[index], std::to_string(index) + ":", lines);
    }
    return lines;
}

void Seed(RegistryApi& registry) {
    for (const HKEY root : Roots()) {
        HKEY key = nullptr;
        if (registry.RegCreateKeyExA(root, "}\\}", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                     nullptr) != ERROR_SUCCESS) {
            std::abort();
        }
        registry.RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("deep"), 5);
        registry.RegCloseKey(key);
        if (registry.RegOpenKeyExA(root, "}", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
            std::abort();
        }
        registry.RegSetValueExA(key, "}", 0, REG_SZ, reinterpret_cast<const BYTE*>("foreign"), 8);
        registry.RegCloseKey(key);
    }
}

bool Includes(const std::set<std::string>& all, const std::set<std::string>& part) {
    return std::includes(all.begin(), all.end(), part.begin(), part.end());
}

[[noreturn]] void Violated(const char* rule) {
    std::fprintf(stderr, "registry script oracle: %s\n", rule);
    std::abort();
}

std::u16string ToWide(const CodePageText& text, const std::string& narrow) {
    const int units = text.ToWide(narrow.c_str(), -1, nullptr, 0);
    std::u16string wide(static_cast<std::size_t>(std::max(units, 1)), u'\0');
    if (units <= 0 || text.ToWide(narrow.c_str(), -1, wide.data(), units) == 0) {
        return std::u16string();
    }
    wide.resize(static_cast<std::size_t>(units - 1));
    return wide;
}

struct Input {
    std::string module = "C:\\it's\\VRLCOM.DLL";
    std::vector<std::pair<std::string, std::string>> extra;
    std::string script;
};

Input Parse(const std::uint8_t* data, std::size_t size) {
    Input input;
    const std::string rest(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = rest.find('\0');
    if (nul == std::string::npos) {
        input.script = rest;
        return input;
    }
    input.script = rest.substr(nul + 1);
    std::size_t start = 0;
    for (bool first = true; start <= nul; first = false) {
        std::size_t end = rest.find('\n', start);
        if (end == std::string::npos || end > nul) {
            end = nul;
        }
        const std::string line = rest.substr(start, end - start);
        start = end + 1;
        if (first) {
            input.module = line.substr(0, kPathSize - 1);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            input.extra.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return input;
}

bool HoldsNoRemove(const Input& input) {
    auto holds = [](std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        return text.find("noremove") != std::string::npos;
    };
    if (holds(input.script) || holds(input.module)) {
        return true;
    }
    return std::any_of(input.extra.begin(), input.extra.end(),
                       [&](const auto& variable) { return holds(variable.second); });
}

HRESULT RunOnce(WatchedRegistry& registry, const CodePageText& text, TaskMemory& memory,
                const Input& input, bool do_register) {
    const ScriptEnvironment environment{registry, text, memory};
    ReplacementMap variables(memory, text);
    const std::u16string module = ToWide(text, input.module);
    std::u16string escaped(module.size() * 2 + 1, u'\0');
    EscapeQuotes(module.c_str(), escaped.data());
    variables.Add(u"Module", escaped.c_str());
    for (const auto& [name, value] : input.extra) {
        variables.Add(ToWide(text, name).c_str(), ToWide(text, value).c_str());
    }
    ScriptReader reader(variables, environment);
    const HRESULT hr = RunScriptText(reader, input.script.c_str(), do_register);
    if (registry.open_handle_count() != 0) {
        std::abort();  // a run left a key handle open
    }
    return hr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const ModelCodePage text((data[0] & 1) != 0 ? 950 : 1252);
    const long fail_at = (data[0] & 2) != 0 ? static_cast<long>(data[0] >> 2) : -1;
    const Input input = Parse(data + 1, size - 1);
    WatchedRegistry registry(text);
    Seed(registry);
    const std::set<std::string> before = Snapshot(registry);

    bool injected = false;
    HRESULT registered = S_OK;
    {
        FuzzTaskMemory memory(fail_at);
        registered = RunOnce(registry, text, memory, input, true);
        injected = memory.injected();
    }
    const std::set<std::string> after_registering = Snapshot(registry);
    registry.missing_key_seen = false;
    HRESULT unregistered = S_OK;
    {
        FuzzTaskMemory memory(fail_at);
        unregistered = RunOnce(registry, text, memory, input, false);
        injected = injected || memory.injected();
    }
    if (injected || registered != S_OK) {
        return 0;
    }
    if (unregistered != S_OK) {
        Violated("unregistering what registered failed");
    }
    const std::set<std::string> after = Snapshot(registry);
    if (!Includes(after, before)) {
        Violated("a key or value that was there before is gone or changed");
    }
    if (!registry.missing_key_seen && !HoldsNoRemove(input)) {
        if (after != before) {
            Violated("unregistering left keys or values behind");
        }
    } else if (!Includes(after_registering, after)) {
        Violated("unregistering created or changed a key or value");
    }
    return 0;
}
