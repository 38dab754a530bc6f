// Per-user registration through DllInstall: regsvr32 /n /i:user writes under the user's
// HKEY_CURRENT_USER\Software\Classes exactly the tree that machine-wide registration writes under
// HKEY_CLASSES_ROOT, and changes nothing machine-wide; /u gives the user's classes back as they
// were. Wine does not create objects from a per-user registration (Windows does), so the registry
// itself is what the tests compare.
#include <algorithm>
#include <vector>

#include "host_fixture.h"

namespace vrl::test {
namespace {

const std::wstring kUserClasses = L"Software\\Classes\\";

bool Holds(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

using InstallFunction = HRESULT(WINAPI*)(BOOL, LPCWSTR);

class PerUser : public Hosts {
protected:
    void SetUp() override {
        Hosts::SetUp();
        RemoveUserRegistration();
    }
    void TearDown() override {
        RemoveUserRegistration();
        Hosts::TearDown();
    }

    static void RemoveUserRegistration() {
        Regsvr32(L"/u /s /n /i:user");
        for (const auto& key : RegisteredKeys()) {
            ::RegDeleteTreeW(HKEY_CURRENT_USER, (kUserClasses + key).c_str());
        }
    }

    static std::vector<std::wstring> UserClasses() { return DumpTree(HKEY_CURRENT_USER, L"Software\\Classes"); }
    static std::vector<std::wstring> Machine() { return DumpTree(HKEY_LOCAL_MACHINE, L"Software"); }
};

TEST_F(PerUser, Regsvr32ForTheUserWritesTheMachineTreeUnderTheUsersClassesOnly) {
    const auto user_before = UserClasses();
    const auto machine_before = Machine();
    ASSERT_FALSE(machine_before.empty());

    ExpectOk(Regsvr32(L"/s /n /i:user"), "regsvr32 /s /n /i:user");
    const auto user_tree = RegistrationTree(HKEY_CURRENT_USER, kUserClasses);
    EXPECT_TRUE(Holds(user_tree, L"VALUE " + ClassKey() + L"\\InprocServer32||1|" + ShortPath(kInstalledDll)));
    EXPECT_TRUE(Holds(user_tree, L"VALUE " + PlatformKey() + L"||1|" + kInstalledDll));
    EXPECT_TRUE(Holds(user_tree, L"VALUE " + InterfaceKey() + L"\\TypeLib||1|" + BracedGuid(LIBID_VRLCOMLib)));
    // Nothing but the registration itself (and the keys that hold it) came to the user's classes.
    const auto user_added = Added(user_before, UserClasses());
    EXPECT_EQ(Relative(user_added, kUserClasses).size(), user_added.size());
    for (const auto& line : Relative(user_added, kUserClasses)) {
        const auto keys = RegisteredKeys();
        EXPECT_TRUE(std::any_of(keys.begin(), keys.end(), [&](const std::wstring& key) { return Under(line, key); }) ||
                    line == L"KEY CLSID" || line == L"KEY Interface" || ::_wcsicmp(line.c_str(), L"KEY TypeLib") == 0)
            << "unexpected: " << Narrow(line);
    }
    // Nothing machine-wide changed. On x64, 64-bit Wine's type-library registration also writes the
    // interface into the 32-bit view of the machine's classes, past the redirection to the user's
    // (Windows writes the user's classes only); unregistration removes it again.
    const auto machine_after = Machine();
    for (const auto& line : Added(machine_before, machine_after)) {
        // The 32-bit view of the machine's classes shows under both of its names.
        EXPECT_TRUE(sizeof(void*) == 8 && (Under(line, L"Software\\Wow6432Node\\Classes\\" + InterfaceKey()) ||
                                           Under(line, L"Software\\Classes\\Wow6432Node\\" + InterfaceKey())))
            << "machine-wide: " << Narrow(line);
    }
    EXPECT_TRUE(Added(machine_after, machine_before).empty());

    // Unregistering for the user gives the user's classes and the machine back as they were, also
    // where the class key names another copy of the DLL (Wine keeps one view of the user's classes).
    const std::wstring copy = L"C:\\another copy\\VRLCOM.DLL";
    EXPECT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, (kUserClasses + ClassKey() + L"\\InprocServer32").c_str(), nullptr,
                                REG_SZ, copy.c_str(), static_cast<DWORD>((copy.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ExpectOk(Regsvr32(L"/u /s /n /i:user"), "regsvr32 /u /s /n /i:user");
    for (const auto& line : Added(user_before, UserClasses())) {
        ADD_FAILURE() << "left behind: " << Narrow(line);
    }
    for (const auto& line : Added(UserClasses(), user_before)) {
        ADD_FAILURE() << "removed: " << Narrow(line);
    }
    EXPECT_EQ(Machine(), machine_before);

    // The user's tree is the machine's, key for key and value for value.
    ExpectOk(Regsvr32(L"/s"), "regsvr32 /s");
    EXPECT_EQ(user_tree, RegistrationTree(HKEY_CLASSES_ROOT, L""));
}

TEST_F(PerUser, DllInstallChoosesByItsCommandAndRefusesOthers) {
    const HMODULE dll = ::LoadLibraryW(kInstalledDll.c_str());
    ASSERT_NE(dll, nullptr);
    // Exported under its plain name on both architectures.
    const auto install = reinterpret_cast<InstallFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(dll, "DllInstall")));
    ASSERT_NE(install, nullptr);

    const auto user_before = UserClasses();
    for (const wchar_t* command : {L"users", L"all", L" user", L"machine user"}) {
        EXPECT_EQ(install(TRUE, command), E_INVALIDARG) << Narrow(command);
        EXPECT_EQ(install(FALSE, command), E_INVALIDARG) << Narrow(command);
    }
    EXPECT_EQ(UserClasses(), user_before);
    EXPECT_TRUE(RegistrationTree(HKEY_CLASSES_ROOT, L"").empty());

    // A null, empty or "machine" command registers machine-wide, as regsvr32 without /n does.
    EXPECT_EQ(install(TRUE, nullptr), S_OK);
    const auto by_null = RegistrationTree(HKEY_CLASSES_ROOT, L"");
    EXPECT_EQ(install(FALSE, L"machine"), S_OK);
    EXPECT_TRUE(RegistrationTree(HKEY_CLASSES_ROOT, L"").empty());
    EXPECT_EQ(install(TRUE, L""), S_OK);
    EXPECT_EQ(RegistrationTree(HKEY_CLASSES_ROOT, L""), by_null);
    EXPECT_EQ(install(FALSE, nullptr), S_OK);
    ExpectOk(Regsvr32(L"/s"), "regsvr32 /s");
    EXPECT_EQ(RegistrationTree(HKEY_CLASSES_ROOT, L""), by_null);
    ExpectOk(Regsvr32(L"/u /s"), "regsvr32 /u /s");

    // For the user, in this process: afterwards HKEY_CLASSES_ROOT leads to the machine's classes
    // again (under Wine those never show the user's), so the class is not found there.
    EXPECT_EQ(install(TRUE, L"User"), S_OK);
    EXPECT_FALSE(RegistrationTree(HKEY_CURRENT_USER, kUserClasses).empty());
    EXPECT_FALSE(ClassesKeyExists(ClassKey()));
    EXPECT_EQ(install(FALSE, L"user"), S_OK);
    EXPECT_TRUE(RegistrationTree(HKEY_CURRENT_USER, kUserClasses).empty());
    EXPECT_EQ(UserClasses(), user_before);
    EXPECT_TRUE(RegistrationTree(HKEY_CLASSES_ROOT, L"").empty());
    ::FreeLibrary(dll);
}

}  // namespace
}  // namespace vrl::test
