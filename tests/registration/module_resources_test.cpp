// Reads every resource of the built VRLCOM.DLL back through the platform: the registry script
// byte for byte, the type library, the string table and the version block, all in language 0x0404.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "VRLCOM.h"

namespace vrl::test {
namespace {

constexpr WORD kLanguage = 0x0404;

std::string Braced(const GUID& guid) {
    wchar_t text[39];
    EXPECT_EQ(::StringFromGUID2(guid, text, 39), 39);
    return std::string(text, text + 38);
}

// The registry script as the module must carry it: one tab per nesting level, CR LF after every
// line, no NUL.
std::string ExpectedScript() {
    const std::string clsid = Braced(CLSID_Vorel);
    const std::string libid = Braced(LIBID_VRLCOMLib);
    const struct {
        int tabs;
        std::string text;
    } lines[] = {
        {0, "HKCR"},
        {0, "{"},
        {1, "VRLCOM.Vorel.1 = s 'Vorel Class'"},
        {1, "{"},
        {2, "CLSID = s '" + clsid + "'"},
        {1, "}"},
        {1, "VRLCOM.Vorel = s 'Vorel Class'"},
        {1, "{"},
        {2, "CLSID = s '" + clsid + "'"},
        {2, "CurVer = s 'VRLCOM.Vorel.1'"},
        {1, "}"},
        {1, "NoRemove CLSID"},
        {1, "{"},
        {2, "ForceRemove " + clsid + " = s 'Vorel Class'"},
        {2, "{"},
        {3, "ProgID = s 'VRLCOM.Vorel.1'"},
        {3, "VersionIndependentProgID = s 'VRLCOM.Vorel'"},
        {3, "ForceRemove 'Programmable'"},
        {3, "InprocServer32 = s '%MODULE%'"},
        {3, "{"},
        {4, "val ThreadingModel = s 'Apartment'"},
        {3, "}"},
        {3, "'TypeLib' = s '" + libid + "'"},
        {2, "}"},
        {1, "}"},
        {0, "}"},
    };
    std::string script;
    for (const auto& line : lines) {
        script += std::string(static_cast<std::size_t>(line.tabs), '\t') + line.text + "\r\n";
    }
    return script;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

class ModuleResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = ::LoadLibraryExW(VRL_DLL_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << "cannot load " << VRL_DLL_PATH;
    }
    void TearDown() override {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
        }
    }

    // The resource's bytes in language 0x0404; empty with a failure when it is missing.
    std::string Resource(const wchar_t* type, const wchar_t* name) {
        HRSRC found = ::FindResourceExW(module_, type, name, kLanguage);
        if (found == nullptr) {
            ADD_FAILURE() << "resource missing in language 0x0404";
            return {};
        }
        HGLOBAL loaded = ::LoadResource(module_, found);
        const auto* data = static_cast<const char*>(::LockResource(loaded));
        return std::string(data, ::SizeofResource(module_, found));
    }

    // Every language a resource exists in.
    std::vector<WORD> Languages(const wchar_t* type, const wchar_t* name) {
        std::vector<WORD> languages;
        ::EnumResourceLanguagesW(module_, type, name, CollectLanguage,
                                 reinterpret_cast<LONG_PTR>(&languages));
        return languages;
    }

    HMODULE module_ = nullptr;
};

TEST_F(ModuleResources, RegistryScriptByteForByte) {
    const std::string script = Resource(L"REGISTRY", MAKEINTRESOURCEW(102));
    EXPECT_EQ(script, ExpectedScript());
    EXPECT_EQ(script.find('\0'), std::string::npos);
    EXPECT_EQ(script.size(), 598u);
    EXPECT_EQ(Languages(L"REGISTRY", MAKEINTRESOURCEW(102)), std::vector<WORD>{kLanguage});
}

TEST_F(ModuleResources, TypeLibraryIsTheCompiledOne) {
    const std::string embedded = Resource(L"TYPELIB", MAKEINTRESOURCEW(1));
    std::ifstream file(VRL_TLB_FILE, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(file) << VRL_TLB_FILE;
    std::string compiled(static_cast<std::size_t>(file.tellg()), '\0');
    file.seekg(0);
    file.read(compiled.data(), static_cast<std::streamsize>(compiled.size()));
    EXPECT_FALSE(compiled.empty());
    EXPECT_EQ(embedded, compiled);
    EXPECT_EQ(Languages(L"TYPELIB", MAKEINTRESOURCEW(1)), std::vector<WORD>{kLanguage});
}

TEST_F(ModuleResources, StringTableHoldsTheProjectName) {
    // String 100 lives in block 100 / 16 + 1 = 7, at index 100 % 16 = 4; each entry is a count of
    // UTF-16 units followed by the units.
    const std::string block = Resource(MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(7));
    ASSERT_FALSE(block.empty());
    std::vector<std::wstring> strings;
    const auto* units = reinterpret_cast<const wchar_t*>(block.data());
    const std::size_t count = block.size() / sizeof(wchar_t);
    for (std::size_t i = 0; i < count && strings.size() < 16;) {
        const std::size_t length = units[i];
        ASSERT_LE(i + 1 + length, count);
        strings.emplace_back(units + i + 1, length);
        i += 1 + length;
    }
    ASSERT_EQ(strings.size(), 16u);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(strings[i], i == 4 ? L"VRLCOM" : L"") << "string " << 96 + i;
    }
    EXPECT_EQ(Languages(MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(7)), std::vector<WORD>{kLanguage});
}

std::wstring VersionString(const std::vector<char>& block, const std::wstring& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040404B0\\" + name;
    if (!::VerQueryValueW(block.data(), path.c_str(), &value, &length)) {
        ADD_FAILURE() << "no version string " << std::string(name.begin(), name.end());
        return {};
    }
    // The length counts the terminating NUL of a non-empty value.
    std::wstring text(static_cast<const wchar_t*>(value), length);
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

TEST_F(ModuleResources, VersionBlock) {
    EXPECT_EQ(Languages(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1)), std::vector<WORD>{kLanguage});

    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(VRL_DLL_PATH, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(VRL_DLL_PATH, 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const auto* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], kLanguage);
    EXPECT_EQ(translation[1], 1200);

    EXPECT_EQ(VersionString(block, L"FileDescription"), L"VRLCOM Module");
    EXPECT_EQ(VersionString(block, L"ProductName"), L"VRLCOM Module");
    EXPECT_EQ(VersionString(block, L"FileVersion"), L"1.0.0.1");
    EXPECT_EQ(VersionString(block, L"ProductVersion"), L"1.0.0.1");
    EXPECT_EQ(VersionString(block, L"InternalName"), L"VRLCOM");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"VRLCOM.DLL");
    // Installers look for the entry's presence; its value is empty.
    EXPECT_EQ(VersionString(block, L"OLESelfRegister"), L"");
}

TEST_F(ModuleResources, TheFileIsNamedVrlcomDll) {
    const std::wstring path = VRL_DLL_PATH;
    ASSERT_GT(path.size(), 11u);
    EXPECT_EQ(path.substr(path.size() - 11), L"/VRLCOM.DLL");
}

}  // namespace
}  // namespace vrl::test
