#pragma once
// The DLL in real hosts of the Wine prefix: installed in a directory whose name holds a space (so
// that its short path differs from its long one), registered and unregistered with regsvr32, and
// scripts run with cscript. Each test starts and ends with nothing registered.

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "VRLCOM.h"
#include "child_process.h"
#include "registry_tree.h"

namespace vrl::test {

// Both from one constant: each inline variable's initialiser runs on its own, in no fixed order.
inline constexpr wchar_t kInstallFolder[] = L"C:\\vrl hosts";
inline const std::wstring kInstallDirectory = kInstallFolder;
inline const std::wstring kInstalledDll = kInstallFolder + std::wstring(L"\\VRLCOM.DLL");

inline std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

inline std::wstring ShortPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

inline std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// The folder of the 32-bit programs (regsvr32, cscript) on 64-bit Windows; "" names the
// programs of the test's own architecture.
inline const std::wstring kSysWow64 = L"C:\\windows\\syswow64\\";

inline ProcessResult Regsvr32(const std::wstring& options, const std::wstring& dll = kInstalledDll,
                              const std::wstring& folder = L"") {
    return RunProcess(folder + L"regsvr32.exe " + options + L" " + Quoted(dll));
}

inline ProcessResult Script(const std::wstring& script, const std::wstring& arguments,
                            const std::wstring& folder = L"") {
    return RunProcess(folder + L"cscript.exe //nologo " + Quoted(WindowsPath(script)) + L" " + arguments);
}

inline std::wstring ClassKey() {
    return L"CLSID\\" + BracedGuid(CLSID_Vorel);
}

inline std::wstring TypeLibKey() {
    return L"TypeLib\\" + BracedGuid(LIBID_VRLCOMLib);
}

inline std::wstring InterfaceKey() {
    return L"Interface\\" + BracedGuid(IID_IVorel);
}

// The keys that registration makes, the script's and the type library's.
inline std::vector<std::wstring> RegisteredKeys() {
    return {L"VRLCOM.Vorel.1", L"VRLCOM.Vorel", ClassKey(), TypeLibKey(), InterfaceKey()};
}

// Everything beneath the registered keys, below `base` of `root`, with paths relative to `base`.
inline std::vector<std::wstring> RegistrationTree(HKEY root, const std::wstring& base) {
    std::vector<std::wstring> lines;
    for (const auto& key : RegisteredKeys()) {
        const auto part = DumpTree(root, base + key);
        lines.insert(lines.end(), part.begin(), part.end());
    }
    return Relative(lines, base);
}

inline std::wstring PlatformKey() {
    return TypeLibKey() + (sizeof(void*) == 8 ? L"\\1.0\\0\\win64" : L"\\1.0\\0\\win32");
}

// What examples/send_and_query.vbs prints against a fresh gateway simulator on `port`.
inline std::string ScriptExampleOutput(unsigned port) {
    return "StartCon 127.0.0.1:" + std::to_string(port) + ": status 0, text \"\"\n"
           "SendMsg: status 0, text \"1000001\"\n"
           "SendMsg_Order: status 0, text \"1000002\"\n"
           "QueryMsg 1000001: status 0, text \"DELIVERED\"\n"
           "QueryMsg 1000002: status 0, text \"SCHEDULED 20261225120000\"\n"
           "EndCon\n";
}

// What examples/cpp/early_bound_client.cpp prints against a fresh gateway simulator.
inline const std::string kEarlyBoundClientOutput =
    "StartCon: status 0, text \"\"\n"
    "SendMsg: status 0, text \"1000001\"\n"
    "SendMsg_Order: status 0, text \"1000002\"\n"
    "QueryMsg: status 0, text \"DELIVERED\"\n"
    "QueryMsg: status 0, text \"SCHEDULED 20261225120000\"\n"
    "EndCon\n";

inline void ExpectOk(const ProcessResult& run, const char* what) {
    EXPECT_TRUE(run.started) << what;
    EXPECT_TRUE(run.finished) << what;
    EXPECT_EQ(run.exit_code, 0u) << what << "\n" << run.output;
}

class Hosts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::CreateDirectoryW(kInstallDirectory.c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW(VRL_DLL_PATH, kInstalledDll.c_str(), FALSE));
        ASSERT_NE(ShortPath(kInstalledDll), kInstalledDll);
    }

    void SetUp() override { RemoveEverything(); }
    void TearDown() override { RemoveEverything(); }

    // By name too: what a failing test left, such as the interface keys (of both views on x64), which
    // no unregistration removes once the library's key is gone.
    static void RemoveEverything() {
        Regsvr32(L"/u /s");
        std::vector<std::wstring> keys = RegisteredKeys();
        if (sizeof(void*) == 8) {
            keys.insert(keys.end(), {L"Wow6432Node\\" + ClassKey(), L"Wow6432Node\\" + InterfaceKey()});
        }
        for (const auto& key : keys) {
            DeleteClassesTree(key);
        }
    }
};

}  // namespace vrl::test
