#pragma once
// What the registry script tests share: task memory that fails on request and counts what is left
// allocated, a registry to run against (the in-memory one natively, the real one on Windows) with a
// scratch key per test, and a dump of a registry subtree for comparing whole trees.

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <set>
#include <string>

#include "code_page_text.h"
#include "registry_api.h"
#include "replacement_map.h"
#include "script_reader.h"
#include "memory_registry.h"
#include "task_memory.h"

namespace vrl::regscript::test {

using WideString = std::basic_string<WideChar>;

// ASCII text as a wide string.
WideString Wide(const std::string& ascii);

// Task memory over the system's that fails the allocation numbered fail_at (0 is the first, -1
// never) and every one after it while fail_rest is set, and knows which blocks are still live.
class CountingTaskMemory final : public TaskMemory {
public:
    void* Allocate(std::size_t size) noexcept override;
    void* Reallocate(void* block, std::size_t size) noexcept override;
    void Free(void* block) noexcept override;

    void FailAt(long index, bool rest = false) noexcept {
        fail_at_ = index;
        fail_rest_ = rest;
        attempts_ = 0;
        injected_ = false;
    }
    bool injected() const noexcept { return injected_; }
    std::size_t live() const noexcept { return live_.size(); }

private:
    bool ShouldFail() noexcept;

    long fail_at_ = -1;
    bool fail_rest_ = false;
    long attempts_ = 0;
    bool injected_ = false;
    std::set<void*> live_;
};

// The code page the double-byte tests run under: the model of code page 950 natively, the process's
// own on Windows (950 when the program runs under LC_ALL=zh_TW.Big5).
bool DoubleByteCodePageActive(const CodePageText& text);

// One test's registry and environment. Natively a fresh in-memory registry; on Windows the real one,
// with the test's keys beneath HKCU (and HKCR where named) removed before and after.
class ScriptTest : public testing::Test {
protected:
    ScriptTest();
    ~ScriptTest() override;
    void SetUp() override;
    void TearDown() override;

    // Uses the model of `code_page` natively; on Windows the process's code page stays in force.
    void UseCodePage(unsigned code_page);

    RegistryApi& registry() { return *registry_; }
    const CodePageText& text() const { return *text_; }
    CountingTaskMemory& memory() { return memory_; }
    ScriptEnvironment environment() { return ScriptEnvironment{*registry_, *text_, memory_}; }

    // The test's own key name beneath HKCU: "VrlcomTest.<suite>.<test>".
    const std::string& Root() const { return root_; }

    // Runs script text with the variables given as name/value pairs.
    HRESULT Run(const std::string& script, bool do_register,
                std::initializer_list<std::pair<std::string, std::string>> variables = {});

    // Every key and value beneath HKCU\<name> (or the named root), one line each, in name order;
    // "<missing>" when the key does not exist.
    std::string Dump(HKEY root, const std::string& path);
    std::string DumpRoot() { return Dump(HKEY_CURRENT_USER, Root()); }

    // Creates a key path beneath `root` and sets a string value on it ("" for the default value).
    void Seed(HKEY root, const std::string& path, const std::string& value_name = {},
              const std::string& value = {});
    void Remove(HKEY root, const std::string& path);

    // Keys beneath HKCR that the test touches; removed before and after the test on Windows.
    void CleanUpClassKeys(std::initializer_list<std::string> paths);

private:
    void DumpKey(HKEY key, const std::string& prefix, std::string& out);

    CountingTaskMemory memory_;
    std::unique_ptr<CodePageText> model_;
    const CodePageText* text_ = nullptr;
#ifndef _WIN32
    std::unique_ptr<MemoryRegistry> memory_registry_;
#endif
    RegistryApi* registry_ = nullptr;
    std::string root_;
    std::set<std::string> class_keys_;
};

}  // namespace vrl::regscript::test
