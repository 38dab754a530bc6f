// GatewayConnection against a real server on loopback (the simulator, in-process) and against
// socket calls made to fail on purpose: every status the connection reports, produced for real.
#include "gateway_connection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include "gateway_simulator.h"
#include "injecting_socket_api.h"
#include "scripted_socket_api.h"
#include "silent_listener.h"
#include "socket_address.h"

namespace vrl::gateway {
namespace {

using namespace std::chrono_literals;
using sim::FaultMode;
using sim::GatewaySimulator;
using sim::SimulatorOptions;
using test::InjectingSocketApi;
using test::ScriptedSocketApi;
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

    // The case's connection, to a simulator started with these options; not yet logged in.
    GatewayConnection& connection(SimulatorOptions options = {}) {
        serve(std::move(options));
        return connection_;
    }
    GatewayConnection& logged_in(SimulatorOptions options = {}) {
        GatewayConnection& c = connection(std::move(options));
        EXPECT_EQ(login(c), 0) << "the login the case starts from";
        return c;
    }

    bool balanced() const {
        return api_.count(SocketCall::Startup) - api_.count(SocketCall::Cleanup) == 0;
    }

    InjectingSocketApi api_;
    std::unique_ptr<GatewaySimulator> simulator_;
    GatewayConnection connection_{api_, kShortTimeouts};
};

TEST_F(Loopback, LoginSubmitTimedSubmitAndQueryReachTheServerAsSent) {
    GatewayConnection& c = logged_in();
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
    GatewayConnection& c = connection();
    EXPECT_EQ(c.start("127.0.0.1", port(), "demo", "wrong"), sim::kStatusBadLogin);
    EXPECT_TRUE(c.is_open());
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, sim::kStatusNotLoggedIn);
    EXPECT_EQ(r.text, sim::kTextNotLoggedIn);
}

TEST_F(Loopback, MessageOf160BytesIsSentAnd161IsRefusedWithoutTraffic) {
    GatewayConnection& c = logged_in();
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
    GatewayConnection& c = logged_in();
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
    GatewayConnection& c = logged_in();
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
    GatewayConnection& c = connection();
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
    GatewayConnection& c = logged_in();
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
    // A host name is looked up, and its address refuses too.
    EXPECT_EQ(c.start("localhost", refused_port, "demo", "demo"), kStatusConnect);
    EXPECT_EQ(api.count(SocketCall::Resolve), 1);
    EXPECT_EQ(api.count(SocketCall::Startup), api.count(SocketCall::Cleanup));
    EXPECT_EQ(api.count(SocketCall::Send), 0);
}

TEST(GatewayConnectionFailure, HostNameOver255BytesIsRefusedBeforeTheLookUp) {
    std::array<char, 256> buffer{};
    const std::string longest(255, 'h');
    ASSERT_TRUE(to_c_string(longest, buffer));
    EXPECT_EQ(std::string_view(buffer.data()), longest);
    EXPECT_FALSE(to_c_string(longest + 'h', buffer));
    InjectingSocketApi api;
    GatewayConnection c(api, kShortTimeouts);
    EXPECT_EQ(c.start(longest + 'h', "7000", "demo", "demo"), kStatusConnect);
    EXPECT_TRUE(api.connected_to().empty());
}

TEST_F(Loopback, HostNameIsResolvedAndADottedAddressIsNot) {
    GatewayConnection& c = connection();
    ASSERT_EQ(c.start("localhost", port(), "demo", "demo"), 0);
    EXPECT_EQ(api_.count(SocketCall::Resolve), 1);
    ASSERT_FALSE(api_.connected_to().empty());
    EXPECT_EQ(api_.connected_to().back().address[0], 127);
    EXPECT_EQ(c.submit("0912345678", "by name").status, 0);
    ASSERT_EQ(login(c), 0);
    EXPECT_EQ(api_.count(SocketCall::Resolve), 1);
    c.end();
    EXPECT_TRUE(balanced());
}

TEST(GatewayConnectionIpv6, AnIpv6AddressIsConnectedTo) {
    test::Ipv6Listener listener;
    ASSERT_TRUE(listener.ready()) << "no IPv6 loopback to listen on";
    InjectingSocketApi api;
    GatewayConnection c(api, GatewayTimeouts{std::chrono::milliseconds(2000), std::chrono::milliseconds(200)});
    // The listener never answers: connected and sent, then no reply.
    EXPECT_EQ(c.start("::1", std::to_string(listener.port()), "demo", "demo"), kStatusReceive);
    ASSERT_EQ(api.connected_to().size(), 1u);
    EXPECT_EQ(api.connected_to()[0].family, AddressFamily::IPv6);
    EXPECT_EQ(api.connected_to()[0].address[15], 1);
    EXPECT_EQ(api.count(SocketCall::Send), 1);
    EXPECT_EQ(api.count(SocketCall::Startup), api.count(SocketCall::Cleanup));
}

TEST(GatewayConnectionIpv6, LookUpResultsOfEitherFamilyBecomeEndpointsInOrderUpToTheLimit) {
    // ::1 in zone 3, an IPv6 entry too short for its address, a Unix socket, then 10.0.0.1 to
    // 10.0.0.20: the first and the IPv4 ones are usable, and only the first 16 fit.
    constexpr std::size_t kEntries = 23;
    std::array<sockaddr_storage, kEntries> addresses{};
    std::array<addrinfo, kEntries> found{};
    for (std::size_t i = 0; i < kEntries; ++i) {
        found[i].ai_addr = reinterpret_cast<sockaddr*>(&addresses[i]);
        found[i].ai_next = i + 1 < kEntries ? &found[i + 1] : nullptr;
        found[i].ai_family = i == 2 ? AF_UNIX : i < 2 ? AF_INET6 : AF_INET;
        found[i].ai_addrlen = i == 0 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (i == 0) {
            sockaddr_in6 v6{};
            v6.sin6_addr.s6_addr[15] = 1;
            v6.sin6_scope_id = 3;
            std::memcpy(&addresses[i], &v6, sizeof v6);
        } else if (i > 2) {
            sockaddr_in v4{};
            const std::array<std::uint8_t, 4> ip{10, 0, 0, static_cast<std::uint8_t>(i - 2)};
            std::memcpy(&v4.sin_addr, ip.data(), ip.size());
            std::memcpy(&addresses[i], &v4, sizeof v4);
        }
    }
    Endpoints out;
    to_endpoints(found.data(), host_to_net16(7000), out);
    ASSERT_EQ(out.count, kMaxEndpoints);
    EXPECT_EQ(out.items[0].family, AddressFamily::IPv6);
    EXPECT_EQ(out.items[0].address[15], 1);
    EXPECT_EQ(out.items[0].scope_id, 3u);
    for (std::size_t i = 1; i < kMaxEndpoints; ++i) {
        EXPECT_EQ(out.items[i].family, AddressFamily::IPv4) << i;
        EXPECT_EQ(out.items[i].address, (std::array<std::uint8_t, 16>{10, 0, 0, static_cast<std::uint8_t>(i)})) << i;
    }
    EXPECT_TRUE(std::all_of(out.items.begin(), out.items.end(),
                            [](const Endpoint& e) { return e.port == host_to_net16(7000); }));
}

TEST_F(Loopback, ReceiveThatCannotBeBoundedInTimeFailsTheStartAsMinusThree) {
    GatewayConnection& c = connection();
    api_.fail(SocketCall::SetReceiveTimeout);
    EXPECT_EQ(login(c), kStatusConnect);
    EXPECT_FALSE(c.is_open());
    EXPECT_EQ(api_.count(SocketCall::Send), 0);
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, PortTextIsReadAsAtoiReadsIt) {
    GatewayConnection& c = connection();
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
    GatewayConnection& c = connection();
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
    GatewayConnection& c = connection();
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
    GatewayConnection& c = connection();
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
    GatewayConnection& c = connection(with_fault(FaultMode::CloseAfter, 0));
    EXPECT_EQ(login(c), kStatusReceive);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(Loopback, ServerClosingOnAcceptGivesMinusFive) {
    GatewayConnection& c = connection(with_fault(FaultMode::CloseOnAccept));
    EXPECT_EQ(login(c), kStatusReceive);
    EXPECT_FALSE(c.is_open());
    EXPECT_TRUE(balanced());
}

TEST_F(Loopback, ServerClosingBeforeASubmitAnswerGivesMinusFiveAndItsText) {
    GatewayConnection& c = logged_in(with_fault(FaultMode::CloseAfter, 1));
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
    GatewayConnection& c = logged_in(with_fault(FaultMode::DelayReply, 200));
    EXPECT_EQ(c.submit("0912345678", "slow").status, 0);
}

TEST(GatewayConnectionTimeout, ConnectThatNeverCompletesGivesMinusThreeAfterTheTimeOut) {
    test::SilentListener silent;
    // Without a listener that stays silent there is no connect time-out to test: that is a failure.
    ASSERT_TRUE(silent.ready()) << "this platform answers connects to a full accept queue";
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
    GatewayConnection& c = connection(with_fault(FaultMode::FixedStatus, 0xC8));
    EXPECT_EQ(login(c), 200);
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.text, std::to_string(sim::kFirstMessageId));
}

TEST_F(Loopback, ServerStatus80IsToldApartFromTheLocalRefusalByItsText) {
    GatewayConnection& c = connection(with_fault(FaultMode::FixedStatus, 80));
    ASSERT_EQ(login(c), 80);
    const GatewayResult server = c.submit("0912345678", "hello");
    EXPECT_EQ(server.status, 80);
    EXPECT_NE(server.text, kTextMessageTooLong);
    EXPECT_TRUE(c.is_open());
}

TEST_F(Loopback, OneByteReplyIsAStatusWithAnEmptyText) {
    GatewayConnection& c = logged_in(with_fault(FaultMode::OneByteReply));
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.text, "");
}

TEST_F(Loopback, ReplyOf129BytesWithoutNulGivesA128ByteText) {
    GatewayConnection& c = logged_in(with_fault(FaultMode::LongReply));
    const GatewayResult r = c.submit("0912345678", "hello");
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.text.size(), 128u);
    EXPECT_EQ(r.text.substr(0, 7), std::to_string(sim::kFirstMessageId));
}

TEST_F(Loopback, RepliesWrittenInPiecesOrFollowedByStrayBytesAreReadWhole) {
    struct Fault {
        FaultMode mode;
        int arg;
    };
    // "\0login ok\0" as "\0logi" and "n ok\0", every id as its status byte and the rest; or each
    // reply followed in the same write by "*junk\0", or by 4096 such bytes.
    for (const Fault f : {Fault{FaultMode::SplitAt, 1}, Fault{FaultMode::SplitAt, 5}, Fault{FaultMode::ExtraBytes, 6},
                          Fault{FaultMode::ExtraBytes, 4096}}) {
        SimulatorOptions options = with_fault(f.mode, f.arg);
        options.fault_pause_ms = 20;
        serve(options);
        const std::string label = std::string(sim::fault_mode_name(f.mode)) + "=" + std::to_string(f.arg);
        GatewayConnection c(api_, kShortTimeouts);
        ASSERT_EQ(login(c), 0) << label;
        const GatewayResult r = c.submit("0912345678", "hello");
        EXPECT_EQ(r.status, 0) << label;
        EXPECT_EQ(r.text, std::to_string(sim::kFirstMessageId)) << label;
        EXPECT_EQ(c.query("0912345678", std::to_string(sim::kFirstMessageId)).text, sim::kStateDelivered) << label;
        EXPECT_EQ(received().size(), 3u) << label;
    }
}

TEST_F(Loopback, AStrayReplyThatArrivesBetweenCallsIsDropped) {
    GatewayConnection& c = logged_in(with_fault(FaultMode::StrayReply, 20));
    for (int i = 0; i < 3; ++i) {
        // The stray "*junk" follows each reply. Wait until it is waiting (unless it came in the
        // same read as the reply, and was dropped then): the next call must skip it.
        system_socket_api().wait_readable(api_.last_socket(), 2s);
        const GatewayResult r = c.submit("0912345678", "hello");
        EXPECT_EQ(r.status, 0) << i;
        EXPECT_EQ(r.text, std::to_string(sim::kFirstMessageId + static_cast<unsigned>(i))) << i;
    }
    EXPECT_EQ(received().size(), 4u);
}

TEST_F(Loopback, FailureRunsTheEndHookOnce) {
    GatewayConnection& c = connection(with_fault(FaultMode::CloseAfter, 1));
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


// A hostile gateway, played deterministically through the scripted socket layer: every reply cut
// at every offset, dribbled, padded, followed by strays, closed part-way, or never finished. Each
// case checks the call's result, the next call's, one request per call, nothing sent after the
// gateway closed, and the time the call took on the scripted clock.
namespace hostile {

using Bytes = ScriptedSocketApi::Bytes;
using Ms = std::chrono::milliseconds;
using Answer = ScriptedSocketApi::Answer;

Bytes bytes_of(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes prefix(const Bytes& bytes, std::size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes suffix(const Bytes& bytes, std::size_t from) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
}

Bytes joined(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kLoginOk = bytes_of(std::string_view("\0login ok\0", 10));
const Bytes kOwnReply = bytes_of(std::string_view("\0MID2\0", 6));
const Bytes kStray = bytes_of(std::string_view("*junk\0", 6));

struct Kind {
    std::string name;
    Bytes reply;
    bool is_login() const { return name == "login"; }
};

std::vector<Kind> kinds() {
    Bytes long_reply(kResponseSize, 'x');
    long_reply[0] = 9;
    return {{"login", kLoginOk},
            {"submit", bytes_of(std::string_view("\0" "1000001\0", 9))},
            {"query", bytes_of(std::string_view("\0SCHEDULED 20270101083000\0", 26))},
            {"one byte", Bytes{5}},
            {"129 bytes without NUL", long_reply}};
}

// The status and text a caller must see for a reply that arrived as these bytes.
void expect_reading(const GatewayResult& r, const Kind& kind, const Bytes& reply, const std::string& label) {
    EXPECT_EQ(r.status, reply[0]) << label;
    if (!kind.is_login()) {
        std::string text;
        for (std::size_t i = 1; i < reply.size() && reply[i] != 0; ++i) {
            text.push_back(static_cast<char>(reply[i]));
        }
        EXPECT_EQ(r.text, text) << label;
    }
}

// One connection to a scripted gateway.
class Gateway {
public:
    Ms took() const { return took_; }

    std::int32_t start(Answer login = {ScriptedSocketApi::piece(Ms(1), kLoginOk)}) {
        api.answer(std::move(login));
        return connection.start("127.0.0.1", "7000", "demo", "demo");
    }

    // The operation of a kind, answered as scripted; took() is the time it took.
    GatewayResult call(const Kind& kind, Answer answer) {
        if (!kind.is_login()) {
            EXPECT_EQ(start(), 0);
        }
        api.answer(std::move(answer));
        const auto before = api.now();
        GatewayResult r{};
        if (kind.is_login()) {
            r.status = connection.start("127.0.0.1", "7000", "demo", "demo");
        } else if (kind.name == "query") {
            r = connection.query("0912345678", "1000001");
        } else {
            r = connection.submit("0912345678", "hello");
        }
        took_ = api.elapsed_since(before);
        return r;
    }

    // The next call, answered at once with its own reply, gets exactly that reply.
    void expect_next_in_step(const std::string& label) {
        const std::size_t requests = api.requests().size();
        api.answer({ScriptedSocketApi::piece(Ms(3), kOwnReply)});
        const GatewayResult next = connection.submit("0912345678", "next");
        EXPECT_EQ(next.status, 0) << label;
        EXPECT_EQ(next.text, "MID2") << label;
        EXPECT_EQ(api.requests().size(), requests + 1) << label;
        EXPECT_EQ(api.bytes_sent_after_close(), 0u) << label;
    }

    // The gateway has closed: the next call sends nothing, reports a send error and ends.
    void expect_next_refused(const std::string& label) {
        const std::size_t requests = api.requests().size();
        const GatewayResult next = connection.submit("0912345678", "next");
        EXPECT_EQ(next.status, kStatusSend) << label;
        EXPECT_EQ(next.text, kTextSendError) << label;
        EXPECT_EQ(api.requests().size(), requests) << label;
        EXPECT_EQ(api.bytes_sent_after_close(), 0u) << label;
        EXPECT_FALSE(connection.is_open()) << label;
        EXPECT_TRUE(api.balanced()) << label;
    }

    ScriptedSocketApi api;
    GatewayConnection connection{api};

private:
    Ms took_{0};
};

constexpr auto piece = &ScriptedSocketApi::piece;
constexpr auto closing = &ScriptedSocketApi::closing;

bool whole(const Bytes& received) {
    GatewayResponse response;
    std::copy_n(received.begin(), std::min(received.size(), response.bytes.size()), response.bytes.begin());
    return response_complete(response, received.size());
}

TEST(HostileGateway, ReplyCutInTwoAtEveryOffsetIsReadWhole) {
    for (const Kind& kind : kinds()) {
        for (std::size_t at = 1; at < kind.reply.size(); ++at) {
            const std::string label = kind.name + " cut at " + std::to_string(at);
            Gateway g;
            const GatewayResult r = g.call(kind, {piece(Ms(2), prefix(kind.reply, at)),
                                                  piece(Ms(499), suffix(kind.reply, at))});
            expect_reading(r, kind, kind.reply, label);
            EXPECT_EQ(g.took(), Ms(501)) << label;  // no wait beyond the reply's last byte
            g.expect_next_in_step(label);
        }
    }
}

TEST(HostileGateway, RestOfAReplyLaterThanTheGraceIsDroppedBeforeTheNextRequest) {
    for (const Kind& kind : kinds()) {
        for (std::size_t at = 1; at < kind.reply.size(); ++at) {
            const std::string label = kind.name + " cut at " + std::to_string(at);
            Gateway g;
            const Bytes head = prefix(kind.reply, at);
            const GatewayResult r = g.call(kind, {piece(Ms(2), head), piece(Ms(501), suffix(kind.reply, at))});
            expect_reading(r, kind, head, label);
            EXPECT_EQ(g.took(), Ms(2) + kReplyGrace) << label;
            g.api.idle(Ms(10));
            g.expect_next_in_step(label);
        }
    }
}

TEST(HostileGateway, ReplyDribbledOneByteAtATimeIsReadWhole) {
    for (const Kind& kind : kinds()) {
        Answer dribble;
        for (std::uint8_t b : kind.reply) {
            dribble.push_back(piece(Ms(400), {b}));
        }
        Gateway g;
        const GatewayResult r = g.call(kind, dribble);
        expect_reading(r, kind, kind.reply, kind.name);
        const Ms whole = Ms(400) * static_cast<int>(kind.reply.size());
        // A reply that is whole ends the call with its last byte; the 1-byte reply after the grace.
        EXPECT_EQ(g.took(), kind.reply.size() == 1 ? whole + kReplyGrace : whole) << kind.name;
        g.expect_next_in_step(kind.name);
    }
}

TEST(HostileGateway, OneByteReplyIsAnsweredAfterTheGraceAnd129BytesAtOnce) {
    const auto all = kinds();
    Gateway one;
    expect_reading(one.call(all[3], {piece(Ms(7), {5})}), all[3], Bytes{5}, "one byte");
    EXPECT_EQ(one.took(), Ms(7) + kReplyGrace);
    EXPECT_EQ(kReplyGrace, Ms(500));
    Gateway full;
    expect_reading(full.call(all[4], {piece(Ms(7), all[4].reply)}), all[4], all[4].reply, "129 bytes");
    EXPECT_EQ(full.took(), Ms(7));
}

TEST(HostileGateway, ReplyIsNeverAwaitedPastTheReceiveLimit) {
    const auto all = kinds();
    for (const Kind& kind : {all[1], all[4]}) {
        // The first byte just before the limit, the rest after it: the call ends at the limit.
        Gateway g;
        const GatewayResult r = g.call(kind, {piece(Ms(59'800), prefix(kind.reply, 1)),
                                              piece(Ms(400), suffix(kind.reply, 1))});
        expect_reading(r, kind, prefix(kind.reply, 1), kind.name);
        EXPECT_EQ(g.took(), Ms(60'000)) << kind.name;
        g.api.idle(Ms(1000));
        g.expect_next_in_step(kind.name);
    }
}

TEST(HostileGateway, ExcessBytesInTheSameReadAreDropped) {
    for (const Kind& kind : kinds()) {
        if (kind.reply.size() == 1) {
            continue;  // a status byte followed at once by more is no 1-byte reply
        }
        for (const Bytes& excess : {kStray, Bytes(300, '!')}) {
            const std::string label = kind.name + " and " + std::to_string(excess.size()) + " bytes more";
            Gateway g;
            const GatewayResult r = g.call(kind, {piece(Ms(4), joined(kind.reply, excess))});
            expect_reading(r, kind, kind.reply, label);
            EXPECT_EQ(g.took(), Ms(4)) << label;
            g.expect_next_in_step(label);
        }
    }
}

TEST(HostileGateway, StrayBytesArrivingLaterAreDropped) {
    for (const Kind& kind : kinds()) {
        for (const Bytes& stray : {kStray, Bytes{42}, Bytes(5000, 'j')}) {
            const std::string label = kind.name + " then " + std::to_string(stray.size()) + " stray bytes";
            Gateway g;
            const GatewayResult r = g.call(kind, {piece(Ms(4), kind.reply), piece(Ms(1000), stray)});
            expect_reading(r, kind, kind.reply, label);
            g.api.idle(Ms(2000));
            g.expect_next_in_step(label);
        }
    }
}

TEST(HostileGateway, GatewayClosingAtEveryOffsetGetsNoFurtherRequest) {
    for (const Kind& kind : kinds()) {
        for (std::size_t at = 0; at <= kind.reply.size(); ++at) {
            const std::string label = kind.name + " closed after " + std::to_string(at);
            Gateway g;
            const Bytes head = prefix(kind.reply, at);
            Answer answer;
            if (at > 0) {
                answer.push_back(piece(Ms(2), head));
            }
            answer.push_back(closing(Ms(5)));
            const GatewayResult r = g.call(kind, answer);
            if (at == 0) {
                EXPECT_EQ(r.status, kStatusReceive) << label;
                EXPECT_FALSE(g.connection.is_open()) << label;
            } else {
                expect_reading(r, kind, head, label);
                // The close ends a reply that was not yet whole; a whole one ended the call before.
                EXPECT_EQ(g.took(), whole(head) ? Ms(2) : Ms(7)) << label;
            }
            g.api.idle(Ms(10));
            g.expect_next_refused(label);
        }
    }
}

TEST(HostileGateway, GatewayFloodingBytesUnaskedIsTreatedAsClosed) {
    const auto all = kinds();
    for (const std::size_t flood : {kMaxDroppedBytes, kMaxDroppedBytes + kResponseSize + 1}) {
        const std::string label = std::to_string(flood) + " bytes unasked";
        Gateway g;
        g.call(all[1], {piece(Ms(1), all[1].reply), piece(Ms(1000), Bytes(flood, '!'))});
        g.api.idle(Ms(2000));
        if (flood <= kMaxDroppedBytes) {
            g.expect_next_in_step(label);
        } else {
            g.expect_next_refused(label);
        }
    }
}

TEST(HostileGateway, SilentGatewayTimesOutAtTheReceiveLimit) {
    for (const Kind& kind : kinds()) {
        Gateway g;
        const GatewayResult r = g.call(kind, {});
        EXPECT_EQ(r.status, kStatusReceive) << kind.name;
        EXPECT_EQ(g.took(), Ms(60'000)) << kind.name;
        EXPECT_FALSE(g.connection.is_open()) << kind.name;
        EXPECT_TRUE(g.api.balanced()) << kind.name;
        // A part of a reply and then silence: that part, after the grace.
        Gateway partial;
        const GatewayResult p = partial.call(kind, {piece(Ms(3), prefix(kind.reply, 1))});
        expect_reading(p, kind, prefix(kind.reply, 1), kind.name);
        EXPECT_EQ(partial.took(), Ms(3) + kReplyGrace) << kind.name;
    }
}

TEST(HostileGateway, HostNameAddressesAreTriedInOrderWithinTheConnectLimit) {
    Endpoint v6;
    v6.family = AddressFamily::IPv6;
    v6.address[15] = 1;
    const Endpoint first_v4 = ipv4_endpoint(0x0100000A, 0);
    const Endpoint second_v4 = ipv4_endpoint(0x0200000A, 0);
    {
        Gateway g;
        g.api.resolves_to({v6, first_v4, second_v4});
        g.api.refuse_connect(Ms(20'000));
        g.api.answer({piece(Ms(1), kLoginOk)});
        EXPECT_EQ(g.connection.start("gateway.example", "7000", "demo", "demo"), 0);
        ASSERT_EQ(g.api.connect_attempts().size(), 2u);
        EXPECT_EQ(g.api.connect_attempts()[0].family, AddressFamily::IPv6);
        EXPECT_EQ(g.api.connect_attempts()[1].address, first_v4.address);
        EXPECT_EQ(g.api.connect_attempts()[1].port, host_to_net16(7000));
        EXPECT_EQ(g.api.connect_timeouts(), (std::vector<Ms>{Ms(30'000), Ms(10'000)}));
        g.expect_next_in_step("by name");
    }
    {
        // The limit runs out on the second address: the third is never tried.
        Gateway g;
        g.api.resolves_to({v6, first_v4, second_v4});
        g.api.refuse_connect(Ms(20'000));
        g.api.refuse_connect(Ms(15'000));
        EXPECT_EQ(g.connection.start("gateway.example", "7000", "demo", "demo"), kStatusConnect);
        EXPECT_EQ(g.api.connect_attempts().size(), 2u);
        EXPECT_TRUE(g.api.requests().empty());
        EXPECT_TRUE(g.api.balanced());
    }
    {
        Gateway g;
        EXPECT_EQ(g.connection.start("no.such.name", "7000", "demo", "demo"), kStatusConnect);
        EXPECT_TRUE(g.api.connect_attempts().empty());
        EXPECT_TRUE(g.api.balanced());
        // A dotted address is not looked up: the scripted resolver knows no name at all.
        g.api.answer({piece(Ms(1), kLoginOk)});
        EXPECT_EQ(g.connection.start("127.0.0.1", "7000", "demo", "demo"), 0);
    }
}

TEST(HostileGateway, TimeLimitsOfZeroOrLessAreRefusedBeforeTheNetwork) {
    for (const GatewayTimeouts t : {GatewayTimeouts{Ms(0), Ms(60'000)}, GatewayTimeouts{Ms(30'000), Ms(0)},
                                    GatewayTimeouts{Ms(-1), Ms(-1)}}) {
        ScriptedSocketApi api;
        GatewayConnection c(api, t);
        api.answer({piece(Ms(1), kLoginOk)});
        EXPECT_EQ(c.start("127.0.0.1", "7000", "demo", "demo"), kStatusConnect);
        EXPECT_TRUE(api.connect_attempts().empty());
        EXPECT_TRUE(api.requests().empty());
        EXPECT_FALSE(c.is_open());
    }
}

}  // namespace hostile

}  // namespace
}  // namespace vrl::gateway
