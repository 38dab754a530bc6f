// The registered DLL in its hosts: VBScript under cscript by both ProgIDs with every status and
// text read back, the shipped examples, JScript by name, bad input and failing gateways through the
// script host, and early binding through CoCreateInstance with the library unloaded afterwards.
#include <memory>
#include <string>
#include <initializer_list>
#include <utility>
#include <vector>

#include "gateway_simulator.h"
#include "host_fixture.h"

namespace vrl::test {
namespace {

// The hosts below need the class registered.
class RegisteredHosts : public Hosts {
protected:
    void SetUp() override {
        Hosts::SetUp();
        ExpectOk(Regsvr32(L"/s"), "regsvr32 /s");
    }

    static std::unique_ptr<sim::GatewaySimulator> Simulator(sim::FaultMode fault = sim::FaultMode::None,
                                                            int argument = 0) {
        sim::SimulatorOptions options;
        options.fault = fault;
        options.fault_arg = argument;
        options.keep_history = true;
        auto simulator = std::make_unique<sim::GatewaySimulator>(options);
        simulator->start();
        return simulator;
    }

    static std::wstring Port(const sim::GatewaySimulator& simulator) {
        return std::to_wstring(simulator.port());
    }
};

TEST_F(RegisteredHosts, VBScriptCallsEveryMethodThroughBothProgIds) {
    const auto simulator = Simulator();
    const ProcessResult run = Script(VRL_HOSTS_DIR L"/all_methods.vbs", Port(*simulator));
    ExpectOk(run, "all_methods.vbs");
    EXPECT_NE(run.output.find("checks failed: 0"), std::string::npos) << run.output;
    // For each object: two logins (one refused), two submits, three queries and the refused send
    // time reach the gateway; the 161-byte message and the send after EndCon do not.
    EXPECT_EQ(simulator->received().size(), 2u * 8u);
}

TEST_F(RegisteredHosts, TheVBScriptExamplePrintsEveryResult) {
    const auto simulator = Simulator();
    const ProcessResult run =
        Script(VRL_EXAMPLES_DIR L"/send_and_query.vbs", L"127.0.0.1 " + Port(*simulator));
    ExpectOk(run, "send_and_query.vbs");
    EXPECT_EQ(run.output, ScriptExampleOutput(simulator->port()));
}

TEST_F(RegisteredHosts, JScriptCallsByNameAndTheGatewaySeesEveryCall) {
    const auto simulator = Simulator();
    ExpectOk(Script(VRL_HOSTS_DIR L"/jscript_by_name.js", Port(*simulator)), "jscript_by_name.js");
    const auto received = simulator->received();
    ASSERT_EQ(received.size(), 4u);
    ExpectOk(Script(VRL_EXAMPLES_DIR L"/send_and_query.js", L"127.0.0.1 " + Port(*simulator)),
             "send_and_query.js");
    EXPECT_EQ(simulator->received().size(), 8u);
}

TEST_F(RegisteredHosts, TheEarlyBoundClientExampleRuns) {
    const auto simulator = Simulator();
    const ProcessResult run =
        RunProcess(Quoted(WindowsPath(VRL_CLIENT_PATH)) + L" 127.0.0.1 " + Port(*simulator));
    ExpectOk(run, "early_bound_client");
    EXPECT_EQ(run.output, kEarlyBoundClientOutput);
}

TEST_F(RegisteredHosts, BadInputThroughTheScriptHost) {
    const auto normal = Simulator();
    const auto closing = Simulator(sim::FaultMode::CloseAfter, 1);
    const auto long_reply = Simulator(sim::FaultMode::LongReply);
    const auto one_byte = Simulator(sim::FaultMode::OneByteReply);
    const auto stalling = Simulator(sim::FaultMode::NoReply, 1);
    const std::wstring ports = Port(*normal) + L" " + Port(*closing) + L" " + Port(*long_reply) + L" " +
                               Port(*one_byte) + L" " + Port(*stalling);
    const ProcessResult run = Script(VRL_HOSTS_DIR L"/bad_input.vbs", ports);
    ExpectOk(run, "bad_input.vbs");
    EXPECT_NE(run.output.find("checks failed: 0"), std::string::npos) << run.output;
}

#ifdef VRL_X86_DLL_PATH
// The x86 DLL beside the x64 one, registered by syswow64's regsvr32 and used by its cscript.
class BothArchitectures : public RegisteredHosts {
protected:
    const std::wstring x86_dll_ = kInstallDirectory + L"\\x86\\VRLCOM.DLL";

    void SetUp() override {
        Regsvr32(L"/u /s", x86_dll_, kSysWow64);
        Hosts::SetUp();
        ::CreateDirectoryW((kInstallDirectory + L"\\x86").c_str(), nullptr);
        ASSERT_TRUE(::CopyFileW(VRL_X86_DLL_PATH, x86_dll_.c_str(), FALSE))
            << "no x86 DLL at " << Narrow(VRL_X86_DLL_PATH) << ": build the win32 preset first";
    }
    void TearDown() override {
        Regsvr32(L"/u /s", x86_dll_, kSysWow64);
        Hosts::TearDown();
    }

    // Whether the cscript of `folder` runs the VBScript example with every result as expected.
    static ::testing::AssertionResult Sends(const std::wstring& folder) {
        const auto simulator = Simulator();
        const ProcessResult run =
            Script(VRL_EXAMPLES_DIR L"/send_and_query.vbs", L"127.0.0.1 " + Port(*simulator), folder);
        if (run.output == ScriptExampleOutput(simulator->port())) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << run.output;
    }
};

// Unregistering either DLL leaves the other sending, with its view's interface key and its path in
// the shared type library key, and its class key as it was, even when that names ProgIDs that are
// none of this class's (a path into the class keys, another class's key); a per-user registration
// of one and its removal leave the machine's registration of both as it was; with both removed the
// machine's registry is as before.
TEST_F(BothArchitectures, EachOutlivesTheOthersUnregistration) {
    // cscript registers its own type library whenever it starts: both run before the registry is read.
    EXPECT_FALSE(Sends(kSysWow64));
    EXPECT_FALSE(Sends(L""));
    const auto machine = [] { return DumpTree(HKEY_LOCAL_MACHINE, L"Software"); };
    const auto expect_machine = [&](const std::vector<std::wstring>& expected, const char* when) {
        const auto now = machine();
        for (const auto& line : Added(expected, now)) {
            ADD_FAILURE() << when << ", added: " << Narrow(line);
        }
        for (const auto& line : Added(now, expected)) {
            ADD_FAILURE() << when << ", removed: " << Narrow(line);
        }
    };
    const auto before = machine();
    struct Architecture {
        std::wstring dll, folder, view, platform;
    };
    const Architecture x86{x86_dll_, kSysWow64, L"Wow6432Node\\", L"win32"};
    const Architecture x64{kInstalledDll, L"", L"", L"win64"};
    for (const auto& [first, second] : {std::pair(&x86, &x64), std::pair(&x64, &x86)}) {
        ExpectOk(Regsvr32(L"/s", x86.dll, x86.folder), "x86 regsvr32");
        ExpectOk(Regsvr32(L"/s", x64.dll, x64.folder), "x64 regsvr32");
        EXPECT_TRUE(Sends(x86.folder));
        EXPECT_TRUE(Sends(x64.folder));
        const auto registered = machine();
        const auto interface_key = DumpClassesTree(second->view + InterfaceKey());
        ASSERT_FALSE(interface_key.empty());

        ExpectOk(Regsvr32(L"/s /n /i:user", first->dll, first->folder), "regsvr32 /n /i:user");
        ExpectOk(Regsvr32(L"/u /s /n /i:user", first->dll, first->folder), "regsvr32 /u /n /i:user");
        expect_machine(registered, "after a per-user registration and its removal");

        CreateClassesKey(second->view + ClassKey() + L"\\ProgID", ClassKey());
        CreateClassesKey(second->view + ClassKey() + L"\\VersionIndependentProgID", L"VRLCOM.Foreign");
        CreateClassesKey(L"VRLCOM.Foreign\\CLSID", BracedGuid(IID_IVorel));
        const auto other_class = DumpClassesTree(second->view + ClassKey());
        const auto foreign = DumpClassesTree(L"VRLCOM.Foreign");
        ExpectOk(Regsvr32(L"/u /s", first->dll, first->folder), "regsvr32 /u of the first");
        EXPECT_TRUE(Sends(second->folder));
        EXPECT_FALSE(Sends(first->folder));
        EXPECT_EQ(DumpClassesTree(second->view + InterfaceKey()), interface_key);
        EXPECT_EQ(DumpClassesTree(second->view + ClassKey()), other_class);
        EXPECT_EQ(DumpClassesTree(L"VRLCOM.Foreign"), foreign);
        DeleteClassesTree(L"VRLCOM.Foreign");
        EXPECT_EQ(ClassesString(TypeLibKey() + L"\\1.0\\0\\" + second->platform), second->dll);
        EXPECT_FALSE(ClassesKeyExists(TypeLibKey() + L"\\1.0\\0\\" + first->platform));
        ExpectOk(Regsvr32(L"/u /s", second->dll, second->folder), "regsvr32 /u of the second");
        expect_machine(before, "with both unregistered");
    }
}

// Unregistering the x64 DLL while the x86 one's class key cannot be read: that counts as
// registered, and the x86 DLL goes on creating and sending.
TEST_F(BothArchitectures, AnUnreadableOtherViewCountsAsRegistered) {
    ExpectOk(Regsvr32(L"/s", x86_dll_, kSysWow64), "x86 regsvr32");
    ExpectOk(Regsvr32(L"/s"), "x64 regsvr32");
    const std::wstring server = L"Wow6432Node\\" + ClassKey() + L"\\InprocServer32";
    SetClassesKeyAccess(server, L"D:(D;;KR;;;WD)(A;;KA;;;WD)");
    HKEY unreadable = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, KEY_READ, &unreadable), ERROR_ACCESS_DENIED);
    ExpectOk(Regsvr32(L"/u /s"), "x64 regsvr32 /u");
    SetClassesKeyAccess(server, L"D:(A;;KA;;;WD)");
    EXPECT_TRUE(Sends(kSysWow64));
    EXPECT_FALSE(Sends(L""));
}
#endif

// Early binding through the registry, with null strings, and the library unloaded once the last
// object is gone.
TEST_F(RegisteredHosts, CoCreateInstanceNullStringsAndUnloading) {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    const auto simulator = Simulator();
    const std::wstring port = Port(*simulator);
    IVorel* vorel = nullptr;
    ASSERT_EQ(::CoCreateInstance(CLSID_Vorel, nullptr, CLSCTX_INPROC_SERVER, IID_IVorel,
                                 reinterpret_cast<void**>(&vorel)),
              S_OK);
    const HMODULE loaded = ::GetModuleHandleW(L"VRLCOM.DLL");
    ASSERT_NE(loaded, nullptr);
    const auto can_unload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(::GetProcAddress(loaded, "DllCanUnloadNow")));
    ASSERT_NE(can_unload, nullptr);
    EXPECT_EQ(can_unload(), S_FALSE);

    // Null strings are empty strings.
    int status = -999;
    EXPECT_EQ(vorel->StartCon(nullptr, nullptr, nullptr, nullptr, &status), S_OK);
    EXPECT_EQ(status, -3);
    const BSTR ip = ::SysAllocString(L"127.0.0.1");
    const BSTR port_text = ::SysAllocString(port.c_str());
    EXPECT_EQ(vorel->StartCon(ip, port_text, nullptr, nullptr, &status), S_OK);
    EXPECT_EQ(status, 1);
    BSTR text = nullptr;
    EXPECT_EQ(vorel->SendMsg(nullptr, nullptr, &status, &text), S_OK);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(std::wstring(text), L"login required");
    EXPECT_EQ(vorel->QueryMsg(nullptr, nullptr, &status, &text), S_OK);
    EXPECT_EQ(status, 2);
    vorel->EndCon();
    ::SysFreeString(text);
    ::SysFreeString(ip);
    ::SysFreeString(port_text);

    vorel->Release();
    EXPECT_EQ(can_unload(), S_OK);
    // In a single-threaded apartment the platform frees an unused library at once.
    ::CoFreeUnusedLibraries();
    EXPECT_EQ(::GetModuleHandleW(L"VRLCOM.DLL"), nullptr) << "the library stayed loaded";
    ::CoUninitialize();
}

}  // namespace
}  // namespace vrl::test
