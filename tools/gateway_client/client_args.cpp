#include "client_args.h"

#include <charconv>

#include "client_secret.h"

namespace vrl::client {
namespace {

bool parse_ms(const std::string& text, std::chrono::milliseconds& value) {
    long long v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || v < 1 || v > 3'600'000) {
        return false;
    }
    value = std::chrono::milliseconds(v);
    return true;
}

}  // namespace

const char* const kClientUsage =
    "usage: gateway_client --server IP --port P --user U [--password -|W] [options] OPERATION...\n"
    "\n"
    "Connects to a message gateway, logs in, runs the operations in order on that one\n"
    "connection, and ends it. The password comes from, in this order:\n"
    "  --password -                read one line from standard input\n"
    "  --password W                W itself: VISIBLE TO EVERY USER of this machine in the\n"
    "                              process list; prefer one of the other two\n"
    "  VRL_PASSWORD                the environment variable, when --password is not given\n"
    "Operations:\n"
    "  send NUMBER TEXT            send TEXT to NUMBER now\n"
    "  send-at NUMBER TEXT TIME    send TEXT to NUMBER at TIME (as the gateway expects it)\n"
    "  query NUMBER ID             ask the state of message ID sent to NUMBER\n"
    "Options:\n"
    "  --connect-timeout MS        give up a connect after MS milliseconds (default 30000)\n"
    "  --receive-timeout MS        give up waiting for an answer after MS (default 60000)\n"
    "  --help                      this text\n"
    "\n"
    "Prints one line per step: the step's name, its status and the gateway's text, e.g.\n"
    "\"login 0\" and \"send 0 1000001\"; control characters and backslashes in the text are\n"
    "printed as \\xNN. Stops at the first step that does not succeed.\n"
    "Exit code: 0 all succeeded, 1 the gateway refused (nonzero status), 2 local failure\n"
    "(no connection, send or receive error, message over 160 bytes), 3 bad command line.\n";

const char* operation_name(Operation::Kind kind) {
    switch (kind) {
    case Operation::Kind::Send:
        return "send";
    case Operation::Kind::SendAt:
        return "send-at";
    case Operation::Kind::Query:
        return "query";
    }
    return "?";
}

ClientCommand parse_client_args(const std::vector<std::string>& args, const char* environment_password) {
    ClientCommand command;
    auto fail = [&command](std::string message) {
        wipe(command.password);  // the command is returned as a copy
        command.kind = ClientCommand::Kind::Error;
        command.error = std::move(message);
        return command;
    };
    bool have_server = false;
    bool have_port = false;
    bool have_user = false;
    bool have_password = false;
    std::size_t i = 0;
    for (; i < args.size() && args[i].starts_with("--"); ++i) {
        const std::string& flag = args[i];
        if (flag == "--help") {
            command.kind = ClientCommand::Kind::Help;
            return command;
        }
        if (i + 1 == args.size()) {
            return fail(flag + " needs a value");
        }
        const std::string& value = args[++i];
        if (flag == "--server") {
            command.server = value;
            have_server = true;
        } else if (flag == "--port") {
            command.port = value;
            have_port = true;
        } else if (flag == "--user") {
            command.user = value;
            have_user = true;
        } else if (flag == "--password") {
            wipe(command.password);
            if (value == "-") {
                command.password_source = ClientCommand::PasswordSource::StandardInput;
            } else {
                command.password_source = ClientCommand::PasswordSource::CommandLine;
                command.password = value;
                command.password_arguments.push_back(i);
            }
            have_password = true;
        } else if (flag == "--connect-timeout") {
            if (!parse_ms(value, command.connect_timeout)) {
                return fail("bad time-out: " + value);
            }
        } else if (flag == "--receive-timeout") {
            if (!parse_ms(value, command.receive_timeout)) {
                return fail("bad time-out: " + value);
            }
        } else {
            return fail("unknown option: " + flag);
        }
    }
    if (!have_password && environment_password != nullptr) {
        command.password_source = ClientCommand::PasswordSource::Environment;
        command.password = environment_password;
        have_password = true;
    }
    if (!have_server || !have_port || !have_user) {
        return fail("--server, --port and --user are required");
    }
    if (!have_password) {
        return fail("no password: give --password - (standard input), set VRL_PASSWORD, or --password W");
    }
    while (i < args.size()) {
        const std::string& name = args[i];
        Operation op;
        std::size_t arity = 0;
        if (name == "send") {
            op.kind = Operation::Kind::Send;
            arity = 2;
        } else if (name == "send-at") {
            op.kind = Operation::Kind::SendAt;
            arity = 3;
        } else if (name == "query") {
            op.kind = Operation::Kind::Query;
            arity = 2;
        } else {
            return fail("unknown operation: " + name);
        }
        if (args.size() - i - 1 < arity) {
            return fail(name + " needs " + std::to_string(arity) + " arguments");
        }
        op.number = args[i + 1];
        op.text = args[i + 2];
        if (arity == 3) {
            op.time = args[i + 3];
        }
        command.operations.push_back(std::move(op));
        i += arity + 1;
    }
    if (command.operations.empty()) {
        return fail("no operation given");
    }
    return command;
}

}  // namespace vrl::client
