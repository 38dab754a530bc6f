// The registered component in its hosts. The script host calls it by name: VBScript reads every
// status and text back into its variables, also through its procedures' ByRef parameters; JScript,
// which passes everything by value, calls every method and gets nothing back. Each script counts
// its failed checks and prints the count last, so that a script the host stops silently (Wine's
// cscript then still exits 0) is caught by the missing line. Programs call it from other
// apartments through the platform's marshaler, early-bound and by name, and get every result.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "VRLCOM.h"
#include "child_process.h"
#include "com_ptr.h"
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

// Runs `work` on a thread of its own in the apartment `model` asks for.
std::thread InApartment(DWORD model, std::function<void()> work) {
    return std::thread([model, work = std::move(work)] {
        if (SUCCEEDED(::CoInitializeEx(nullptr, model))) {
            work();
            ::CoUninitialize();
        }
    });
}

// Whether the caller holds a proxy rather than the object: only a proxy answers IMultiQI.
bool IsProxy(IUnknown* object) {
    ComPtr<IMultiQI> multi;
    return object->QueryInterface(IID_IMultiQI, multi.put_void()) == S_OK;
}

// One call's outcome as its caller sees it; each call starts with the status -999 and the text
// "preset", which its results must replace.
struct Seen {
    HRESULT hr = E_FAIL;
    int status = -999;
    std::wstring text = L"preset";
};

// Early-bound: a login, a send, a timed send and a refused query; by name, with variables by
// reference as VBScript passes them: a query of the send.
std::vector<Seen> CallEveryWay(IVorel* vorel, unsigned port) {
    Bstr ip(L"127.0.0.1"), port_text(std::to_wstring(port).c_str()), demo(L"demo");
    Bstr mobile(L"0912345678"), message(L"from another apartment"), later(L"20261225120000"), unknown(L"999");
    std::vector<Seen> seen(5);
    seen[0].hr = vorel->StartCon(ip.get(), port_text.get(), demo.get(), demo.get(), &seen[0].status);
    const auto early = [](Seen& into, auto call) {
        BSTR text = ::SysAllocString(into.text.c_str());
        into.hr = call(&into.status, &text);
        into.text = text != nullptr ? text : L"(null)";
        ::SysFreeString(text);
    };
    early(seen[1], [&](int* status, BSTR* text) { return vorel->SendMsg(mobile.get(), message.get(), status, text); });
    early(seen[2], [&](int* status, BSTR* text) {
        return vorel->SendMsg_Order(mobile.get(), message.get(), later.get(), status, text);
    });
    early(seen[3], [&](int* status, BSTR* text) { return vorel->QueryMsg(mobile.get(), unknown.get(), status, text); });

    LPOLESTR name = const_cast<LPOLESTR>(L"QueryMsg");
    DISPID query = DISPID_UNKNOWN;
    VARIANT status, text, args[4];
    V_VT(&status) = VT_I4;
    V_I4(&status) = seen[4].status;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = ::SysAllocString(seen[4].text.c_str());
    V_VT(&args[0]) = V_VT(&args[1]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[0]) = &text;
    V_VARIANTREF(&args[1]) = &status;
    V_VT(&args[2]) = V_VT(&args[3]) = VT_BSTR;
    V_BSTR(&args[2]) = ::SysAllocString(seen[1].text.c_str());
    V_BSTR(&args[3]) = mobile.get();
    DISPPARAMS params{args, nullptr, 4, 0};
    seen[4].hr = vorel->GetIDsOfNames(IID_NULL, &name, 1, 0, &query);
    if (SUCCEEDED(seen[4].hr)) {
        seen[4].hr = vorel->Invoke(query, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    seen[4].status = V_VT(&status) == VT_I4 ? V_I4(&status) : -999;
    seen[4].text = V_VT(&text) == VT_BSTR ? V_BSTR(&text) : L"(not a text)";
    ::VariantClear(&status);
    ::VariantClear(&text);
    ::VariantClear(&args[2]);
    return seen;
}

// Every call succeeded and every result arrived, each send with an id of its own.
void ExpectEveryResult(const std::vector<std::vector<Seen>>& callers) {
    std::set<std::wstring> ids;
    for (const std::vector<Seen>& seen : callers) {
        ASSERT_EQ(seen.size(), 5u);
        for (const Seen& call : seen) {
            EXPECT_EQ(call.hr, S_OK);
        }
        EXPECT_EQ(seen[0].status, 0);
        EXPECT_EQ(seen[1].status, 0);
        EXPECT_EQ(seen[2].status, 0);
        ids.insert(seen[1].text);
        ids.insert(seen[2].text);
        EXPECT_EQ(seen[3].status, 3);
        EXPECT_EQ(seen[3].text, L"unknown message id");
        EXPECT_EQ(seen[4].status, 0);
        EXPECT_EQ(seen[4].text, L"DELIVERED");
    }
    EXPECT_EQ(ids.size(), 2 * callers.size());
    EXPECT_EQ(ids.count(L"preset"), 0u);
}

// An object created from the multithreaded apartment lives in the platform's host apartment; the
// MTA threads share the creator's proxy (each login ends the connection before it).
TEST_F(ScriptHost, MultithreadedApartmentCallersGetEveryResultThroughTheProxy) {
    bool proxy = false;
    std::vector<std::vector<Seen>> callers(4);
    InApartment(COINIT_MULTITHREADED, [&] {
        ComPtr<IVorel> vorel;
        if (SUCCEEDED(::CoCreateInstance(CLSID_Vorel, nullptr, CLSCTX_INPROC_SERVER, IID_IVorel, vorel.put_void()))) {
            proxy = IsProxy(vorel.get());
            std::vector<std::thread> threads;
            for (std::vector<Seen>& seen : callers) {
                threads.push_back(InApartment(COINIT_MULTITHREADED,
                                              [&] { seen = CallEveryWay(vorel.get(), simulator_->port()); }));
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
        }
    }).join();
    EXPECT_TRUE(proxy);
    ExpectEveryResult(callers);
    EXPECT_EQ(simulator_->received().size(), 5 * callers.size());
}

// An object of this STA handed to a second STA through the global interface table.
TEST_F(ScriptHost, AnotherApartmentGetsEveryResultThroughTheGlobalInterfaceTable) {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
        ComPtr<IVorel> vorel;
        ComPtr<IGlobalInterfaceTable> table;
        DWORD cookie = 0;
        ASSERT_EQ(::CoCreateInstance(CLSID_Vorel, nullptr, CLSCTX_INPROC_SERVER, IID_IVorel, vorel.put_void()), S_OK);
        EXPECT_FALSE(IsProxy(vorel.get()));
        ASSERT_EQ(::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IGlobalInterfaceTable, table.put_void()),
                  S_OK);
        ASSERT_EQ(table->RegisterInterfaceInGlobal(vorel.get(), IID_IVorel, &cookie), S_OK);
        bool proxy = false;
        std::vector<std::vector<Seen>> callers(1);
        HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread other = InApartment(COINIT_APARTMENTTHREADED, [&] {
            ComPtr<IVorel> passed;
            if (SUCCEEDED(table->GetInterfaceFromGlobal(cookie, IID_IVorel, passed.put_void()))) {
                proxy = IsProxy(passed.get());
                callers[0] = CallEveryWay(passed.get(), simulator_->port());
            }
            passed.reset();
            ::SetEvent(done);
        });
        // This apartment serves the calls while it waits.
        DWORD index = 0;
        EXPECT_EQ(::CoWaitForMultipleHandles(0, INFINITE, 1, &done, &index), S_OK);
        other.join();
        ::CloseHandle(done);
        EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
        EXPECT_TRUE(proxy);
        ExpectEveryResult(callers);
        EXPECT_EQ(simulator_->received().size(), 5u);
    }
    ::CoUninitialize();
}

}  // namespace
}  // namespace vrl::test
