// regsvr32 registering and unregistering the DLL, the registry compared key by key: exactly the
// script's keys and the type library's registration, re-registration over a class key with extra
// subkeys, unregistration on a clean registry, and a failing script rolled back.
#include <algorithm>
#include <vector>

#include "host_fixture.h"

namespace vrl::test {
namespace {

// What the registry script writes, as DumpClassesTree lists it.
std::vector<std::wstring> ExpectedScriptKeys() {
    const std::wstring clsid = BracedGuid(CLSID_Vorel);
    const std::wstring cls = ClassKey();
    std::vector<std::wstring> lines = {
        L"KEY VRLCOM.Vorel.1",
        L"VALUE VRLCOM.Vorel.1||1|Vorel Class",
        L"KEY VRLCOM.Vorel.1\\CLSID",
        L"VALUE VRLCOM.Vorel.1\\CLSID||1|" + clsid,
        L"KEY VRLCOM.Vorel",
        L"VALUE VRLCOM.Vorel||1|Vorel Class",
        L"KEY VRLCOM.Vorel\\CLSID",
        L"VALUE VRLCOM.Vorel\\CLSID||1|" + clsid,
        L"KEY VRLCOM.Vorel\\CurVer",
        L"VALUE VRLCOM.Vorel\\CurVer||1|VRLCOM.Vorel.1",
        L"KEY " + cls,
        L"VALUE " + cls + L"||1|Vorel Class",
        L"KEY " + cls + L"\\ProgID",
        L"VALUE " + cls + L"\\ProgID||1|VRLCOM.Vorel.1",
        L"KEY " + cls + L"\\VersionIndependentProgID",
        L"VALUE " + cls + L"\\VersionIndependentProgID||1|VRLCOM.Vorel",
        L"KEY " + cls + L"\\Programmable",
        L"KEY " + cls + L"\\InprocServer32",
        L"VALUE " + cls + L"\\InprocServer32||1|" + ShortPath(kInstalledDll),
        L"VALUE " + cls + L"\\InprocServer32|ThreadingModel|1|Apartment",
        L"KEY " + cls + L"\\TypeLib",
        L"VALUE " + cls + L"\\TypeLib||1|" + BracedGuid(LIBID_VRLCOMLib),
    };
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> ScriptKeys() {
    std::vector<std::wstring> lines;
    for (const auto& root : {std::wstring(L"VRLCOM.Vorel.1"), std::wstring(L"VRLCOM.Vorel"), ClassKey()}) {
        const auto part = DumpClassesTree(root);
        lines.insert(lines.end(), part.begin(), part.end());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(Hosts, RegistersExactlyTheScriptsKeysAndTheTypeLibrary) {
    const auto before = DumpClassesTree(L"");
    ASSERT_FALSE(before.empty());
    ExpectOk(Regsvr32(L"/s"), "regsvr32 /s");

    EXPECT_EQ(ScriptKeys(), ExpectedScriptKeys());
    // The type library under its full long path, its directory (separator kept) as help directory.
    EXPECT_EQ(ClassesString(PlatformKey()), kInstalledDll);
    EXPECT_EQ(ClassesString(TypeLibKey() + L"\\1.0\\HELPDIR"), kInstallDirectory + L"\\");
    EXPECT_EQ(ClassesString(TypeLibKey() + L"\\1.0"), L"VRLCOM 1.0 Type Library");

    // Nothing else changed, apart from what the platform writes for the type library and its
    // interface (on x64 also in the 32-bit view, which shares them); nothing was removed.
    const auto after = DumpClassesTree(L"");
    const auto expected = ExpectedScriptKeys();
    const std::wstring interface_key = L"Interface\\" + BracedGuid(IID_IVorel);
    const std::wstring wow = L"Wow6432Node\\";
    const bool x64 = sizeof(void*) == 8;
    for (const auto& line : Added(before, after)) {
        const bool known = std::binary_search(expected.begin(), expected.end(), line) ||
                           Under(line, TypeLibKey()) || Under(line, interface_key) ||
                           (x64 && (Under(line, wow + TypeLibKey()) || Under(line, wow + interface_key)));
        EXPECT_TRUE(known) << "unexpected: " << Narrow(line);
    }
    EXPECT_TRUE(Added(after, before).empty());

    // Unregistering gives back the registry of before, CLSID included, also where the class key
    // names another copy of the DLL, registered later.
    CreateClassesKey(ClassKey() + L"\\InprocServer32", L"C:\\another copy\\VRLCOM.DLL");
    ExpectOk(Regsvr32(L"/u /s"), "regsvr32 /u /s");
    EXPECT_TRUE(ClassesKeyExists(L"CLSID"));
    EXPECT_FALSE(ClassesKeyExists(TypeLibKey()));
    const auto unregistered = DumpClassesTree(L"");
    for (const auto& line : Added(before, unregistered)) {
        ADD_FAILURE() << "left behind: " << Narrow(line);
    }
    for (const auto& line : Added(unregistered, before)) {
        ADD_FAILURE() << "removed: " << Narrow(line);
    }
}

TEST_F(Hosts, ReRegistrationRebuildsTheClassKeyAndEqualsRegisteringOnce) {
    ExpectOk(Regsvr32(L"/s"), "first registration");
    const auto once = DumpClassesTree(L"");

    CreateClassesKey(ClassKey() + L"\\Extra\\Deeper", L"stale");
    CreateClassesKey(ClassKey() + L"\\InprocServer32\\Old", L"stale");
    CreateClassesKey(ClassKey() + L"\\Programmable\\Left", L"stale");
    ExpectOk(Regsvr32(L"/s"), "second registration");
    EXPECT_FALSE(ClassesKeyExists(ClassKey() + L"\\Extra"));
    EXPECT_FALSE(ClassesKeyExists(ClassKey() + L"\\InprocServer32\\Old"));
    EXPECT_FALSE(ClassesKeyExists(ClassKey() + L"\\Programmable\\Left"));
    EXPECT_EQ(DumpClassesTree(L""), once);

    ExpectOk(Regsvr32(L"/s"), "third registration");
    EXPECT_EQ(DumpClassesTree(L""), once);
    EXPECT_EQ(ScriptKeys(), ExpectedScriptKeys());
}

TEST_F(Hosts, UnregisteringWhatWasNeverRegisteredSucceeds) {
    const auto before = DumpClassesTree(L"");
    ExpectOk(Regsvr32(L"/u /s"), "regsvr32 /u /s on a clean registry");
    ExpectOk(Regsvr32(L"/u /s"), "and again");
    EXPECT_EQ(DumpClassesTree(L""), before);
}

TEST_F(Hosts, AFailingScriptRollsBackAndReportsTheFailure) {
    // No lasting key can be made beneath a volatile one: the script fails at VRLCOM.Vorel\CLSID.
    CreateClassesKey(L"VRLCOM.Vorel", L"", REG_OPTION_VOLATILE);
    const ProcessResult run = Regsvr32(L"/s");
    EXPECT_TRUE(run.finished);
    EXPECT_NE(run.exit_code, 0u) << "registration reported success";
    const auto rolled_back = [] {
        EXPECT_FALSE(ClassesKeyExists(L"VRLCOM.Vorel.1"));
        EXPECT_FALSE(ClassesKeyExists(L"VRLCOM.Vorel\\CLSID"));
        EXPECT_FALSE(ClassesKeyExists(ClassKey()));
        EXPECT_FALSE(ClassesKeyExists(TypeLibKey()));
        EXPECT_TRUE(ClassesKeyExists(L"CLSID"));
    };
    rolled_back();

    // The code regsvr32 got: the script's own failure.
    CreateClassesKey(L"VRLCOM.Vorel", L"", REG_OPTION_VOLATILE);
    const HMODULE dll = ::LoadLibraryW(kInstalledDll.c_str());
    ASSERT_NE(dll, nullptr);
    const auto register_server = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(::GetProcAddress(dll, "DllRegisterServer")));
    ASSERT_NE(register_server, nullptr);
    EXPECT_EQ(register_server(), DISP_E_EXCEPTION);
    ::FreeLibrary(dll);
    rolled_back();
}

}  // namespace
}  // namespace vrl::test
