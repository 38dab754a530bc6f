// The script host calling the component by name: VBScript reads every status and text back into
// its variables, also through its procedures' ByRef parameters; JScript, which passes everything by
// value, calls every method and gets nothing back. Each script counts its failed checks and prints
// the count last, so that a script the host stops silently (Wine's cscript then still exits 0) is
// caught by the missing line.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "child_process.h"
#include "gateway_simulator.h"
#include "test_registration.h"

namespace vrl::test {
namespace {

constexpr unsigned long kScriptLimitMs = 120000;

class ScriptHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(RegisterForTest(VRL_DLL_PATH), S_OK); }
    static void TearDownTestSuite() { UnregisterForTest(); }

    void SetUp() override {
        simulator_ = std::make_unique<sim::GatewaySimulator>(sim::with_history());
        simulator_->start();
    }

    ProcessResult Script(const wchar_t* name) {
        return RunProcess(L"cscript.exe //nologo \"" + std::wstring(VRL_SCRIPTS_DIR) + L"/" + name + L"\" " +
                              std::to_wstring(simulator_->port()),
                          kScriptLimitMs);
    }

    std::unique_ptr<sim::GatewaySimulator> simulator_;
};

TEST_F(ScriptHost, VBScriptReadsBackEveryStatusAndText) {
    const ProcessResult run = Script(L"by_name.vbs");
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("checks failed: 0\n"), std::string::npos) << run.output;
    // Login, three submits and two queries, the two calls with values, two submits through
    // procedures and their query: the call with an argument missing and the send after EndCon
    // reach nothing.
    EXPECT_EQ(simulator_->received().size(), 11u) << run.output;
}

TEST_F(ScriptHost, JScriptCallsEveryMethodAndKeepsItsOwnValues) {
    const ProcessResult run = Script(L"by_name.js");
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("checks failed: 0\n"), std::string::npos) << run.output;
    EXPECT_EQ(simulator_->received().size(), 4u) << run.output;
}

}  // namespace
}  // namespace vrl::test
