// The five methods of IVorel over loopback against the gateway simulator: statuses and texts of
// every path, what goes on the wire, and the handling of the out-parameters.
#include <fstream>

#include "gateway_status.h"
#include "plain_vorel.h"
#include "simulator_protocol.h"
#include "vorel_fixture.h"

namespace vrl::test {
namespace {

using Fields = std::vector<std::string>;

TEST_F(VorelTest, StartConLogsInAndKeepsTheConnectionWhateverTheStatus) {
    EXPECT_EQ(Start(), sim::kStatusOk);
    ASSERT_EQ(Received(), 1u);
    EXPECT_EQ(sim_->received()[0].command, sim::kCommandLogin);
    EXPECT_EQ(sim_->received()[0].fields, (Fields{"demo", "demo"}));

    // A refused login is only a status: the connection stays, and the next request uses it.
    EXPECT_EQ(Start(L"demo", L"wrong"), sim::kStatusBadLogin);
    const Outcome sent = Send(L"0912345678", L"hello");
    EXPECT_EQ(sent.status, sim::kStatusNotLoggedIn);
    EXPECT_EQ(sent.text, Wide(std::string(sim::kTextNotLoggedIn)));
}

TEST_F(VorelTest, StartConReportsConnectFailures) {
    Bstr ip(L"127.0.0.1");
    Bstr letters(L"http");
    Bstr port(port_.c_str());
    Bstr user(L"demo");
    int status = 0;
    // A port without digits is port 0.
    EXPECT_EQ(vorel_->StartCon(ip.get(), letters.get(), user.get(), user.get(), &status), S_OK);
    EXPECT_EQ(status, gateway::kStatusConnect);
    // Null strings are empty texts: no address at all.
    EXPECT_EQ(vorel_->StartCon(nullptr, nullptr, nullptr, nullptr, &status), S_OK);
    EXPECT_EQ(status, gateway::kStatusConnect);
    EXPECT_EQ(Received(), 0u);
    EXPECT_FALSE(static_cast<server::PlainVorel*>(vorel_.get())->IsConnected());
}

TEST_F(VorelTest, StartConAcceptsAHostName) {
    Bstr host(L"localhost");
    Bstr port(port_.c_str());
    Bstr user(L"demo");
    int status = -1;
    EXPECT_EQ(vorel_->StartCon(host.get(), port.get(), user.get(), user.get(), &status), S_OK);
    EXPECT_EQ(status, sim::kStatusOk);
    EXPECT_EQ(Send(L"0912345678", L"by name").text, std::to_wstring(sim::kFirstMessageId));
}

// Gateways whose replies the network cuts or pads: every call still gets its own reply, whole.
TEST_F(VorelTest, RepliesInPiecesOrWithExtraBytesAreReadWhole) {
    struct Fault {
        sim::FaultMode mode;
        int arg;
        int pause_ms;
    };
    for (const Fault f : {Fault{sim::FaultMode::SplitAt, 1, 0}, Fault{sim::FaultMode::SplitAt, 4, 20},
                          Fault{sim::FaultMode::ExtraBytes, 6, 0}, Fault{sim::FaultMode::ExtraBytes, 300, 0}}) {
        sim::SimulatorOptions options = sim::with_history();
        options.fault = f.mode;
        options.fault_arg = f.arg;
        options.fault_pause_ms = f.pause_ms;
        sim_->stop();
        sim_ = std::make_unique<sim::GatewaySimulator>(options);
        sim_->start();
        port_ = std::to_wstring(sim_->port());
        const std::string label = std::string(sim::fault_mode_name(f.mode)) + "=" + std::to_string(f.arg);
        ASSERT_EQ(Start(), sim::kStatusOk) << label;
        const Outcome sent = Send(L"0912345678", L"hello");
        EXPECT_EQ(sent.status, sim::kStatusOk) << label;
        EXPECT_EQ(sent.text, std::to_wstring(sim::kFirstMessageId)) << label;
        const Outcome queried = Query(L"0912345678", sent.text);
        EXPECT_EQ(queried.status, sim::kStatusOk) << label;
        EXPECT_EQ(queried.text, L"DELIVERED") << label;
        EXPECT_EQ(Received(), 3u) << label;
    }
}

TEST_F(VorelTest, SendMsgQueryMsgAndSendMsgOrderPutTheirFieldsOnTheWire) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    const Outcome sent = Send(L"0912345678", L"hello");
    EXPECT_EQ(sent.hr, S_OK);
    EXPECT_EQ(sent.status, sim::kStatusOk);
    EXPECT_EQ(sent.text, std::to_wstring(sim::kFirstMessageId));

    const Outcome timed = SendAt(L"+886912345678", L"later", L"20261231235959");
    EXPECT_EQ(timed.hr, S_OK);
    EXPECT_EQ(timed.status, sim::kStatusOk);
    EXPECT_EQ(timed.text, std::to_wstring(sim::kFirstMessageId + 1));

    const Outcome delivered = Query(L"0912345678", sent.text);
    EXPECT_EQ(delivered.status, sim::kStatusOk);
    EXPECT_EQ(delivered.text, L"DELIVERED");
    const Outcome scheduled = Query(L"+886912345678", timed.text);
    EXPECT_EQ(scheduled.text, L"SCHEDULED 20261231235959");

    const auto frames = sim_->received();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[1].command, sim::kCommandSubmit);
    EXPECT_EQ(frames[1].fields, (Fields{"0912345678", "hello", "d"}));
    EXPECT_EQ(frames[2].command, sim::kCommandSubmit);
    EXPECT_EQ(frames[2].fields, (Fields{"+886912345678", "later", "e", "20261231235959"}));
    EXPECT_EQ(frames[3].command, sim::kCommandQuery);
    EXPECT_EQ(frames[3].fields, (Fields{"0912345678", "1000001"}));
    for (const auto& frame : frames) {
        EXPECT_TRUE(frame.well_formed);
        EXPECT_EQ(frame.connection, 1u);
    }
}

TEST_F(VorelTest, MessageOf160BytesIsSentAnd161IsRefusedLocally) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    const Outcome full = Send(L"0912345678", std::wstring(160, L'a'));
    EXPECT_EQ(full.status, sim::kStatusOk);
    ASSERT_EQ(Received(), 2u);
    EXPECT_EQ(sim_->received()[1].fields[1], std::string(160, 'a'));

    for (int timed = 0; timed < 2; ++timed) {
        const std::wstring message(161, L'a');
        const Outcome over = timed ? SendAt(L"0912345678", message, L"20261231235959") : Send(L"0912345678", message);
        EXPECT_EQ(over.hr, S_OK);
        EXPECT_EQ(over.status, gateway::kStatusMessageTooLong);
        EXPECT_EQ(over.text, L"message content > max limit");
    }
    EXPECT_EQ(Received(), 2u);
    // The refusal leaves the connection as it was.
    EXPECT_EQ(Send(L"0912345678", L"after").status, sim::kStatusOk);
}

TEST_F(VorelTest, MessageIsMeasuredUpToItsFirstNul) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    // 170 code units, but the text ends at the NUL after 10 of them.
    std::wstring message(10, L'b');
    message += L'\0';
    message += std::wstring(159, L'c');
    EXPECT_EQ(Send(L"0912345678", message).status, sim::kStatusOk);
    EXPECT_EQ(sim_->received().back().fields[1], std::string(10, 'b'));

    // A null Message is an empty text field.
    int status = 0;
    Bstr mobile(L"0912345678");
    Bstr text;
    EXPECT_EQ(vorel_->SendMsg(mobile.get(), nullptr, &status, text.put()), S_OK);
    EXPECT_EQ(sim_->received().back().fields, (Fields{"0912345678", "", "d"}));
}

TEST_F(VorelTest, WithoutAConnectionEveryRequestIsASendError) {
    const Outcome sent = Send(L"0912345678", L"hello");
    EXPECT_EQ(sent.hr, S_OK);
    EXPECT_EQ(sent.status, gateway::kStatusSend);
    EXPECT_EQ(sent.text, L"socket send error!");
    EXPECT_EQ(SendAt(L"0912345678", L"x", L"20261231235959").text, L"socket send error!");
    const Outcome queried = Query(L"0912345678", L"1000001");
    EXPECT_EQ(queried.status, gateway::kStatusSend);
    EXPECT_EQ(queried.text, L"socket send error!");
}

TEST_F(VorelTest, EndConAlwaysSucceedsAndAStartAfterItWorks) {
    EXPECT_EQ(vorel_->EndCon(), S_OK);
    ASSERT_EQ(Start(), sim::kStatusOk);
    EXPECT_EQ(vorel_->EndCon(), S_OK);
    EXPECT_EQ(vorel_->EndCon(), S_OK);
    EXPECT_EQ(Send(L"0912345678", L"closed").status, gateway::kStatusSend);

    ASSERT_EQ(Start(), sim::kStatusOk);
    EXPECT_EQ(Send(L"0912345678", L"again").status, sim::kStatusOk);
    const auto frames = sim_->received();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].connection, 2u);
}

TEST_F(VorelTest, NullOutPointersAreRefusedBeforeAnythingIsSent) {
    ASSERT_EQ(Start(), sim::kStatusOk);
    Bstr ip(L"127.0.0.1");
    Bstr port(port_.c_str());
    Bstr text(L"x");
    Bstr mobile(L"0912345678");
    int status = 0;
    BSTR result = nullptr;
    EXPECT_EQ(vorel_->StartCon(ip.get(), port.get(), text.get(), text.get(), nullptr), E_POINTER);
    EXPECT_EQ(vorel_->SendMsg(mobile.get(), text.get(), nullptr, &result), E_POINTER);
    EXPECT_EQ(vorel_->SendMsg(mobile.get(), text.get(), &status, nullptr), E_POINTER);
    EXPECT_EQ(vorel_->SendMsg_Order(mobile.get(), text.get(), text.get(), nullptr, &result), E_POINTER);
    EXPECT_EQ(vorel_->SendMsg_Order(mobile.get(), text.get(), text.get(), &status, nullptr), E_POINTER);
    EXPECT_EQ(vorel_->QueryMsg(mobile.get(), text.get(), nullptr, &result), E_POINTER);
    EXPECT_EQ(vorel_->QueryMsg(mobile.get(), text.get(), &status, nullptr), E_POINTER);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(Received(), 1u);
    // The connection is untouched.
    EXPECT_EQ(Send(L"0912345678", L"still here").status, sim::kStatusOk);
}

TEST_F(VorelTest, TraceShowsTheFieldsAsSent) {
    sim_->stop();
    const std::string trace_path = ::testing::TempDir() + "vorel_trace.jsonl";
    sim::SimulatorOptions options;
    options.trace_path = trace_path;
    options.trace_secrets = true;
    sim_ = std::make_unique<sim::GatewaySimulator>(options);
    sim_->start();
    port_ = std::to_wstring(sim_->port());
    ASSERT_EQ(Start(), sim::kStatusOk);
    ASSERT_EQ(Send(L"0912345678", L"trace me").status, sim::kStatusOk);
    vorel_->EndCon();
    sim_->stop();

    std::ifstream in(trace_path);
    std::string trace;
    for (std::string line; std::getline(in, line);) {
        trace += line + '\n';
    }
    EXPECT_NE(trace.find(R"("fields":["demo","demo"])"), std::string::npos) << trace;
    EXPECT_NE(trace.find(R"("fields":["0912345678","trace me","d"])"), std::string::npos) << trace;
}

class VorelReceiveFailureTest : public VorelTest {
protected:
    sim::SimulatorOptions Options() override {
        sim::SimulatorOptions options;
        options.fault = sim::FaultMode::CloseAfter;
        options.fault_arg = 1;  // the login is answered, the next request closes the connection
        return options;
    }
};

// Counts the calls that reach EndCon through the object's table of methods.
int g_end_calls = 0;
HRESULT(STDMETHODCALLTYPE* g_real_end)(IVorel*) = nullptr;
HRESULT STDMETHODCALLTYPE CountingEnd(IVorel* self) {
    ++g_end_calls;
    return g_real_end(self);
}

TEST_F(VorelReceiveFailureTest, ReceiveFailureEndsTheConnectionThroughEndCon) {
    // Give the object a copy of its table whose EndCon entry counts.
    void** const object = reinterpret_cast<void**>(vorel_.get());
    void* const* const table = static_cast<void* const*>(object[0]);
    void* copy[12];
    std::copy(table, table + 12, copy);
    g_real_end = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IVorel*)>(copy[11]);
    copy[11] = reinterpret_cast<void*>(&CountingEnd);
    object[0] = copy;
    g_end_calls = 0;

    ASSERT_EQ(Start(), sim::kStatusOk);
    const Outcome sent = Send(L"0912345678", L"hello");
    EXPECT_EQ(sent.hr, S_OK);
    EXPECT_EQ(sent.status, gateway::kStatusReceive);
    EXPECT_EQ(sent.text, L"socket receive error!");
    EXPECT_EQ(g_end_calls, 1);
    EXPECT_FALSE(static_cast<server::PlainVorel*>(vorel_.get())->IsConnected());
    // Closed: the next request cannot be sent.
    EXPECT_EQ(Query(L"0912345678", L"1").status, gateway::kStatusSend);
    object[0] = const_cast<void**>(table);
}

}  // namespace
}  // namespace vrl::test
