// The simulator's own behaviour: what it accepts, what it refuses and how, the trace it writes,
// and its command line. Raw frames come from a bare client so that malformed ones can be sent.
#include "gateway_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#ifdef __linux__
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <thread>
#endif

#include "gateway_frame.h"
#include "raw_client.h"
#include "simulator_args.h"
#include "simulator_messages.h"
#include "simulator_trace.h"
#include "simulator_trace_writer.h"

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

    GatewaySimulator simulator_{with_history()};
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

TEST_F(SimulatorLoopback, ReceivedNeedsHistoryToBeAskedFor) {
    GatewaySimulator plain;
    plain.start();
    EXPECT_THROW(plain.received(), std::logic_error);
    EXPECT_TRUE(simulator_.received().empty());
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

std::vector<std::string> read_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    in.close();
    std::remove(path.c_str());
    return lines;
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
    const std::vector<std::string> lines = read_lines(path);
    ASSERT_EQ(lines.size(), 4u);
    // The password is masked in the fields and in the bytes, its terminator kept.
    EXPECT_EQ(lines[0].rfind("{\"dir\":\"in\",\"conn\":1,\"command\":0,\"body_length\":10,\"well_formed\":true,"
                             "\"fields\":[\"demo\",\"***\"],\"hex\":\"00000a64656d6f002a2a2a2a000000",
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
    const ReplyPiece whole[] = {{one, 0ms}};
    EXPECT_EQ(trace_reply_line(3, one, whole, true),
              "{\"dir\":\"out\",\"conn\":3,\"status\":5,\"text\":\"\",\"hex\":\"05\"}");
    EXPECT_EQ(trace_reply_line(3, {}, {}, false), "{\"dir\":\"out\",\"conn\":3,\"hex\":\"\",\"complete\":false}");
    const Bytes ok = {0x00, 'o', 'k', 0x00};
    const ReplyPiece cut[] = {{{0x00}, 0ms}, {{'o', 'k', 0x00}, 40ms}};
    EXPECT_EQ(trace_reply_line(4, ok, cut, true),
              "{\"dir\":\"out\",\"conn\":4,\"status\":0,\"text\":\"ok\",\"hex\":\"006f6b00\","
              "\"pieces\":[{\"bytes\":1,\"delay_ms\":0},{\"bytes\":3,\"delay_ms\":40}]}");
    const ReplyPiece late[] = {{ok, 250ms}};
    EXPECT_NE(trace_reply_line(4, ok, late, true).find("\"pieces\":[{\"bytes\":4,\"delay_ms\":250}]"),
              std::string::npos);
    EXPECT_EQ(json_string(std::string("a\\b\n\x7f", 5)), "\"a\\\\b\\u000a\\u007f\"");
}

TEST(SimulatorTrace, MasksEveryLoginFieldAfterTheUserUnlessAskedNotTo) {
    const Bytes login = frame(kCommandLogin, {"alice", "pa\x01ss"});
    const ReceivedFrame decoded = decode_request(std::span<const std::uint8_t, kRequestSize>(login.data(), kRequestSize), 2);
    const std::string masked = trace_request_line(decoded, true);
    EXPECT_NE(masked.find("\"fields\":[\"alice\",\"***\"]"), std::string::npos) << masked;
    EXPECT_NE(masked.find("\"hex\":\"00000c616c696365002a2a2a2a2a00000000"), std::string::npos) << masked;
    EXPECT_EQ(masked.find("pa"), std::string::npos);
    const std::string secret = trace_request_line(decoded, false);
    EXPECT_NE(secret.find("\"fields\":[\"alice\",\"pa\\u0001ss\"]"), std::string::npos) << secret;
    EXPECT_NE(secret.find("616c6963650070610173730000"), std::string::npos) << secret;
    // A login with extra fields is masked after the user as well; other commands never are.
    const Bytes three = frame(kCommandLogin, {"u", "p", "q"});
    EXPECT_NE(trace_request_line(decode_request(std::span<const std::uint8_t, kRequestSize>(three.data(), kRequestSize), 1), true)
                  .find("[\"u\",\"***\",\"***\"]"),
              std::string::npos);
    const Bytes submit = frame(kCommandSubmit, {"0912", "secret-looking", "d"});
    EXPECT_NE(trace_request_line(decode_request(std::span<const std::uint8_t, kRequestSize>(submit.data(), kRequestSize), 1), true)
                  .find("secret-looking"),
              std::string::npos);
}

// One line per reply, written once the whole reply is out, with the pieces a fault mode cut it
// into and their delays; its bytes are exactly what the client received.
TEST(SimulatorTrace, EveryShapedReplyIsOneLineWithItsPieces) {
    struct Case {
        FaultMode mode;
        int arg;
        int pause;
        std::string hex;     // every byte the client receives
        std::string pieces;  // the line's pieces, empty when the reply went out whole and at once
    };
    const std::string login_ok = "006c6f67696e206f6b00";
    const Case cases[] = {
        {FaultMode::None, 0, 0, login_ok, ""},
        {FaultMode::SplitReply, 20, 0, login_ok, R"([{"bytes":5,"delay_ms":0},{"bytes":5,"delay_ms":20}])"},
        {FaultMode::SplitAt, 3, 10, login_ok, R"([{"bytes":3,"delay_ms":0},{"bytes":7,"delay_ms":10}])"},
        {FaultMode::DelayReply, 10, 0, login_ok, R"([{"bytes":10,"delay_ms":10}])"},
        {FaultMode::ExtraBytes, 4, 0, login_ok + "2a6a756e", ""},
        {FaultMode::StrayReply, 10, 0, login_ok + "2a6a756e6b00", R"([{"bytes":10,"delay_ms":0},{"bytes":6,"delay_ms":10}])"},
        {FaultMode::OneByteReply, 0, 0, "00", ""},
    };
    for (const Case& c : cases) {
        const std::string name = fault_mode_name(c.mode);
        const std::string path = testing::TempDir() + "gateway_simulator_shaped.jsonl";
        std::string received;
        {
            SimulatorOptions options;
            options.trace_path = path;
            options.fault = c.mode;
            options.fault_arg = c.arg;
            options.fault_pause_ms = c.pause;
            GatewaySimulator simulator(options);
            simulator.start();
            RawClient client(simulator.port());
            ASSERT_TRUE(client.send(login_frame())) << name;
            while (received.size() < c.hex.size() / 2) {
                const Bytes got = client.receive();
                ASSERT_FALSE(got.empty()) << name << " after " << received.size() << " bytes";
                received.append(got.begin(), got.end());
            }
        }
        EXPECT_EQ(hex_bytes(Bytes(received.begin(), received.end())), c.hex) << name;
        const std::vector<std::string> lines = read_lines(path);
        ASSERT_EQ(lines.size(), 2u) << name;
        const std::string text = c.mode == FaultMode::OneByteReply ? "" : "login ok";
        std::string expected = R"({"dir":"out","conn":1,"status":0,"text":")" + text + R"(","hex":")" + c.hex + "\"";
        if (!c.pieces.empty()) {
            expected += R"(,"pieces":)" + c.pieces;
        }
        EXPECT_EQ(lines[1], expected + "}") << name;
    }
}

#ifdef __linux__
// A client that sends and never reads: once the replies (padded to 4 KB each, so that the
// server's send buffer fills after a few hundred) have filled the socket buffers, the server's
// write waits and stops reading; only the idle deadline on the write can end the session. The
// client's blocked send then fails with a reset. It gives up after 10 s, fifty times the deadline.
TEST(SimulatorLimits, IdleDeadlineClosesAClientThatDoesNotRead) {
    SimulatorOptions options;
    options.idle_timeout = 200ms;
    options.fault = FaultMode::ExtraBytes;
    options.fault_arg = 4096;
    GatewaySimulator simulator(options);
    simulator.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const timeval give_up{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &give_up, sizeof give_up);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(simulator.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const Bytes login = login_frame();
    int error = 0;
    for (int i = 0; i < 100'000 && error == 0; ++i) {
        if (::send(fd, login.data(), login.size(), MSG_NOSIGNAL) < 0) {
            error = errno;
        }
    }
    ::close(fd);
    EXPECT_TRUE(error == ECONNRESET || error == EPIPE) << "send: " << std::strerror(error);
}

// A trace file that is not read (a pipe nobody drains) stops the writer; lines beyond the queue's
// bound are dropped and counted, never held without bound, and every line is either written or
// counted in a {"dropped":N} line.
TEST(SimulatorTrace, LinesBeyondTheQueueAreDroppedAndCounted) {
    const std::string path = testing::TempDir() + "gateway_simulator_trace.fifo";
    std::remove(path.c_str());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    constexpr int kLines = 1000;
    std::string trace;
    {
        auto writer = std::make_unique<TraceWriter>(path, 8 * 1024);
        for (int i = 0; i < kLines; ++i) {
            writer->write("{\"line\":" + std::to_string(i) + ",\"pad\":\"" + std::string(1000, 'p') + "\"}");
        }
        // Only now is the pipe read, while the writer finishes.
        ::fcntl(reader, F_SETFL, 0);
        std::thread drain([&trace, reader] {
            char buffer[65536];
            for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) {
                trace.append(buffer, static_cast<std::size_t>(n));
            }
        });
        writer.reset();
        drain.join();
    }
    ::close(reader);
    std::remove(path.c_str());
    long written = 0;
    long dropped = 0;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("{\"dropped\":", 0) == 0) {
            dropped += std::stol(line.substr(11));
        } else {
            ++written;
        }
    }
    // The pipe holds 64 KB and the queue 8 KB: most of the 1 MB must have been dropped.
    EXPECT_GT(dropped, kLines / 2);
    EXPECT_EQ(written + dropped, kLines);
}

// /dev/full fails every write: the failure is reported once, and the server goes on serving.
TEST(SimulatorTrace, AFailedWriteEndsTheTraceNotTheServer) {
    SimulatorOptions options;
    options.trace_path = "/dev/full";
    testing::internal::CaptureStderr();
    {
        GatewaySimulator simulator(options);
        simulator.start();
        for (int i = 0; i < 3; ++i) {
            RawClient client(simulator.port());
            ASSERT_TRUE(client.send(login_frame()));
            EXPECT_EQ(reply_of(client.receive()).status, kStatusOk) << "client " << i;
        }
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(errors.find("writing the trace file /dev/full failed"), std::string::npos) << errors;
}
#endif

TEST(SimulatorMessages, TheTableKeepsTheNewestAndEvictsTheOldest) {
    MessageTable table(3);
    EXPECT_EQ(table.add("0912345678", ""), kFirstMessageId);
    EXPECT_EQ(table.add("+88691234567890123456", "20270101083000"), kFirstMessageId + 1);
    EXPECT_EQ(table.state(kFirstMessageId, "0912345678"), std::string(kStateDelivered));
    EXPECT_EQ(table.state(kFirstMessageId + 1, "+88691234567890123456"), "SCHEDULED 20270101083000");
    EXPECT_EQ(table.state(kFirstMessageId, "0912345679"), std::nullopt);
    EXPECT_EQ(table.state(kFirstMessageId + 2, "0912345678"), std::nullopt);
    EXPECT_EQ(table.add("1", ""), kFirstMessageId + 2);
    EXPECT_EQ(table.add("2", ""), kFirstMessageId + 3);
    EXPECT_EQ(table.size(), 3u);
    EXPECT_EQ(table.state(kFirstMessageId, "0912345678"), std::nullopt);
    EXPECT_EQ(table.state(kFirstMessageId + 1, "+88691234567890123456"), "SCHEDULED 20270101083000");
    EXPECT_EQ(table.state(kFirstMessageId + 3, "2"), std::string(kStateDelivered));
    EXPECT_EQ(table.state(0, "2"), std::nullopt);
    EXPECT_EQ(table.state(UINT64_MAX, "2"), std::nullopt);
}

TEST(SimulatorLimits, SessionsBeyondTheLimitAreClosedAtOnce) {
    SimulatorOptions options;
    options.max_sessions = 1;
    GatewaySimulator simulator(options);
    simulator.start();
    RawClient first(simulator.port());
    ASSERT_TRUE(first.send(login_frame()));
    ASSERT_EQ(reply_of(first.receive()).status, kStatusOk);
    RawClient second(simulator.port());
    EXPECT_TRUE(second.closed_by_server());
    ASSERT_TRUE(first.send(frame(kCommandSubmit, {"0912345678", "still served", "d"})));
    EXPECT_EQ(reply_of(first.receive()).status, kStatusOk);
    EXPECT_EQ(simulator.connections(), 2u);
}

// Each case waits for the server's close for at most 5 s, far beyond the 100 ms deadline.
TEST(SimulatorLimits, IdleDeadlineClosesSilentAndStuckClients) {
    SimulatorOptions options;
    options.idle_timeout = 100ms;
    GatewaySimulator simulator(options);
    simulator.start();
    RawClient silent(simulator.port());
    EXPECT_TRUE(silent.closed_by_server());
    // Half a request, then nothing: the deadline covers the whole frame, not each byte.
    RawClient stuck(simulator.port());
    const Bytes login = login_frame();
    ASSERT_TRUE(stuck.send(std::span(login).first(100)));
    EXPECT_TRUE(stuck.closed_by_server());
    // A served client is answered first; its deadline starts again with the next request.
    RawClient served(simulator.port());
    ASSERT_TRUE(served.send(login));
    EXPECT_EQ(reply_of(served.receive()).status, kStatusOk);
    EXPECT_TRUE(served.closed_by_server());
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
                                                     "--trace-secrets", "--max-sessions", "5", "--idle-timeout",
                                                     "1500", "--fault", "delay-reply=250"});
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
    EXPECT_TRUE(c.options.trace_secrets);
    EXPECT_EQ(c.options.max_sessions, 5u);
    EXPECT_EQ(c.options.idle_timeout, 1500ms);
    const SimulatorCommand defaults = parse_simulator_args({});
    EXPECT_FALSE(defaults.options.trace_secrets);
    EXPECT_EQ(defaults.options.max_sessions, kDefaultMaxSessions);
    EXPECT_EQ(defaults.options.idle_timeout, std::chrono::minutes(5));
    EXPECT_FALSE(defaults.options.keep_history);
    EXPECT_EQ(parse_simulator_args({"--idle-timeout", "0"}).options.idle_timeout, 0ms);
}

TEST(SimulatorArgs, RefusesWhatItCannotUse) {
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{"--port", "65536"}, Args{"--port", "-1"}, Args{"--port", "80x"}, Args{"--port"},
                             Args{"--account", "nocolon"}, Args{"--account", ":pw"}, Args{"--fault", "bogus"},
                             Args{"--fault", "delay-reply"}, Args{"--fault", "close-after"},
                             Args{"--fault", "fixed-status=256"}, Args{"--verbose"}, Args{"--max-sessions", "0"},
                             Args{"--max-sessions", "x"}, Args{"--idle-timeout", "-1"}, Args{"--idle-timeout"}}) {
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
