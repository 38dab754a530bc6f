// GatewayConnection against a real server on loopback (the simulator, in-process) and against
// socket calls made to fail on purpose: every status the connection reports, produced for real.
#include "gateway_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "gateway_simulator.h"
#include "injecting_socket_api.h"
#include "silent_listener.h"

namespace vrl::gateway {
namespace {

using namespace std::chrono_literals;
using sim::FaultMode;
using sim::GatewaySimulator;
using sim::SimulatorOptions;
using test::InjectingSocketApi;
using test::SocketCall;

constexpr GatewayTimeouts kShortTimeouts{std::chrono::milliseconds(2000), std::chrono::milliseconds(2000)};

SimulatorOptions with_fault(FaultMode fault, int arg = 0) {
    SimulatorOptions options;
    options.fault = fault;
    options.fault_arg = arg;
    return options;
}

class Loopback : public ::testing::Test {
protected:
    void serve(SimulatorOptions options = {}) {
        options.keep_history = true;
        simulator_ = std::make_unique<GatewaySimulator>(std::move(options));
        simulator_->start();
    }
    std::string port() const { return std::to_string(simulator_->port()); }
    std::int32_t login(GatewayConnection& c) { return c.start("127.0.0.1", port(), "demo", "demo"); }
    std::vector<sim::ReceivedFrame> received() const { return simulator_->received(); }

    bool balanced() const {
        return api_.count(SocketCall::Startup) - api_.count(SocketCall::Cleanup) == 0;
    }

    InjectingSocketApi api_;
    std::unique_ptr<GatewaySimulator> simulator_;
};

TEST_F(Loopback, LoginSubmitTimedSubmitAndQueryReachTheServerAsSent) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    EXPECT_TRUE(c.is_open());

    const GatewayResult sent = c.submit("0912345678", "hello");
    ASSERT_EQ(sent.status, 0);
    const std::string id(sent.text);
    EXPECT_EQ(id, std::to_string(sim::kFirstMessageId));

    const GatewayResult timed = c.submit_at("0912345678", "later", "20270101083000");
    ASSERT_EQ(timed.status, 0);
    const std::string timed_id(timed.text);

    GatewayResult q = c.query("0912345678", id);
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.text, sim::kStateDelivered);
    q = c.query("0912345678", timed_id);
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.text, "SCHEDULED 20270101083000");

    const auto frames = received();
    ASSERT_EQ(frames.size(), 5u);
    for (const auto& f : frames) {
        EXPECT_TRUE(f.well_formed);
        EXPECT_EQ(f.connection, frames[0].connection);
    }
    EXPECT_EQ(frames[0].command, 0x00);
    EXPECT_EQ(frames[0].fields, (std::vector<std::string>{"demo", "demo"}));
    EXPECT_EQ(frames[0].body_length, 10);
    EXPECT_EQ(frames[1].command, 0x01);
    EXPECT_EQ(frames[1].fields, (std::vector<std::string>{"0912345678", "hello", "d"}));
    EXPECT_EQ(frames[1].body_length, 19);
    EXPECT_EQ(frames[2].fields, (std::vector<std::string>{"0912345678", "later", "e", "20270101083000"}));
    EXPECT_EQ(frames[3].command, 0x02);
    EXPECT_EQ(frames[3].fields, (std::vector<std::string>{"0912345678", id}));

    c.end();
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, RefusedLoginKeepsTheConnectionOpenAndTheServerRefusesWhatFollows) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    EXPECT_EQ(c.start("127.0.0.1", port(), "demo", "wrong"), sim::kStatusBadLogin);
    EXPECT_TRUE(c.is_open());
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, sim::kStatusNotLoggedIn);
    EXPECT_EQ(r.text, sim::kTextNotLoggedIn);
}

TEST_F(Loopback, MessageOf160BytesIsSentAnd161IsRefusedWithoutTraffic) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    EXPECT_EQ(c.submit("0912345678", std::string(160, 'm')).status, 0);
    EXPECT_EQ(received().back().fields[1].size(), 160u);

    const int calls = api_.total_calls();
    const std::size_t frames = received().size();
    for (const GatewayResult r : {c.submit("0912345678", std::string(161, 'm')),
                                  c.submit_at("0912345678", std::string(161, 'm'), "20270101083000")}) {
        EXPECT_EQ(r.status, kStatusMessageTooLong);
        EXPECT_EQ(r.text, kTextMessageTooLong);
    }
    EXPECT_EQ(api_.total_calls(), calls);
    EXPECT_TRUE(c.is_open());
    // The connection is still usable: nothing was half-sent.
    EXPECT_EQ(c.submit("0912345678", "after").status, 0);
    EXPECT_EQ(received().size(), frames + 1);
}

TEST(GatewayConnectionClosed, MessageOver160BytesIsRefusedWithNoConnectionOpen) {
    InjectingSocketApi api;
    GatewayConnection c(api, kShortTimeouts);
    const GatewayResult r = c.submit("0912345678", std::string(161, 'm'));
    EXPECT_EQ(r.status, kStatusMessageTooLong);
    EXPECT_EQ(r.text, kTextMessageTooLong);
    EXPECT_EQ(api.total_calls(), 0);
}

TEST(GatewayConnectionClosed, OperationsOnAClosedConnectionReportSendErrorAndTouchNoSocket) {
    InjectingSocketApi api;
    {
        GatewayConnection c(api, kShortTimeouts);
        for (const GatewayResult r : {c.submit("1", "x"), c.submit_at("1", "x", "t"), c.query("1", "2")}) {
            EXPECT_EQ(r.status, kStatusSend);
            EXPECT_EQ(r.text, kTextSendError);
        }
        c.end();
        c.end();
    }
    // No send on an invalid handle, and no cleanup for a start that never happened.
    EXPECT_EQ(api.total_calls(), 0);
}

TEST_F(Loopback, RepeatedEndClosesOnceAndCleansUpOnlyItsOwnStart) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    c.end();
    c.end();
    c.end();
    EXPECT_EQ(api_.count(SocketCall::ShutdownSend), 1);
    EXPECT_EQ(api_.count(SocketCall::Close), 1);
    EXPECT_EQ(api_.count(SocketCall::Startup), 1);
    EXPECT_EQ(api_.count(SocketCall::Cleanup), 1);
    const GatewayResult r = c.submit("0912345678", "after end");
    EXPECT_EQ(r.status, kStatusSend);
    EXPECT_EQ(r.text, kTextSendError);
    EXPECT_EQ(api_.count(SocketCall::Send), 1);  // the login's only
}

TEST_F(Loopback, StartOnAnOpenConnectionEndsTheOldOneFirst) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    ASSERT_EQ(login(c), 0);
    EXPECT_EQ(api_.count(SocketCall::Close), 1);
    EXPECT_EQ(api_.count(SocketCall::Startup), 2);
    EXPECT_EQ(api_.count(SocketCall::Cleanup), 1);
    EXPECT_TRUE(c.is_open());
    EXPECT_EQ(c.submit("0912345678", "on the new one").status, 0);
    const auto frames = received();
    EXPECT_NE(frames.front().connection, frames.back().connection);
    c.end();
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, ObjectReleasedWithoutEndClosesItsSocket) {
    serve();
    {
        GatewayConnection c(api_, kShortTimeouts);
        ASSERT_EQ(login(c), 0);
    }
    EXPECT_EQ(api_.count(SocketCall::Close), 1);
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, FieldsBeyondTheBodyAreRefusedBeforeTheNetworkAndLeaveTheConnectionAsItWas) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    // A login that does not fit: no socket call at all, not even the library start.
    EXPECT_EQ(c.start("127.0.0.1", port(), std::string(200, 'u'), std::string(60, 'p')), kStatusRequestTooLong);
    EXPECT_EQ(api_.total_calls(), 0);

    ASSERT_EQ(login(c), 0);
    const int calls = api_.total_calls();
    const std::string number(100, '1');
    for (const GatewayResult r : {c.submit(number, std::string(160, 'm')),
                                  c.submit_at(std::string(60, '1'), std::string(160, 'm'), std::string(40, '2')),
                                  c.query(std::string(200, '1'), std::string(60, '2'))}) {
        EXPECT_EQ(r.status, kStatusRequestTooLong);
        EXPECT_EQ(r.text, kTextRequestTooLong);
    }
    // On an open connection too, start refuses without ending it.
    EXPECT_EQ(c.start("127.0.0.1", port(), std::string(255, 'u'), ""), kStatusRequestTooLong);
    EXPECT_EQ(api_.total_calls(), calls);
    EXPECT_TRUE(c.is_open());
    EXPECT_EQ(c.submit("0912345678", "still open").status, 0);

    // The message length check comes first.
    const GatewayResult both = c.submit(std::string(200, '1'), std::string(161, 'm'));
    EXPECT_EQ(both.status, kStatusMessageTooLong);
    EXPECT_EQ(both.text, kTextMessageTooLong);
}

TEST_F(Loopback, BodyOfExactly255BytesIsSent) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    // 20 + 1 + 160 + 1 + 2 + 70 + 1 = 255
    const GatewayResult r = c.submit_at(std::string(20, '1'), std::string(160, 'm'), std::string(70, 't'));
    EXPECT_EQ(r.status, sim::kStatusBadSendTime);  // reached the server, which judges the time
    EXPECT_EQ(received().back().body_length, 255);
    EXPECT_TRUE(received().back().well_formed);
}

TEST(GatewayConnectionFailure, SocketLibraryThatCannotStartGivesMinusOne) {
    InjectingSocketApi api;
    api.fail(SocketCall::Startup);
    GatewayConnection c(api, kShortTimeouts);
    EXPECT_EQ(c.start("127.0.0.1", "1", "demo", "demo"), kStatusSocketLibrary);
    EXPECT_FALSE(c.is_open());
    EXPECT_EQ(api.count(SocketCall::OpenStream), 0);
    c.end();
    EXPECT_EQ(api.count(SocketCall::Cleanup), 0);  // nothing of ours to clean up
}

TEST(GatewayConnectionFailure, SocketThatCannotBeCreatedGivesMinusTwo) {
    InjectingSocketApi api;
    api.fail(SocketCall::OpenStream);
    GatewayConnection c(api, kShortTimeouts);
    EXPECT_EQ(c.start("127.0.0.1", "1", "demo", "demo"), kStatusSocketCreate);
    EXPECT_FALSE(c.is_open());
    EXPECT_EQ(api.count(SocketCall::Connect), 0);
    EXPECT_EQ(api.count(SocketCall::Cleanup), 1);
    c.end();
    EXPECT_EQ(api.count(SocketCall::Cleanup), 1);
}

TEST(GatewayConnectionFailure, ConnectionThatCannotBeEstablishedGivesMinusThree) {
    // A port nobody listens on: bind the simulator, note its port, stop it.
    std::uint16_t refused = 0;
    {
        GatewaySimulator gone;
        gone.start();
        refused = gone.port();
    }
    const std::string refused_port = std::to_string(refused);
    InjectingSocketApi api;
    GatewayConnection c(api, kShortTimeouts);
    EXPECT_EQ(c.start("127.0.0.1", refused_port, "demo", "demo"), kStatusConnect);
    EXPECT_FALSE(c.is_open());
    // A host name is no address literal: the address is INADDR_NONE and the connect fails.
    EXPECT_EQ(c.start("localhost", refused_port, "demo", "demo"), kStatusConnect);
    EXPECT_EQ(api.count(SocketCall::Startup), api.count(SocketCall::Cleanup));
    EXPECT_EQ(api.count(SocketCall::Send), 0);
}

TEST_F(Loopback, ReceiveThatCannotBeBoundedInTimeFailsTheStartAsMinusThree) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    api_.fail(SocketCall::SetReceiveTimeout);
    EXPECT_EQ(login(c), kStatusConnect);
    EXPECT_FALSE(c.is_open());
    EXPECT_EQ(api_.count(SocketCall::Send), 0);
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, PortTextIsReadAsAtoiReadsIt) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    EXPECT_EQ(c.start("127.0.0.1", port() + "abc", "demo", "demo"), 0);
    EXPECT_EQ(c.start("127.0.0.1", "  +" + port(), "demo", "demo"), 0);
    // No leading digits: port 0, which cannot be connected to.
    EXPECT_EQ(c.start("127.0.0.1", "abc" + port(), "demo", "demo"), kStatusConnect);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
}

TEST(GatewayConnectionPort, OnlyTheLow16BitsCount) {
    EXPECT_EQ(GatewayConnection::parse_port("65536"), host_to_net16(0));
    EXPECT_EQ(GatewayConnection::parse_port("65537"), host_to_net16(1));
    EXPECT_EQ(GatewayConnection::parse_port("-1"), host_to_net16(0xFFFF));
    EXPECT_EQ(GatewayConnection::parse_port(""), 0);
    EXPECT_EQ(GatewayConnection::parse_port("\t 8080x"), host_to_net16(8080));
    EXPECT_EQ(GatewayConnection::parse_port("- 1"), 0);
}

TEST_F(Loopback, SendFailureGivesMinusFourAndClosesTheConnection) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    api_.fail(SocketCall::Send);
    EXPECT_EQ(login(c), kStatusSend);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());

    ASSERT_EQ(login(c), 0);
    api_.fail(SocketCall::Send);
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, kStatusSend);
    EXPECT_EQ(r.text, kTextSendError);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, PartialSendsAreResumedUntilTheWholeRequestIsOut) {
    serve();
    api_.limit_send(100);
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    EXPECT_EQ(api_.count(SocketCall::Send), 3);  // 100 + 100 + 58
    const GatewayResult r = c.submit("0912345678", "in pieces");
    EXPECT_EQ(r.status, 0);
    const auto frames = received();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[1].well_formed);
    EXPECT_EQ(frames[1].fields, (std::vector<std::string>{"0912345678", "in pieces", "d"}));

    // A failure after a partial send is still a send error.
    api_.fail(SocketCall::Send, 2);
    EXPECT_EQ(c.query("0912345678", "1").status, kStatusSend);
    EXPECT_FALSE(c.is_open());
}

TEST_F(Loopback, RequestBufferIsClearedAfterEverySend) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    auto cleared = [&] {
        const std::uint8_t* buffer = api_.send_buffers().back();
        return std::all_of(buffer, buffer + kRequestSize, [](std::uint8_t b) { return b == 0; });
    };
    ASSERT_EQ(login(c), 0);
    EXPECT_TRUE(cleared());  // the password is gone
    ASSERT_EQ(c.submit("0912345678", "hello").status, 0);
    EXPECT_TRUE(cleared());
    api_.fail(SocketCall::Send);
    ASSERT_EQ(c.query("0912345678", "1").status, kStatusSend);
    EXPECT_TRUE(cleared());
}

TEST_F(Loopback, ReceiveFailureGivesMinusFiveAndClosesTheConnection) {
    serve();
    GatewayConnection c(api_, kShortTimeouts);
    api_.fail(SocketCall::Recv);
    EXPECT_EQ(login(c), kStatusReceive);
    EXPECT_FALSE(c.is_open());
    ASSERT_EQ(login(c), 0);
    api_.fail(SocketCall::Recv);
    const GatewayResult r = c.query("0912345678", "1");
    EXPECT_EQ(r.status, kStatusReceive);
    EXPECT_EQ(r.text, kTextReceiveError);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, ServerClosingBeforeTheLoginAnswerGivesMinusFive) {
    serve(with_fault(FaultMode::CloseAfter, 0));
    GatewayConnection c(api_, kShortTimeouts);
    EXPECT_EQ(login(c), kStatusReceive);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(Loopback, ServerClosingOnAcceptGivesMinusFive) {
    serve(with_fault(FaultMode::CloseOnAccept));
    GatewayConnection c(api_, kShortTimeouts);
    EXPECT_EQ(login(c), kStatusReceive);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, ServerClosingBeforeASubmitAnswerGivesMinusFiveAndItsText) {
    serve(with_fault(FaultMode::CloseAfter, 1));
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, kStatusReceive);
    EXPECT_EQ(r.text, kTextReceiveError);
    EXPECT_FALSE(c.is_open());
    // The next operation finds the connection closed.
    EXPECT_EQ(c.submit("0912345678", "hello").status, kStatusSend);
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, SilentServerTimesOutTheReceiveAndEndsTheConnection) {
    serve(with_fault(FaultMode::NoReply, 1));
    GatewayConnection c(api_, GatewayTimeouts{std::chrono::milliseconds(2000), std::chrono::milliseconds(300)});
    ASSERT_EQ(login(c), 0);
    EXPECT_EQ(api_.recv_timeout(), 300ms);
    const auto begin = std::chrono::steady_clock::now();
    const GatewayResult r = c.submit("0912345678", "hello");
    const auto waited = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(r.status, kStatusReceive);
    EXPECT_EQ(r.text, kTextReceiveError);
    EXPECT_FALSE(c.is_open());
    EXPECT_GE(waited, 250ms);
    EXPECT_LT(waited, 5s);
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, SilentServerTimesOutTheLogin) {
    serve(with_fault(FaultMode::NoReply, 0));
    GatewayConnection c(api_, GatewayTimeouts{std::chrono::milliseconds(2000), std::chrono::milliseconds(300)});
    EXPECT_EQ(login(c), kStatusReceive);
    EXPECT_FALSE(c.is_open());
}

TEST_F(Loopback, SlowReplyWithinTheTimeOutIsAnswer) {
    serve(with_fault(FaultMode::DelayReply, 200));
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    EXPECT_EQ(c.submit("0912345678", "slow").status, 0);
}

TEST(GatewayConnectionTimeout, ConnectThatNeverCompletesGivesMinusThreeAfterTheTimeOut) {
    test::SilentListener silent;
    if (!silent.ready()) {
        GTEST_SKIP() << "this platform answers connects to a full accept queue";
    }
    InjectingSocketApi api;
    GatewayConnection c(api, GatewayTimeouts{std::chrono::milliseconds(400), std::chrono::milliseconds(2000)});
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(c.start("127.0.0.1", std::to_string(silent.port()), "demo", "demo"), kStatusConnect);
    const auto waited = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(api.connect_timeout(), 400ms);
    EXPECT_GE(waited, 350ms);
    EXPECT_LT(waited, 5s);
    EXPECT_FALSE(c.is_open());
    EXPECT_EQ(api.count(SocketCall::Startup), api.count(SocketCall::Cleanup));
}

TEST(GatewayConnectionTimeout, DefaultsAreThirtyAndSixtySeconds) {
    const GatewayTimeouts defaults;
    EXPECT_EQ(defaults.connect, 30s);
    EXPECT_EQ(defaults.receive, 60s);
}

TEST_F(Loopback, StatusByteAbove127IsReportedUnsigned) {
    serve(with_fault(FaultMode::FixedStatus, 0xC8));
    GatewayConnection c(api_, kShortTimeouts);
    EXPECT_EQ(login(c), 200);
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.text, std::to_string(sim::kFirstMessageId));
}

TEST_F(Loopback, ServerStatus80IsToldApartFromTheLocalRefusalByItsText) {
    serve(with_fault(FaultMode::FixedStatus, 80));
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 80);
    const GatewayResult server = c.submit("0912345678", "hello");
    EXPECT_EQ(server.status, 80);
    EXPECT_NE(server.text, kTextMessageTooLong);
    EXPECT_TRUE(c.is_open());
}

TEST_F(Loopback, OneByteReplyIsAStatusWithAnEmptyText) {
    serve(with_fault(FaultMode::OneByteReply));
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, "");
}

TEST_F(Loopback, ReplyOf129BytesWithoutNulGivesA128ByteText) {
    serve(with_fault(FaultMode::LongReply));
    GatewayConnection c(api_, kShortTimeouts);
    ASSERT_EQ(login(c), 0);
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.text.size(), 128u);
    EXPECT_EQ(r.text.substr(0, 7), std::to_string(sim::kFirstMessageId));
}

TEST_F(Loopback, SplitReplyIsNotReassembledAndItsRestStartsTheNextResponse) {
    serve(with_fault(FaultMode::SplitReply, 300));
    GatewayConnection c(api_, kShortTimeouts);
    // "\0login ok\0" arrives as "\0logi" and, 300 ms later, "n ok\0".
    ASSERT_EQ(login(c), 0);
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, 'n');
    EXPECT_EQ(r.text, " ok");
}

TEST_F(Loopback, FailureRunsTheEndHookOnce) {
    serve(with_fault(FaultMode::CloseAfter, 1));
    GatewayConnection c(api_, kShortTimeouts);
    int ends = 0;
    struct Hook {
        GatewayConnection* connection;
        int* ends;
    } hook{&c, &ends};
    c.set_end_hook(
        [](void* context) noexcept {
            auto* h = static_cast<Hook*>(context);
            ++*h->ends;
            h->connection->end();
        },
        &hook);
    ASSERT_EQ(login(c), 0);
    EXPECT_EQ(c.submit("0912345678", "hello").status, kStatusReceive);
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, ManyConnectionsAtOnceGetDistinctIds) {
    serve();
    std::vector<std::unique_ptr<GatewayConnection>> connections;
    for (int i = 0; i < 8; ++i) {
        connections.push_back(std::make_unique<GatewayConnection>(system_socket_api(), kShortTimeouts));
        ASSERT_EQ(connections.back()->start("127.0.0.1", port(), "demo", "demo"), 0);
    }
    std::vector<std::string> ids;
    for (auto& c : connections) {
        const GatewayResult r = c->submit("0912345678", "hello");
        ASSERT_EQ(r.status, 0);
        ids.emplace_back(r.text);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
    // An id issued on one connection can be queried on another.
    EXPECT_EQ(connections[0]->query("0912345678", ids.back()).status, 0);
}

}  // namespace
}  // namespace vrl::gateway
