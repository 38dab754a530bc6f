// The script host calling the component by name: VBScript reads every status and text back into
// its variables; JScript, which passes everything by value, calls every method and gets nothing
// back. Each script counts its failed checks and prints the count last, so that a script the host
// stops silently (Wine's cscript then still exits 0) is caught by the missing line.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gateway_simulator.h"
#include "test_registration.h"

namespace vrl::test {
namespace {

struct ProcessResult {
    DWORD exit_code = 0xFFFFFFFF;
    std::string output;
};

class OwnedHandle {
public:
    OwnedHandle() = default;
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { Close(); }
    HANDLE* put() { return &handle_; }
    HANDLE get() const { return handle_; }
    void Close() {
        if (handle_ != nullptr) {
            ::CloseHandle(handle_);
            handle_ = nullptr;
        }
    }

private:
    HANDLE handle_ = nullptr;
};

// Runs a command line with its standard output and error collected; CR stripped.
ProcessResult RunCommand(std::wstring command_line) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    OwnedHandle read_end;
    OwnedHandle write_end;
    if (!::CreatePipe(read_end.put(), write_end.put(), &inherit, 0)) {
        return result;
    }
    ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return result;
    }
    OwnedHandle process_handle;
    *process_handle.put() = process.hProcess;
    ::CloseHandle(process.hThread);
    write_end.Close();
    // Wine's helper processes may inherit the pipe and keep it open after the script ends: read
    // what is there while waiting for the process, never until the pipe's end.
    auto drain = [&] {
        DWORD available = 0;
        while (::PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr) && available != 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!::ReadFile(read_end.get(), buffer, sizeof(buffer), &got, nullptr) || got == 0) {
                return;
            }
            for (DWORD i = 0; i < got; ++i) {
                if (buffer[i] != '\r') {
                    result.output += buffer[i];
                }
            }
        }
    };
    constexpr DWORD kStepMs = 50;
    constexpr DWORD kLimitMs = 120000;
    DWORD waited = 0;
    while (::WaitForSingleObject(process.hProcess, kStepMs) == WAIT_TIMEOUT) {
        drain();
        waited += kStepMs;
        if (waited >= kLimitMs) {
            ::TerminateProcess(process.hProcess, 0xFFFFFFFF);
            ::WaitForSingleObject(process.hProcess, INFINITE);
            result.output += "[killed after 120 s]\n";
        }
    }
    drain();
    ::GetExitCodeProcess(process.hProcess, &result.exit_code);
    return result;
}

class ScriptHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(RegisterForTest(VRL_DLL_PATH), S_OK); }
    static void TearDownTestSuite() { UnregisterForTest(); }

    void SetUp() override {
        simulator_ = std::make_unique<sim::GatewaySimulator>();
        simulator_->start();
    }

    ProcessResult Script(const wchar_t* name) {
        return RunCommand(L"cscript.exe //nologo \"" + std::wstring(VRL_SCRIPTS_DIR) + L"/" + name + L"\" " +
                   std::to_wstring(simulator_->port()));
    }

    std::unique_ptr<sim::GatewaySimulator> simulator_;
};

TEST_F(ScriptHost, VBScriptReadsBackEveryStatusAndText) {
    const ProcessResult run = Script(L"by_name.vbs");
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("checks failed: 0\n"), std::string::npos) << run.output;
    // Login, three submits and two queries, the two calls with values: the call with an argument
    // missing and the send after EndCon reach nothing.
    EXPECT_EQ(simulator_->received().size(), 8u) << run.output;
}

TEST_F(ScriptHost, JScriptCallsEveryMethodAndKeepsItsOwnValues) {
    const ProcessResult run = Script(L"by_name.js");
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("checks failed: 0\n"), std::string::npos) << run.output;
    EXPECT_EQ(simulator_->received().size(), 4u) << run.output;
}

}  // namespace
}  // namespace vrl::test
