// gateway_client: its command line, and whole runs against the simulator with their output and
// exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "client_args.h"
#include "client_run.h"
#include "client_secret.h"
#include "gateway_simulator.h"

namespace vrl::client {
namespace {

using Args = std::vector<std::string>;

Args base(std::uint16_t port) {
    return {"--server", "127.0.0.1", "--port", std::to_string(port), "--user", "demo", "--password", "demo"};
}

Args with(Args args, const Args& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(ClientArgs, ReadsOptionsAndOperationsInOrder) {
    const ClientCommand c = parse_client_args(with(base(7100), {"--receive-timeout", "1500", "send", "0912", "hi",
                                                                "send-at", "0912", "later", "20270101083000",
                                                                "query", "0912", "1000001"}));
    ASSERT_EQ(c.kind, ClientCommand::Kind::Run) << c.error;
    EXPECT_EQ(c.server, "127.0.0.1");
    EXPECT_EQ(c.port, "7100");
    EXPECT_EQ(c.receive_timeout, std::chrono::milliseconds(1500));
    EXPECT_EQ(c.connect_timeout, std::chrono::milliseconds(30'000));
    ASSERT_EQ(c.operations.size(), 3u);
    EXPECT_EQ(c.operations[0].kind, Operation::Kind::Send);
    EXPECT_EQ(c.operations[0].text, "hi");
    EXPECT_EQ(c.operations[1].kind, Operation::Kind::SendAt);
    EXPECT_EQ(c.operations[1].time, "20270101083000");
    EXPECT_EQ(c.operations[2].kind, Operation::Kind::Query);
    EXPECT_EQ(c.operations[2].text, "1000001");
}

TEST(ClientArgs, RefusesIncompleteCommandLines) {
    const Args b = base(7100);
    for (const Args& args : {Args{}, Args{"--server", "1.2.3.4", "send", "1", "x"}, b, with(b, {"send", "1"}),
                             with(b, {"send-at", "1", "x"}), with(b, {"query", "1"}), with(b, {"delete", "1", "2"}),
                             with(b, {"--receive-timeout", "0", "send", "1", "x"}), with(b, {"--bogus", "1"}),
                             with(b, {"--receive-timeout"})}) {
        EXPECT_EQ(parse_client_args(args).kind, ClientCommand::Kind::Error);
    }
    EXPECT_EQ(parse_client_args({"--help"}).kind, ClientCommand::Kind::Help);
}

TEST(ClientArgs, TakesThePasswordFromStandardInputTheEnvironmentOrTheCommandLine) {
    const Args server = {"--server", "127.0.0.1", "--port", "7100", "--user", "demo"};
    using Source = ClientCommand::PasswordSource;

    ClientCommand c = parse_client_args(with(server, {"--password", "-", "send", "1", "x"}), "from-env");
    ASSERT_EQ(c.kind, ClientCommand::Kind::Run) << c.error;
    EXPECT_EQ(c.password_source, Source::StandardInput);
    EXPECT_EQ(c.password, "");
    EXPECT_TRUE(c.password_arguments.empty());

    c = parse_client_args(with(server, {"send", "1", "x"}), "from-env");
    ASSERT_EQ(c.kind, ClientCommand::Kind::Run) << c.error;
    EXPECT_EQ(c.password_source, Source::Environment);
    EXPECT_EQ(c.password, "from-env");
    EXPECT_TRUE(c.password_arguments.empty());

    const Args visible = with(server, {"--password", "typed", "send", "1", "x"});
    c = parse_client_args(visible, "from-env");
    ASSERT_EQ(c.kind, ClientCommand::Kind::Run) << c.error;
    EXPECT_EQ(c.password_source, Source::CommandLine);
    EXPECT_EQ(c.password, "typed");
    ASSERT_EQ(c.password_arguments.size(), 1u);
    EXPECT_EQ(visible[c.password_arguments[0]], "typed");
    // Every password on the command line is known, so that each can be wiped; the last one counts.
    const Args twice = with(server, {"--password", "first", "--password", "-", "send", "1", "x"});
    c = parse_client_args(twice);
    EXPECT_EQ(c.password_source, Source::StandardInput);
    EXPECT_EQ(c.password, "");
    ASSERT_EQ(c.password_arguments.size(), 1u);
    EXPECT_EQ(twice[c.password_arguments[0]], "first");

    // An empty VRL_PASSWORD is a password; none anywhere is an error, and an error keeps no password.
    EXPECT_EQ(parse_client_args(with(server, {"send", "1", "x"}), "").kind, ClientCommand::Kind::Run);
    EXPECT_EQ(parse_client_args(with(server, {"send", "1", "x"})).kind, ClientCommand::Kind::Error);
    c = parse_client_args(with(server, {"--password", "typed", "delete", "1"}));
    EXPECT_EQ(c.kind, ClientCommand::Kind::Error);
    EXPECT_EQ(c.password, "");
    EXPECT_NE(std::string(kClientUsage).find("VISIBLE TO EVERY USER"), std::string::npos);
}

TEST(ClientSecret, ReadsOneLineOfStandardInput) {
    struct Case {
        std::string input;
        bool ok;
        std::string password;
    };
    const Case cases[] = {
        {"s3cret\nsend more", true, "s3cret"},
        {"dos\r\n", true, "dos"},
        {"no newline", true, "no newline"},
        {"\n", true, ""},
        {"", false, ""},
        {std::string(kMaxPasswordBytes, 'p') + "\n", true, std::string(kMaxPasswordBytes, 'p')},
        {std::string(kMaxPasswordBytes + 1, 'p') + "\n", false, ""},
        {std::string(1000, 'p'), false, ""},
    };
    for (const Case& c : cases) {
        std::FILE* in = std::tmpfile();
        ASSERT_NE(in, nullptr);
        std::fwrite(c.input.data(), 1, c.input.size(), in);
        std::rewind(in);
        std::string password = "earlier";
        EXPECT_EQ(read_password_line(in, password), c.ok) << c.input.substr(0, 20);
        EXPECT_EQ(password, c.password) << c.input.substr(0, 20);
        std::fclose(in);
    }
}

TEST(ClientOutput, EscapesControlCharactersOfTheGatewayText) {
    EXPECT_EQ(printable("1000001"), "1000001");
    EXPECT_EQ(printable(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(printable("line\nbreak\r\t"), "line\\x0abreak\\x0d\\x09");
    EXPECT_EQ(printable("\x1b[2J\x7f"), "\\x1b[2J\\x7f");
    EXPECT_EQ(printable("back\\slash"), "back\\x5cslash");
    // UTF-8 C1 controls are escaped; other UTF-8 and code-page text (Big5 here) is kept.
    EXPECT_EQ(printable("\xc2\x9b" "31m"), "\\xc2\\x9b31m");
    EXPECT_EQ(printable("caf\xc3\xa9 \xa4\xa4\xa4\xe5 \xc2"), "caf\xc3\xa9 \xa4\xa4\xa4\xe5 \xc2");
}

TEST(ClientExitCode, TellsSuccessRefusalAndLocalFailureApart) {
    EXPECT_EQ(exit_code_for(0, false), kExitOk);
    EXPECT_EQ(exit_code_for(80, false), kExitRefused);
    EXPECT_EQ(exit_code_for(200, false), kExitRefused);
    EXPECT_EQ(exit_code_for(80, true), kExitLocal);
    for (int status : {-1, -2, -3, -4, -5, -6}) {
        EXPECT_EQ(exit_code_for(status, false), kExitLocal) << status;
    }
}

class ClientRun : public ::testing::Test {
protected:
    void SetUp() override { simulator_.start(); }

    int run(const Args& operations, const Args& login = {}) {
        ClientCommand command = parse_client_args(with(base(simulator_.port()), operations));
        if (!login.empty()) {
            command.user = login[0];
            command.password = login[1];
        }
        EXPECT_EQ(command.kind, ClientCommand::Kind::Run) << command.error;
        gateway::GatewayConnection connection;
        out_.str("");
        return run_client(command, connection, out_);
    }

    sim::GatewaySimulator simulator_{sim::with_history()};
    std::ostringstream out_;
};

TEST_F(ClientRun, SessionRunsEveryOperationOnOneLogin) {
    EXPECT_EQ(run({"send", "0912345678", "hello", "send-at", "0912345678", "later", "20270101083000", "query",
                   "0912345678", "1000002"}),
              kExitOk);
    EXPECT_EQ(out_.str(), "login 0\nsend 0 1000001\nsend-at 0 1000002\nquery 0 SCHEDULED 20270101083000\n");
    const auto frames = simulator_.received();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(simulator_.connections(), 1u);
}

TEST_F(ClientRun, StopsAtTheFirstRefusal) {
    EXPECT_EQ(run({"query", "0912345678", "42", "send", "0912345678", "never"}), kExitRefused);
    EXPECT_EQ(out_.str(), "login 0\nquery 3 unknown message id\n");
    EXPECT_EQ(run({"send", "1", "x"}, {"demo", "wrong"}), kExitRefused);
    EXPECT_EQ(out_.str(), "login 1\n");
}

TEST_F(ClientRun, LocalFailuresExitWithTwo) {
    EXPECT_EQ(run({"send", "0912345678", std::string(161, 'm')}), kExitLocal);
    EXPECT_EQ(out_.str(), "login 0\nsend 80 message content > max limit\n");
    simulator_.stop();
    EXPECT_EQ(run({"send", "0912345678", "hello"}), kExitLocal);
    EXPECT_EQ(out_.str(), "login -3\n");
}

}  // namespace
}  // namespace vrl::client
