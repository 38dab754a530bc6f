// Arbitrary script text, registered and then unregistered against the in-memory registry. The
// first byte picks the code page (bit 0: 950) and, in its upper bits, an allocation of task memory
// to fail. Every run must leave no registry handle open and no task memory allocated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "code_page_text.h"
#include "memory_registry.h"
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
        if (attempts_++ == fail_at_) {
            return nullptr;
        }
        void* block = system_task_memory().Allocate(size);
        live_.insert(block);
        return block;
    }
    void* Reallocate(void* block, std::size_t size) noexcept override {
        if (attempts_++ == fail_at_) {
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

private:
    long fail_at_;
    long attempts_ = 0;
    std::set<void*> live_;
};

std::u16string Wide(const char* ascii) {
    std::u16string wide;
    for (; *ascii != '\0'; ++ascii) {
        wide.push_back(static_cast<char16_t>(*ascii));
    }
    return wide;
}

void RunOnce(MemoryRegistry& registry, const CodePageText& text, TaskMemory& memory,
             const std::string& script, bool do_register) {
    const ScriptEnvironment environment{registry, text, memory};
    ReplacementMap variables(memory, text);
    variables.Add(Wide("Module").c_str(), Wide("C:\\it''s\\VRLCOM.DLL").c_str());
    variables.Add(Wide("Extra").c_str(), Wide("%x%").c_str());
    ScriptReader reader(variables, environment);
    RunScriptText(reader, script.c_str(), do_register);
    if (registry.open_handle_count() != 0) {
        std::abort();  // a run left a key handle open
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const ModelCodePage text((data[0] & 1) != 0 ? 950 : 1252);
    const long fail_at = (data[0] & 2) != 0 ? static_cast<long>(data[0] >> 2) : -1;
    const std::string script(reinterpret_cast<const char*>(data + 1), size - 1);
    MemoryRegistry registry(text);
    {
        FuzzTaskMemory memory(fail_at);
        RunOnce(registry, text, memory, script.c_str(), true);
    }
    {
        FuzzTaskMemory memory(fail_at);
        RunOnce(registry, text, memory, script.c_str(), false);
    }
    return 0;
}
