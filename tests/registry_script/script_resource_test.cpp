// Running script resources of a module file: the text a resource yields, the "Module" variable,
// and failures of loading, with the real registry.
#include <cstring>
#include <set>
#include <string>

#include "run_registry_script.h"
#include "script_test_support.h"

namespace vrl::regscript::test {
namespace {

constexpr const char* kModuleName = "vrl_script_module.dll";
constexpr const char* kKey = "VrlcomTest.Resource";

std::string ModuleDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

// The path queries of the platform, but for a module file named by the test.
class PathOf final : public ModulePathApi {
public:
    explicit PathOf(std::string path) : path_(std::move(path)) {}
    DWORD GetModuleFileNameA(void*, char* buffer, DWORD size) noexcept override {
        if (path_.size() >= size) {
            return size;
        }
        std::memcpy(buffer, path_.c_str(), path_.size() + 1);
        return static_cast<DWORD>(path_.size());
    }
    DWORD GetShortPathNameA(const char* long_path, char* buffer, DWORD size) noexcept override {
        return ::GetShortPathNameA(long_path, buffer, size);
    }
    DWORD GetLastError() noexcept override { return ::GetLastError(); }

private:
    std::string path_;
};

class ScriptResource : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        Remove(HKEY_CURRENT_USER, kKey);
        module_ = LoadLibraryA(kModuleName);
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
    }
    void TearDown() override {
        Remove(HKEY_CURRENT_USER, kKey);
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
        ScriptTest::TearDown();
    }

    HRESULT RunWith(ModulePathApi& paths, WORD id, bool do_register,
                    const ScriptVariable* extra = nullptr) {
        return RunRegistryScript(module_, id, do_register, extra, environment(), paths);
    }

    // A copy of the test module in a new directory of the given name beside the test program.
    std::string CopyModule(const std::string& directory) {
        const std::string target_directory = ModuleDirectory() + directory;
        CreateDirectoryA(target_directory.c_str(), nullptr);
        const std::string target = target_directory + "\\" + kModuleName;
        EXPECT_TRUE(CopyFileA((ModuleDirectory() + kModuleName).c_str(), target.c_str(), FALSE))
            << GetLastError();
        return target;
    }

    std::string ShortPath(const std::string& path) {
        char short_path[MAX_PATH] = {};
        EXPECT_NE(GetShortPathNameA(path.c_str(), short_path, MAX_PATH), 0u);
        return short_path;
    }

    HMODULE module_ = nullptr;
};

TEST_F(ScriptResource, TextIsTheResourceUpToItsSizeOrFirstNul) {
    EXPECT_EQ(RunRegistryScript(module_, 201, true, nullptr), S_OK);
    EXPECT_EQ(RunRegistryScript(module_, 202, true, nullptr), S_OK);
    EXPECT_EQ(RunRegistryScript(module_, 203, true, nullptr), S_OK);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey),
              "BeforeNul\\\n"
              "BeforeNul\\[] sz 'x'\n"
              "NoNul\\\n"
              "NoNul\\[] sz 'all of it'\n");
    EXPECT_EQ(RunRegistryScript(module_, 201, false, nullptr), S_OK);
    EXPECT_EQ(RunRegistryScript(module_, 202, false, nullptr), S_OK);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey), "<missing>\n");
}

TEST_F(ScriptResource, MissingResourceReportsThePlatformError) {
    EXPECT_EQ(RunRegistryScript(module_, 204, true, nullptr),
              HResultFromError(ERROR_RESOURCE_NAME_NOT_FOUND));
    PathOf nowhere(ModuleDirectory() + "no_such_module.dll");
    const HRESULT hr = RunWith(nowhere, 201, true);
    EXPECT_TRUE(hr == HResultFromError(ERROR_MOD_NOT_FOUND) ||
                hr == HResultFromError(ERROR_FILE_NOT_FOUND))
        << std::hex << hr;
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey), "<missing>\n");
}

TEST_F(ScriptResource, ModuleVariableIsTheShortPath) {
    char long_path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(module_, long_path, MAX_PATH), 0u);
    ASSERT_EQ(RunRegistryScript(module_, 205, true, nullptr), S_OK);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey),
              "Path\\\n"
              "Path\\[] sz '" + ShortPath(long_path) + "'\n");

    // A directory with a blank has a short form of its own.
    PathOf spaced(CopyModule("with blank dir"));
    ASSERT_EQ(RunWith(spaced, 205, true), S_OK);
    const std::string short_path = ShortPath(ModuleDirectory() + "with blank dir\\" + kModuleName);
    EXPECT_EQ(short_path.find(' '), std::string::npos) << short_path;
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey), "Path\\\nPath\\[] sz '" + short_path + "'\n");
}

TEST_F(ScriptResource, QuoteInTheModulePathSurvivesTheQuotedToken) {
    PathOf quoted(CopyModule("it's"));
    ASSERT_EQ(RunWith(quoted, 205, true), S_OK);
    const std::string expected = ShortPath(ModuleDirectory() + "it's\\" + kModuleName);
    ASSERT_NE(expected.find('\''), std::string::npos) << expected;
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey), "Path\\\nPath\\[] sz '" + expected + "'\n");
}

TEST_F(ScriptResource, ExtraVariablesNeverReplaceModule) {
    const ScriptVariable extra[] = {
        {L"Extra", L"extra value"}, {L"MODULE", L"not the module"}, {nullptr, nullptr}};
    ASSERT_EQ(RunRegistryScript(module_, 206, true, extra), S_OK);
    const std::string dump = Dump(HKEY_CURRENT_USER, kKey);
    EXPECT_NE(dump.find("Extra\\[] sz 'extra value'"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("not the module"), std::string::npos) << dump;
    EXPECT_EQ(RunRegistryScript(module_, 206, true, nullptr), DISP_E_EXCEPTION)
        << "without the extra variable the script refers to an undefined one";

    Remove(HKEY_CURRENT_USER, kKey);
    const ScriptVariable null_value[] = {{L"Extra", L"extra value"}, {L"Other", nullptr},
                                         {nullptr, nullptr}};
    EXPECT_EQ(RunRegistryScript(module_, 206, true, null_value), E_INVALIDARG);
    EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey), "<missing>\n");
}

TEST_F(ScriptResource, OutOfMemoryFailsWithNothingWrittenOrLeaked) {
    PathOf own(ModuleDirectory() + kModuleName);
    for (long n = 0;; ++n) {
        memory().FailAt(n, true);
        const HRESULT hr = RunWith(own, 201, true);
        const bool injected = memory().injected();
        memory().FailAt(-1);
        if (!injected) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
        EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
        EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey), "<missing>\n");
        EXPECT_EQ(memory().live(), 0u);
    }
    Remove(HKEY_CURRENT_USER, kKey);
    for (long n = 0;; ++n) {
        memory().FailAt(n, true);
        const HRESULT hr = RunWith(own, 205, true);
        const bool injected = memory().injected();
        memory().FailAt(-1);
        if (!injected) {
            EXPECT_EQ(hr, S_OK);
            break;
        }
        // Without memory for the "Module" variable the script refers to an undefined one.
        EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == DISP_E_EXCEPTION) << "allocation " << n;
        EXPECT_EQ(Dump(HKEY_CURRENT_USER, kKey), "<missing>\n");
        EXPECT_EQ(memory().live(), 0u);
    }
}

// Views of files mapped into the process: every data-file load adds one until it is freed.
std::size_t MappedViews() {
    std::set<void*> bases;
    MEMORY_BASIC_INFORMATION info;
    for (auto* address = static_cast<char*>(nullptr);
         VirtualQuery(address, &info, sizeof info) == sizeof info;
         address = static_cast<char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && (info.Type == MEM_MAPPED || info.Type == MEM_IMAGE)) {
            bases.insert(info.AllocationBase);
        }
        if (static_cast<char*>(info.BaseAddress) + info.RegionSize < address) {
            break;
        }
    }
    return bases.size();
}

TEST_F(ScriptResource, ModuleFileIsReleasedOnEveryPath) {
    // A copy that is not loaded otherwise: loading a loaded module as data only counts it again.
    PathOf own(CopyModule("released"));
    const std::size_t before = MappedViews();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(RunWith(own, 201, true), S_OK);
        EXPECT_EQ(RunWith(own, 204, true), HResultFromError(ERROR_RESOURCE_NAME_NOT_FOUND));
        memory().FailAt(0, true);
        EXPECT_EQ(RunWith(own, 201, true), E_OUTOFMEMORY);
        memory().FailAt(-1);
    }
    EXPECT_EQ(MappedViews(), before);
}

}  // namespace
}  // namespace vrl::regscript::test
