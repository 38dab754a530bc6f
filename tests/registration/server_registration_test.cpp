// Register-all and unregister-all over an object map of test rows, with the real registry and the
// platform's type-library registration: the order of the steps, what stops them, which rows take
// part, component categories, and the type library loaded from the module or the ".tlb" beside it.
#include <gtest/gtest.h>

#include <windows.h>
#include <comcat.h>

#include <cstring>
#include <string>
#include <vector>

#include "VRLCOM.h"
#include "module_type_library.h"
#include "registry_tree.h"
#include "server_registration.h"

namespace vrl::test {
namespace {

using server::ComponentCategoryEntry;
using server::ComponentModule;
using server::ObjectMapEntry;

// What the test rows' routines were called with, in order: "A+" is row A registering.
std::vector<std::string> g_calls;
HRESULT g_failure_of_b = S_OK;
bool g_categories_asked = false;

HRESULT WINAPI UpdateA(BOOL do_register) {
    g_calls.push_back(do_register ? "A+" : "A-");
    return S_OK;
}
HRESULT WINAPI UpdateB(BOOL do_register) {
    g_calls.push_back(do_register ? "B+" : "B-");
    return g_failure_of_b;
}
HRESULT WINAPI UpdateC(BOOL do_register) {
    g_calls.push_back(do_register ? "C+" : "C-");
    return S_OK;
}
HRESULT WINAPI UpdateDescribed(BOOL do_register) {
    g_calls.push_back(do_register ? "D+" : "D-");
    return S_OK;
}
const wchar_t* WINAPI NoDescription() {
    return nullptr;
}
const wchar_t* WINAPI SomeDescription() {
    return L"registered elsewhere";
}
const ComponentCategoryEntry* WINAPI NoCategories() {
    g_categories_asked = true;
    return nullptr;
}

// Test classes and categories of their own, never the component's.
const CLSID kClassA = {0x5a1e0001, 0x2f44, 0x4c1b, {0x9a, 0x70, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01}};
const CLSID kClassB = {0x5a1e0002, 0x2f44, 0x4c1b, {0x9a, 0x70, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02}};
const CLSID kClassC = {0x5a1e0003, 0x2f44, 0x4c1b, {0x9a, 0x70, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03}};
const CLSID kClassD = {0x5a1e0004, 0x2f44, 0x4c1b, {0x9a, 0x70, 0x11, 0x22, 0x33, 0x44, 0x55, 0x04}};
const CATID kImplemented = {0x5a1e00c1, 0x2f44, 0x4c1b, {0x9a, 0x70, 0x11, 0x22, 0x33, 0x44, 0x55, 0xc1}};
const CATID kRequired = {0x5a1e00c2, 0x2f44, 0x4c1b, {0x9a, 0x70, 0x11, 0x22, 0x33, 0x44, 0x55, 0xc2}};

const ComponentCategoryEntry kCategoriesOfC[] = {
    {ComponentCategoryEntry::Implemented, &kImplemented},
    {ComponentCategoryEntry::Required, &kRequired},
    {ComponentCategoryEntry::End, nullptr},
};
const ComponentCategoryEntry* WINAPI CategoriesOfC() {
    return kCategoriesOfC;
}

ObjectMapEntry Row(const CLSID* id, server::RegistrationRoutine update,
                   server::DescriptionRoutine description = NoDescription,
                   server::CategoryListRoutine categories = NoCategories) {
    return {id, update, nullptr, nullptr, nullptr, 0, description, categories, nullptr};
}

std::wstring OtherViewOfA() {
    return L"Wow6432Node\\CLSID\\" + BracedGuid(kClassA);
}

std::wstring TypeLibKey() {
    return L"TypeLib\\" + BracedGuid(LIBID_VRLCOMLib);
}

std::wstring PlatformKey() {
    return TypeLibKey() + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32");
}

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

class ServerRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        dll_ = ::LoadLibraryW(VRL_DLL_PATH);
        ASSERT_NE(dll_, nullptr);
        g_calls.clear();
        g_failure_of_b = S_OK;
        g_categories_asked = false;
        Clean();
        module_.LayoutMarker = server::kNineWordLayout;
        module_.ModuleInstance = dll_;
        module_.ResourceInstance = dll_;
        module_.TypeLibraryInstance = dll_;
    }
    void TearDown() override {
        Clean();
        if (dll_ != nullptr) {
            ::FreeLibrary(dll_);
        }
        ::CoUninitialize();
    }
    static void Clean() {
        ::UnRegisterTypeLib(LIBID_VRLCOMLib, 1, 0, 0, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
        DeleteClassesTree(TypeLibKey());
        DeleteClassesTree(L"CLSID\\" + BracedGuid(kClassC));
        DeleteClassesTree(OtherViewOfA());
        DeleteClassesTree(L"Wow6432Node\\Interface\\" + BracedGuid(IID_IVorel));
        DeleteClassesTree(L"Component Categories\\" + BracedGuid(kImplemented));
        DeleteClassesTree(L"Component Categories\\" + BracedGuid(kRequired));
    }

    HMODULE dll_ = nullptr;
    ComponentModule module_{};
};

TEST_F(ServerRegistration, RegistersEveryRowThenTheTypeLibrary) {
    ObjectMapEntry map[] = {Row(&kClassA, UpdateA), Row(&kClassD, UpdateDescribed, SomeDescription),
                            Row(&kClassB, UpdateB), Row(nullptr, nullptr, nullptr, nullptr)};
    module_.ObjectMap = map;
    EXPECT_EQ(server::RegisterServer(module_), S_OK);
    // The described row is left to whoever describes it.
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A+", "B+"}));
    EXPECT_TRUE(g_categories_asked);

    // The platform's registration of the library, under the module's full path, with the module's
    // directory (separator kept) as help directory.
    const std::wstring path = ModulePath(dll_);
    EXPECT_EQ(ClassesString(PlatformKey()), path);
    EXPECT_EQ(ClassesString(TypeLibKey() + L"\\1.0\\HELPDIR"), path.substr(0, path.rfind(L'\\') + 1));
    EXPECT_EQ(ClassesString(TypeLibKey() + L"\\1.0"), L"VRLCOM 1.0 Type Library");

    // The other view naming this very module, in other letter case, registers no other file: every
    // row is unregistered.
    std::wstring other_case = path;
    ::CharLowerW(other_case.data());
    if (sizeof(void*) == 8) {
        CreateClassesKey(OtherViewOfA() + L"\\InprocServer32", other_case);
    }
    g_calls.clear();
    EXPECT_EQ(server::UnregisterServer(module_), S_OK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A-", "B-"}));
    EXPECT_FALSE(ClassesKeyExists(PlatformKey()));
}

TEST_F(ServerRegistration, AFailingRowStopsRegistrationButNotUnregistration) {
    ObjectMapEntry map[] = {Row(&kClassA, UpdateA), Row(&kClassB, UpdateB), Row(&kClassC, UpdateC),
                            Row(nullptr, nullptr, nullptr, nullptr)};
    module_.ObjectMap = map;
    g_failure_of_b = DISP_E_EXCEPTION;
    EXPECT_EQ(server::RegisterServer(module_), DISP_E_EXCEPTION);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A+", "B+"}));
    EXPECT_FALSE(ClassesKeyExists(TypeLibKey()));

    // Unregistration goes on past a failing row, unregisters the library and still succeeds.
    g_failure_of_b = S_OK;
    ASSERT_EQ(server::RegisterServer(module_), S_OK);
    ASSERT_TRUE(ClassesKeyExists(PlatformKey()));
    g_failure_of_b = E_ACCESSDENIED;
    g_calls.clear();
    EXPECT_EQ(server::UnregisterServer(module_), S_OK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A-", "B-", "C-"}));
    EXPECT_FALSE(ClassesKeyExists(PlatformKey()));
}

TEST_F(ServerRegistration, AnEmptyMapRegistersOnlyTheTypeLibrary) {
    ObjectMapEntry map[] = {Row(nullptr, nullptr, nullptr, nullptr)};
    module_.ObjectMap = map;
    EXPECT_EQ(server::RegisterServer(module_), S_OK);
    EXPECT_TRUE(ClassesKeyExists(PlatformKey()));
    EXPECT_EQ(server::UnregisterServer(module_), S_OK);
    EXPECT_FALSE(ClassesKeyExists(PlatformKey()));
}

// While the other view registers a class but the other platform's path of the library is missing
// (its registration failed), only this view's keys go, and with them the library's whole key.
TEST_F(ServerRegistration, TheLibrarysKeyGoesWithoutTheOtherPlatformsPath) {
    ObjectMapEntry map[] = {Row(&kClassA, UpdateA), Row(nullptr, nullptr, nullptr, nullptr)};
    module_.ObjectMap = map;
    ASSERT_EQ(server::RegisterServer(module_), S_OK);
    if (sizeof(void*) == 8) {
        CreateClassesKey(OtherViewOfA() + L"\\InprocServer32", L"C:\\x86\\VRLCOM.DLL");
    }
    EXPECT_EQ(server::UnregisterServer(module_), S_OK);
    EXPECT_FALSE(ClassesKeyExists(TypeLibKey()));
}

TEST_F(ServerRegistration, ARowWithoutARegistrationRoutineIsPassedOver) {
    ObjectMapEntry map[] = {Row(&kClassC, nullptr, NoDescription, CategoriesOfC), Row(&kClassA, UpdateA),
                            Row(nullptr, nullptr, nullptr, nullptr)};
    module_.ObjectMap = map;
    EXPECT_EQ(server::RegisterServer(module_), S_OK);
    EXPECT_FALSE(ClassesKeyExists(L"CLSID\\" + BracedGuid(kClassC)));
    EXPECT_EQ(server::UnregisterServer(module_), S_OK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A+", "A-"}));
}

TEST_F(ServerRegistration, ComponentCategoriesOfARowAreRegisteredAndRemoved) {
    ObjectMapEntry map[] = {Row(&kClassC, UpdateC, NoDescription, CategoriesOfC),
                            Row(nullptr, nullptr, nullptr, nullptr)};
    module_.ObjectMap = map;
    const std::wstring key = L"CLSID\\" + BracedGuid(kClassC);
    ASSERT_EQ(server::RegisterServer(module_), S_OK);
    EXPECT_TRUE(ClassesKeyExists(key + L"\\Implemented Categories\\" + BracedGuid(kImplemented)));
    EXPECT_TRUE(ClassesKeyExists(key + L"\\Required Categories\\" + BracedGuid(kRequired)));
    EXPECT_EQ(server::UnregisterServer(module_), S_OK);
    EXPECT_FALSE(ClassesKeyExists(key + L"\\Implemented Categories\\" + BracedGuid(kImplemented)));
    EXPECT_FALSE(ClassesKeyExists(key + L"\\Required Categories\\" + BracedGuid(kRequired)));
}

TEST_F(ServerRegistration, SevenWordRowsAreSteppedByWordsAndHaveNoCategories) {
    // Three rows of seven words: A, B and the end row. Words 8 and 9 of a row would be the next
    // row's first words, so nothing beyond word 7 may be read.
    void* words[21] = {};
    const ObjectMapEntry a = Row(&kClassA, UpdateA);
    const ObjectMapEntry b = Row(&kClassB, UpdateB);
    std::memcpy(&words[0], &a, 7 * sizeof(void*));
    std::memcpy(&words[7], &b, 7 * sizeof(void*));
    module_.LayoutMarker = server::kSevenWordLayout;
    module_.ObjectMap = reinterpret_cast<ObjectMapEntry*>(words);
    EXPECT_EQ(server::RegisterServer(module_), S_OK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A+", "B+"}));
    EXPECT_FALSE(g_categories_asked);
    EXPECT_EQ(server::UnregisterServer(module_), S_OK);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"A+", "B+", "A-", "B-"}));
    EXPECT_FALSE(g_categories_asked);
}

TEST_F(ServerRegistration, UnregistrationWithoutTheLookedUpFunctionLeavesTheLibrary) {
    ASSERT_EQ(server::RegisterModuleTypeLib(dll_), S_OK);
    // An automation library that cannot be loaded, then one without "UnRegisterTypeLib".
    EXPECT_EQ(server::UnregisterModuleTypeLib(dll_, "no-such-automation-library.dll"), S_OK);
    EXPECT_TRUE(ClassesKeyExists(PlatformKey()));
    EXPECT_EQ(server::UnregisterModuleTypeLib(dll_, "kernel32.dll"), S_OK);
    EXPECT_TRUE(ClassesKeyExists(PlatformKey()));
    EXPECT_EQ(server::UnregisterModuleTypeLib(dll_), S_OK);
    EXPECT_FALSE(ClassesKeyExists(PlatformKey()));
}

// A module without a type library of its own: this test program. Its type library is looked for
// beside it, under its name with the extension ".tlb".
class TypeLibraryBesideTheModule : public ServerRegistration {
protected:
    void SetUp() override {
        ServerRegistration::SetUp();
        const std::wstring program = ModulePath(nullptr);
        tlb_ = program.substr(0, program.rfind(L'.')) + L".tlb";
        ::DeleteFileW(tlb_.c_str());
    }
    void TearDown() override {
        ::DeleteFileW(tlb_.c_str());
        ServerRegistration::TearDown();
    }

    std::wstring tlb_;
};

TEST_F(TypeLibraryBesideTheModule, RegistersTheTlbFilesPath) {
    ASSERT_TRUE(::CopyFileW(VRL_TLB_PATH, tlb_.c_str(), FALSE));
    const HMODULE program = ::GetModuleHandleW(nullptr);
    server::ModuleTypeLib loaded;
    ASSERT_EQ(server::LoadModuleTypeLib(program, loaded), S_OK);
    EXPECT_EQ(std::wstring(loaded.path.get()), tlb_);

    ASSERT_EQ(server::RegisterModuleTypeLib(program), S_OK);
    EXPECT_EQ(ClassesString(PlatformKey()), tlb_);
    EXPECT_EQ(ClassesString(TypeLibKey() + L"\\1.0\\HELPDIR"), tlb_.substr(0, tlb_.rfind(L'\\') + 1));
    EXPECT_EQ(server::UnregisterModuleTypeLib(program), S_OK);
    EXPECT_FALSE(ClassesKeyExists(PlatformKey()));
}

TEST_F(TypeLibraryBesideTheModule, NeitherFileGivesTheSecondAttemptsCode) {
    const HMODULE program = ::GetModuleHandleW(nullptr);
    ITypeLib* lib = nullptr;
    const HRESULT second = ::LoadTypeLib(tlb_.c_str(), &lib);
    ASSERT_TRUE(FAILED(second));
    server::ModuleTypeLib loaded;
    EXPECT_EQ(server::LoadModuleTypeLib(program, loaded), second);
    EXPECT_EQ(loaded.lib.get(), nullptr);
    EXPECT_EQ(loaded.path.get(), nullptr);
    EXPECT_EQ(server::RegisterModuleTypeLib(program), second);
    EXPECT_EQ(server::UnregisterModuleTypeLib(program), second);
    EXPECT_FALSE(ClassesKeyExists(TypeLibKey()));
}

}  // namespace
}  // namespace vrl::test
