// The simulator's own behaviour: what it accepts, what it refuses and how, the trace it writes,
// and its command line. Raw frames come from a bare client so that malformed ones can be sent.
#include "gateway_simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "gateway_frame.h"
#include "raw_client.h"
#include "simulator_args.h"
#include "simulator_trace.h"

namespace vrl::sim {
namespace {

using namespace std::chrono_literals;
using gateway::test::RawClient;
using Bytes = std::vector<std::uint8_t>;

Bytes frame(std::uint8_t command, std::initializer_list<std::string_view> fields) {
    gateway::GatewayRequest request;
    EXPECT_TRUE(gateway::build_request(request, static_cast<gateway::Command>(command), fields));
    return {request.bytes.begin(), request.bytes.end()};
}

Bytes login_frame(std::string_view user = "demo", std::string_view password = "demo") {
    return frame(kCommandLogin, {user, password});
}

Reply reply_of(const Bytes& bytes) {
    Reply reply;
    if (!bytes.empty()) {
        reply.status = bytes[0];
        for (std::size_t i = 1; i < bytes.size() && bytes[i] != 0; ++i) {
            reply.text.push_back(static_cast<char>(bytes[i]));
        }
    }
    return reply;
}

class SimulatorLoopback : public ::testing::Test {
protected:
    void SetUp() override { simulator_.start(); }

    Reply exchange(RawClient& client, const Bytes& bytes) {
        EXPECT_TRUE(client.send(bytes));
        return reply_of(client.receive());
    }

    std::unique_ptr<RawClient> logged_in() {
        auto client = std::make_unique<RawClient>(simulator_.port());
        EXPECT_TRUE(client->connected());
        EXPECT_EQ(exchange(*client, login_frame()).status, kStatusOk);
        return client;
    }

    GatewaySimulator simulator_;
};

TEST_F(SimulatorLoopback, RepliesAreStatusTextAndOneNul) {
    RawClient client(simulator_.port());
    ASSERT_TRUE(client.send(login_frame()));
    const Bytes reply = client.receive();
    const std::string expected = std::string(1, '\0') + std::string(kTextLoginOk) + '\0';
    EXPECT_EQ(std::string(reply.begin(), reply.end()), expected);
}

TEST_F(SimulatorLoopback, RefusesBadLoginsAndRequestsBeforeLogin) {
    RawClient client(simulator_.port());
    Reply r = exchange(client, frame(kCommandSubmit, {"0912345678", "hello", "d"}));
    EXPECT_EQ(r.status, kStatusNotLoggedIn);
    EXPECT_EQ(r.text, kTextNotLoggedIn);
    EXPECT_EQ(exchange(client, frame(kCommandQuery, {"0912345678", "1000001"})).status, kStatusNotLoggedIn);
    r = exchange(client, login_frame("demo", "nope"));
    EXPECT_EQ(r.status, kStatusBadLogin);
    EXPECT_EQ(r.text, kTextBadLogin);
    EXPECT_EQ(exchange(client, login_frame("", "")).status, kStatusBadLogin);
    EXPECT_EQ(exchange(client, login_frame()).status, kStatusOk);
    // A refused login ends the earlier one.
    EXPECT_EQ(exchange(client, login_frame("demo", "x")).status, kStatusBadLogin);
    EXPECT_EQ(exchange(client, frame(kCommandSubmit, {"0912345678", "hello", "d"})).status, kStatusNotLoggedIn);
}

TEST_F(SimulatorLoopback, RefusesUnknownIdsAndIdsOfAnotherNumber) {
    auto client = logged_in();
    const Reply sent = exchange(*client, frame(kCommandSubmit, {"0912345678", "hello", "d"}));
    ASSERT_EQ(sent.status, kStatusOk);
    EXPECT_EQ(exchange(*client, frame(kCommandQuery, {"0912345678", sent.text})).text, kStateDelivered);
    for (std::string_view id : {"999", "", "1000001x", "-1", "99999999999999999999999"}) {
        const Reply r = exchange(*client, frame(kCommandQuery, {"0912345678", id}));
        EXPECT_EQ(r.status, kStatusUnknownId) << id;
        EXPECT_EQ(r.text, kTextUnknownId);
    }
    EXPECT_EQ(exchange(*client, frame(kCommandQuery, {"0900000000", sent.text})).status, kStatusUnknownId);
}

TEST_F(SimulatorLoopback, RefusesMalformedSendTimesBadNumbersAndLongMessages) {
    auto client = logged_in();
    for (std::string_view time : {"", "2027010108300", "202701010830000", "2027010108300x", "20271301083000",
                                  "20270229083000", "20270101243000", "20270101086000", "20270100083000"}) {
        const Reply r = exchange(*client, frame(kCommandSubmit, {"0912345678", "hello", "e", time}));
        EXPECT_EQ(r.status, kStatusBadSendTime) << time;
        EXPECT_EQ(r.text, kTextBadSendTime);
    }
    EXPECT_EQ(exchange(*client, frame(kCommandSubmit, {"0912345678", "leap", "e", "20280229235959"})).status,
              kStatusOk);
    for (std::string_view number : {"", "+", "09-12", "123456789012345678901", "abc"}) {
        EXPECT_EQ(exchange(*client, frame(kCommandSubmit, {number, "hello", "d"})).status, kStatusBadMobile)
            << number;
    }
    EXPECT_EQ(exchange(*client, frame(kCommandSubmit, {"+886912345678", "hello", "d"})).status, kStatusOk);
    const std::string long_text(161, 'm');
    const Reply r = exchange(*client, frame(kCommandSubmit, {"0912345678", long_text, "d"}));
    EXPECT_EQ(r.status, kStatusMessageTooLong);
    EXPECT_EQ(r.text, kTextMessageTooLong);
}

TEST_F(SimulatorLoopback, RefusesMalformedFramesAndUnknownCommands) {
    auto client = logged_in();
    Bytes reserved = login_frame();
    reserved[0] = 1;
    Bytes unterminated = login_frame();
    unterminated[2] = static_cast<std::uint8_t>(unterminated[2] - 1);
    Bytes junk_after_body = login_frame();
    junk_after_body[200] = 'j';
    Bytes empty_body = login_frame();
    std::fill(empty_body.begin() + 2, empty_body.end(), std::uint8_t{0});
    const Bytes cases[] = {reserved,
                           unterminated,
                           junk_after_body,
                           empty_body,
                           frame(kCommandLogin, {"demo"}),
                           frame(kCommandLogin, {"demo", "demo", "x"}),
                           frame(kCommandSubmit, {"0912345678", "hello"}),
                           frame(kCommandSubmit, {"0912345678", "hello", "x"}),
                           frame(kCommandSubmit, {"0912345678", "hello", "d", "20270101083000"}),
                           frame(kCommandSubmit, {"0912345678", "hello", "e"}),
                           frame(kCommandQuery, {"0912345678"})};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Reply r = exchange(*client, cases[i]);
        EXPECT_EQ(r.status, kStatusMalformedFrame) << "case " << i;
        EXPECT_EQ(r.text, kTextMalformedFrame);
    }
    const Reply r = exchange(*client, frame(3, {"x"}));
    EXPECT_EQ(r.status, kStatusUnknownCommand);
    EXPECT_EQ(r.text, kTextUnknownCommand);
    // Still logged in and serving after all of that.
    EXPECT_EQ(exchange(*client, frame(kCommandSubmit, {"0912345678", "hello", "d"})).status, kStatusOk);
}

TEST_F(SimulatorLoopback, ReassemblesRequestsThatArriveInPieces) {
    RawClient client(simulator_.port());
    ASSERT_TRUE(client.send(login_frame(), 1, 0ms));
    EXPECT_EQ(reply_of(client.receive()).status, kStatusOk);
    // Two requests in one write, then one split over three.
    Bytes two = frame(kCommandSubmit, {"0912345678", "one", "d"});
    const Bytes second = frame(kCommandSubmit, {"0912345678", "two", "d"});
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(client.send(two));
    std::string replies;
    while (replies.size() < 16) {
        const Bytes got = client.receive();
        ASSERT_FALSE(got.empty());
        replies.append(got.begin(), got.end());
    }
    EXPECT_EQ(replies, std::string("\0" "1000001\0\0" "1000002\0", 18).substr(0, replies.size()));
    ASSERT_TRUE(client.send(frame(kCommandQuery, {"0912345678", "1000002"}), 100, 50ms));
    EXPECT_EQ(reply_of(client.receive()).text, kStateDelivered);

    const auto frames = simulator_.received();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[2].fields[1], "two");
}

TEST_F(SimulatorLoopback, StopClosesOpenConnections) {
    RawClient client(simulator_.port());
    ASSERT_TRUE(client.send(login_frame()));
    ASSERT_EQ(reply_of(client.receive()).status, kStatusOk);
    simulator_.stop();
    EXPECT_TRUE(client.closed_by_server());
    simulator_.stop();
}

TEST(SimulatorAccounts, OnlyConfiguredAccountsLogIn) {
    SimulatorOptions options;
    options.accounts = {{"alice", "s3cret"}, {"bob", ""}};
    GatewaySimulator simulator(options);
    simulator.start();
    RawClient client(simulator.port());
    auto status = [&](std::string_view user, std::string_view password) {
        EXPECT_TRUE(client.send(login_frame(user, password)));
        return reply_of(client.receive()).status;
    };
    EXPECT_EQ(status("alice", "s3cret"), kStatusOk);
    EXPECT_EQ(status("bob", ""), kStatusOk);
    EXPECT_EQ(status("demo", "demo"), kStatusBadLogin);
    EXPECT_EQ(status("alice", "s3cret "), kStatusBadLogin);
}

TEST(SimulatorTrace, WritesOneJsonLinePerFrameInEitherDirection) {
    const std::string path = testing::TempDir() + "gateway_simulator_trace.jsonl";
    {
        SimulatorOptions options;
        options.trace_path = path;
        GatewaySimulator simulator(options);
        simulator.start();
        RawClient client(simulator.port());
        ASSERT_TRUE(client.send(login_frame()));
        ASSERT_FALSE(client.receive().empty());
        ASSERT_TRUE(client.send(frame(kCommandSubmit, {"0912345678", "h\"i\xA4", "d"})));
        ASSERT_FALSE(client.receive().empty());
    }
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("{\"dir\":\"in\",\"conn\":1,\"command\":0,\"body_length\":10,\"well_formed\":true,"
                             "\"fields\":[\"demo\",\"demo\"],\"hex\":\"00000a64656d6f0064656d6f00",
                             0),
              0u);
    EXPECT_EQ(lines[1], "{\"dir\":\"out\",\"conn\":1,\"status\":0,\"text\":\"login ok\",\"hex\":\"006c6f67696e206f6b00\"}");
    EXPECT_NE(lines[2].find("\"fields\":[\"0912345678\",\"h\\\"i\\u00a4\",\"d\"]"), std::string::npos);
    EXPECT_NE(lines[3].find("\"text\":\"1000001\""), std::string::npos);
    for (const auto& line : lines) {
        EXPECT_EQ(line.back(), '}');
    }
}

TEST(SimulatorTrace, ReplyLineShowsWhatWasWritten) {
    const Bytes one = {0x05};
    EXPECT_EQ(trace_reply_line(3, one), "{\"dir\":\"out\",\"conn\":3,\"status\":5,\"text\":\"\",\"hex\":\"05\"}");
    EXPECT_EQ(trace_reply_line(3, {}), "{\"dir\":\"out\",\"conn\":3,\"hex\":\"\"}");
    EXPECT_EQ(json_string(std::string("a\\b\n\x7f", 5)), "\"a\\\\b\\u000a\\u007f\"");
}

TEST(SimulatorReply, TextIsCutToFitOneResponse) {
    const Bytes bytes = encode_reply({9, std::string(300, 't')});
    EXPECT_EQ(bytes.size(), kResponseSize);
    EXPECT_EQ(bytes.front(), 9);
    EXPECT_EQ(bytes.back(), 0);
}

TEST(SimulatorArgs, ReadsEveryOption) {
    const SimulatorCommand c = parse_simulator_args({"--address", "0.0.0.0", "--port", "7100", "--account",
                                                     "a:b:c", "--account", "x:", "--trace", "t.jsonl",
                                                     "--fault", "delay-reply=250"});
    ASSERT_EQ(c.kind, SimulatorCommand::Kind::Run) << c.error;
    EXPECT_EQ(c.options.address, "0.0.0.0");
    EXPECT_EQ(c.options.port, 7100);
    ASSERT_EQ(c.options.accounts.size(), 2u);
    EXPECT_EQ(c.options.accounts[0].user, "a");
    EXPECT_EQ(c.options.accounts[0].password, "b:c");
    EXPECT_EQ(c.options.accounts[1].password, "");
    EXPECT_EQ(c.options.trace_path, "t.jsonl");
    EXPECT_EQ(c.options.fault, FaultMode::DelayReply);
    EXPECT_EQ(c.options.fault_arg, 250);
}

TEST(SimulatorArgs, RefusesWhatItCannotUse) {
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{"--port", "65536"}, Args{"--port", "-1"}, Args{"--port", "80x"}, Args{"--port"},
                             Args{"--account", "nocolon"}, Args{"--account", ":pw"}, Args{"--fault", "bogus"},
                             Args{"--fault", "delay-reply"}, Args{"--fault", "close-after"},
                             Args{"--fault", "fixed-status=256"}, Args{"--verbose"}}) {
        EXPECT_EQ(parse_simulator_args(args).kind, SimulatorCommand::Kind::Error) << args[0];
    }
    EXPECT_EQ(parse_simulator_args({"--help"}).kind, SimulatorCommand::Kind::Help);
    const SimulatorCommand split = parse_simulator_args({"--fault", "split-reply"});
    EXPECT_EQ(split.options.fault, FaultMode::SplitReply);
    EXPECT_EQ(split.options.fault_arg, 0);
}

TEST(SimulatorArgs, ReadsTheModesThatCutOrPadReplies) {
    using Args = std::vector<std::string>;
    struct Case {
        const char* text;
        FaultMode mode;
        int arg;
        int pause;
    };
    for (const Case& c : {Case{"split-at=1", FaultMode::SplitAt, 1, 200}, Case{"split-at=128,0", FaultMode::SplitAt, 128, 0},
                          Case{"split-at=5,750", FaultMode::SplitAt, 5, 750},
                          Case{"extra-bytes=4096", FaultMode::ExtraBytes, 4096, 200},
                          Case{"stray-reply=0", FaultMode::StrayReply, 0, 200}}) {
        const SimulatorCommand command = parse_simulator_args({"--fault", c.text});
        ASSERT_EQ(command.kind, SimulatorCommand::Kind::Run) << c.text << ": " << command.error;
        EXPECT_EQ(command.options.fault, c.mode) << c.text;
        EXPECT_EQ(command.options.fault_arg, c.arg) << c.text;
        EXPECT_EQ(command.options.fault_pause_ms, c.pause) << c.text;
    }
    for (const char* bad : {"split-at", "split-at=0", "split-at=129", "split-at=5,", "split-at=5,-1", "split-at=,5",
                            "extra-bytes", "extra-bytes=0", "extra-bytes=4097", "stray-reply", "stray-reply=x"}) {
        EXPECT_EQ(parse_simulator_args(Args{"--fault", bad}).kind, SimulatorCommand::Kind::Error) << bad;
    }
}

TEST(SimulatorFaults, ReplyPiecesCarryEveryByteInOrderWithTheirDelays) {
    const Bytes reply = encode_reply({kStatusOk, "1000001"});  // 9 bytes
    auto options = [](FaultMode mode, int arg, int pause = 200) {
        SimulatorOptions o;
        o.fault = mode;
        o.fault_arg = arg;
        o.fault_pause_ms = pause;
        return o;
    };
    using std::chrono::milliseconds;
    const Bytes stray(kStrayBytes.begin(), kStrayBytes.end());

    auto pieces = reply_pieces(options(FaultMode::SplitAt, 3, 40), reply);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes, Bytes(reply.begin(), reply.begin() + 3));
    EXPECT_EQ(pieces[0].delay, milliseconds(0));
    EXPECT_EQ(pieces[1].bytes, Bytes(reply.begin() + 3, reply.end()));
    EXPECT_EQ(pieces[1].delay, milliseconds(40));
    // A cut at or past the end is the whole reply in one piece.
    pieces = reply_pieces(options(FaultMode::SplitAt, 9), reply);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].bytes, reply);

    pieces = reply_pieces(options(FaultMode::SplitReply, 0), reply);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes.size(), 4u);
    EXPECT_EQ(pieces[1].delay, milliseconds(200));

    pieces = reply_pieces(options(FaultMode::ExtraBytes, 8), reply);
    ASSERT_EQ(pieces.size(), 1u);
    Bytes padded = reply;
    padded.insert(padded.end(), stray.begin(), stray.end());
    padded.insert(padded.end(), stray.begin(), stray.begin() + 2);
    EXPECT_EQ(pieces[0].bytes, padded);

    pieces = reply_pieces(options(FaultMode::StrayReply, 70), reply);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes, reply);
    EXPECT_EQ(pieces[1].bytes, stray);
    EXPECT_EQ(pieces[1].delay, milliseconds(70));

    pieces = reply_pieces(options(FaultMode::DelayReply, 30), reply);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].delay, milliseconds(30));
    EXPECT_EQ(reply_pieces(options(FaultMode::OneByteReply, 0), reply)[0].bytes, Bytes{kStatusOk});
    EXPECT_EQ(reply_pieces(options(FaultMode::LongReply, 0), reply)[0].bytes.size(), kResponseSize);
    EXPECT_EQ(reply_pieces(options(FaultMode::None, 0), reply)[0].bytes, reply);
}

TEST(SimulatorFaults, AStrayReplyFollowsEveryReplyOnTheWire) {
    SimulatorOptions options;
    options.fault = FaultMode::StrayReply;
    GatewaySimulator simulator(options);
    simulator.start();
    RawClient client(simulator.port());
    ASSERT_TRUE(client.send(login_frame()));
    std::string got;
    const std::string expected = std::string("\0login ok\0", 10) + std::string(kStrayBytes);
    while (got.size() < expected.size()) {
        const Bytes piece = client.receive();
        ASSERT_FALSE(piece.empty()) << "after " << got.size() << " bytes";
        got.append(piece.begin(), piece.end());
    }
    EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace vrl::sim
