// The MSI of this architecture, in a prefix where nothing was ever installed: it installs the DLL,
// the type library and the README into the program files folder, the gateway simulator and client
// below it, and declares the keys that DllRegisterServer writes (only the path differs: the long
// one); the VBScript example then runs against the gateway simulator; uninstalling gives back the
// registry and the disk of before.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <msi.h>

#include "gateway_simulator.h"
#include "host_fixture.h"

namespace vrl::test {
namespace {

std::wstring ProgramFiles() {
    wchar_t folder[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramFiles", folder, MAX_PATH);
    return std::wstring(folder, length);
}

// Every file and folder below `folder`, as sorted paths.
void ListFolder(const std::wstring& folder, std::vector<std::wstring>& paths) {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        paths.push_back(folder + L"\\" + name);
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ListFolder(folder + L"\\" + name, paths);
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

std::vector<std::wstring> Disk() {
    std::vector<std::wstring> paths;
    ListFolder(ProgramFiles(), paths);
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The whole of HKEY_CLASSES_ROOT but the installer's own bookkeeping: the platform's installer
// keeps the products it knows under HKEY_CLASSES_ROOT\Installer and leaves emptied keys there.
std::vector<std::wstring> Classes() {
    auto lines = DumpClassesTree(L"");
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::wstring& line) { return Under(line, L"Installer"); }),
                lines.end());
    return lines;
}

void ExpectSame(const std::vector<std::wstring>& expected, const std::vector<std::wstring>& actual) {
    for (const auto& line : Added(expected, actual)) {
        ADD_FAILURE() << "more: " << Narrow(line);
    }
    for (const auto& line : Added(actual, expected)) {
        ADD_FAILURE() << "missing: " << Narrow(line);
    }
}

std::wstring Msiexec(const std::wstring& options, const std::wstring& msi = VRL_MSI_PATH) {
    return L"msiexec.exe " + options + L" " + Quoted(WindowsPath(msi)) + L" /qn";
}

TEST(Msi, InstallsDeclaresTheRegistrationRunsAndUninstallsCleanly) {
    // The script host registers its own type library the first time it runs: that happens here,
    // before the registry is taken down as it was.
    const std::wstring warm_up = L"C:\\warm-up.vbs";
    {
        const HANDLE file = ::CreateFileW(warm_up.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ::CloseHandle(file);
    }
    ExpectOk(RunProcess(L"cscript.exe //nologo " + warm_up), "cscript");
    ::DeleteFileW(warm_up.c_str());

    const std::wstring folder = ProgramFiles() + L"\\VRLCOM";
    const std::wstring dll = folder + L"\\VRLCOM.DLL";
    ASSERT_FALSE(ProgramFiles().empty());
    const auto classes_before = Classes();
    const auto disk_before = Disk();
    ASSERT_FALSE(classes_before.empty());
    ASSERT_FALSE(ClassesKeyExists(ClassKey())) << "the prefix is not a fresh one";

    // What DllRegisterServer writes for the DLL at the place where the MSI puts it.
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(VRL_DLL_PATH, dll.c_str(), FALSE));
    ExpectOk(Regsvr32(L"/s", dll), "regsvr32 /s");
    auto registered = RegistrationTree(HKEY_CLASSES_ROOT, L"");
    const std::wstring short_line = L"VALUE " + ClassKey() + L"\\InprocServer32||1|" + ShortPath(dll);
    const auto short_path = std::find(registered.begin(), registered.end(), short_line);
    ASSERT_NE(short_path, registered.end());
    ASSERT_NE(ShortPath(dll), dll);
    *short_path = L"VALUE " + ClassKey() + L"\\InprocServer32||1|" + dll;
    std::sort(registered.begin(), registered.end());
    ExpectOk(Regsvr32(L"/u /s", dll), "regsvr32 /u /s");
    ASSERT_TRUE(::DeleteFileW(dll.c_str()));
    ASSERT_TRUE(::RemoveDirectoryW(folder.c_str()));
    ExpectSame(classes_before, Classes());

    ExpectOk(RunProcess(Msiexec(L"/i")), "msiexec /i");
    ExpectSame(registered, RegistrationTree(HKEY_CLASSES_ROOT, L""));
    for (const wchar_t* file : {L"VRLCOM.DLL", L"VRLCOM.tlb", L"README.md", L"tools\\gateway_simulator.exe",
                                L"tools\\gateway_client.exe"}) {
        EXPECT_NE(::GetFileAttributesW((folder + L"\\" + file).c_str()), INVALID_FILE_ATTRIBUTES)
            << Narrow(file);
    }
    {
        sim::GatewaySimulator simulator;
        simulator.start();
        const ProcessResult run =
            Script(VRL_EXAMPLES_DIR L"/send_and_query.vbs", L"127.0.0.1 " + std::to_wstring(simulator.port()));
        ExpectOk(run, "send_and_query.vbs");
        EXPECT_EQ(run.output, ScriptExampleOutput(simulator.port()));
    }

    ExpectOk(RunProcess(Msiexec(L"/x")), "msiexec /x");
    ExpectSame(classes_before, Classes());
    ExpectSame(disk_before, Disk());
}

// The products installed under the package's upgrade code, with their versions.
std::vector<std::wstring> InstalledVersions() {
    std::vector<std::wstring> versions;
    wchar_t product[39];
    for (DWORD index = 0; ::MsiEnumRelatedProductsW(VRL_UPGRADE_CODE, 0, index, product) == ERROR_SUCCESS; ++index) {
        wchar_t version[64];
        DWORD length = 64;
        EXPECT_EQ(::MsiGetProductInfoW(product, L"VersionString", version, &length),
                  static_cast<UINT>(ERROR_SUCCESS));
        versions.emplace_back(version, length);
    }
    return versions;
}

TEST(Msi, ANewerVersionReplacesTheOlderOne) {
    const auto classes_before = Classes();
    const auto disk_before = Disk();
    ExpectOk(RunProcess(Msiexec(L"/i")), "msiexec /i");
    EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{VRL_VERSION});
    ExpectOk(RunProcess(Msiexec(L"/i", VRL_NEXT_MSI_PATH)), "msiexec /i of the next version");
    EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{VRL_NEXT_VERSION});
    EXPECT_TRUE(ClassesKeyExists(ClassKey()));

    ExpectOk(RunProcess(Msiexec(L"/x", VRL_NEXT_MSI_PATH)), "msiexec /x of the next version");
    EXPECT_TRUE(InstalledVersions().empty());
    ExpectSame(classes_before, Classes());
    ExpectSame(disk_before, Disk());
}

}  // namespace
}  // namespace vrl::test
