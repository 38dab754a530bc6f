#include "client_args.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

#include "client_secret.h"

namespace vrl::client {
namespace {

// Every operation: its name and arity for the parser and the output, its arguments and meaning
// for --help.
struct OperationSpec {
    Operation::Kind kind;
    const char* name;
    std::size_t arity;  // arguments after the name: the number, the text or id, and the send time
    std::string_view arguments;
    std::string_view meaning;
};

constexpr std::array<OperationSpec, 3> kOperations{{
    {Operation::Kind::Send, "send", 2, "NUMBER TEXT", "send TEXT to NUMBER now"},
    {Operation::Kind::SendAt, "send-at", 3, "NUMBER TEXT TIME",
     "send TEXT to NUMBER at TIME (as the gateway expects it)"},
    {Operation::Kind::Query, "query", 2, "NUMBER ID", "ask the state of message ID sent to NUMBER"},
}};

bool parse_ms(const std::string& text, std::chrono::milliseconds& value) {
    long long v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || v < 1 || v > 3'600'000) {
        return false;
    }
    value = std::chrono::milliseconds(v);
    return true;
}

// Reads the options, from args[next] up to the first operation, into command; next is left at
// that operation. Returns what is wrong with them, or nothing.
std::string parse_options(const std::vector<std::string>& args, const char* environment_password,
                          ClientCommand& command, std::size_t& next) {
    bool have_server = false;
    bool have_port = false;
    bool have_user = false;
    bool have_password = false;
    for (; next < args.size() && args[next].starts_with("--"); ++next) {
        const std::string& flag = args[next];
        if (flag == "--help") {
            command.kind = ClientCommand::Kind::Help;
            return {};
        }
        if (next + 1 == args.size()) {
            return flag + " needs a value";
        }
        const std::string& value = args[++next];
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
                command.password_arguments.push_back(next);
            }
            have_password = true;
        } else if (flag == "--connect-timeout" || flag == "--receive-timeout") {
            if (!parse_ms(value, flag == "--connect-timeout" ? command.connect_timeout : command.receive_timeout)) {
                return "bad time-out: " + value;
            }
        } else {
            return "unknown option: " + flag;
        }
    }
    if (!have_password && environment_password != nullptr) {
        command.password_source = ClientCommand::PasswordSource::Environment;
        command.password = environment_password;
        have_password = true;
    }
    if (!have_server || !have_port || !have_user) {
        return "--server, --port and --user are required";
    }
    if (!have_password) {
        return "no password: give --password - (standard input), set VRL_PASSWORD, or --password W";
    }
    return {};
}

// Reads the operations from args[next] to the end. Returns what is wrong with them, or nothing.
std::string parse_operations(const std::vector<std::string>& args, std::size_t next,
                             std::vector<Operation>& operations) {
    while (next < args.size()) {
        const std::string& name = args[next];
        const auto spec = std::find_if(kOperations.begin(), kOperations.end(),
                                       [&name](const OperationSpec& s) { return name == s.name; });
        if (spec == kOperations.end()) {
            return "unknown operation: " + name;
        }
        if (args.size() - next - 1 < spec->arity) {
            return name + " needs " + std::to_string(spec->arity) + " arguments";
        }
        Operation op;
        op.kind = spec->kind;
        op.number = args[next + 1];
        op.text = args[next + 2];
        if (spec->arity == 3) {
            op.time = args[next + 3];
        }
        operations.push_back(std::move(op));
        next += spec->arity + 1;
    }
    return operations.empty() ? "no operation given" : "";
}

std::string usage() {
    std::string text =
        "usage: gateway_client --server IP --port P --user U [--password -|W] [options] OPERATION...\n"
        "\n"
        "Connects to a message gateway, logs in, runs the operations in order on that one\n"
        "connection, and ends it. The password comes from, in this order:\n"
        "  --password -                read one line from standard input\n"
        "  --password W                W itself: VISIBLE TO EVERY USER of this machine in the\n"
        "                              process list; prefer one of the other two\n"
        "  VRL_PASSWORD                the environment variable, when --password is not given\n"
        "Operations:\n";
    for (const OperationSpec& op : kOperations) {
        std::string syntax = std::string(op.name) + ' ' + std::string(op.arguments);
        syntax.resize(std::max<std::size_t>(syntax.size() + 1, 28), ' ');
        text += "  " + syntax + std::string(op.meaning) + '\n';
    }
    const gateway::GatewayTimeouts defaults;
    text += "Options:\n"
            "  --connect-timeout MS        give up a connect after MS milliseconds (default " +
            std::to_string(defaults.connect.count()) + ")\n"
            "  --receive-timeout MS        give up waiting for an answer after MS (default " +
            std::to_string(defaults.receive.count()) + ")\n"
            "  --help                      this text\n"
            "\n"
            "Prints one line per step: the step's name, its status and the gateway's text, e.g.\n"
            "\"login 0\" and \"send 0 1000001\"; control characters and backslashes in the text are\n"
            "printed as \\xNN. Stops at the first step that does not succeed.\n"
            "Exit code: 0 all succeeded, 1 the gateway refused (nonzero status), 2 local failure\n"
            "(no connection, send or receive error, message over 160 bytes), 3 bad command line.\n";
    return text;
}

}  // namespace

const std::string kClientUsage = usage();

const char* operation_name(Operation::Kind kind) {
    for (const OperationSpec& op : kOperations) {
        if (op.kind == kind) {
            return op.name;
        }
    }
    return "?";
}

ClientCommand parse_client_args(const std::vector<std::string>& args, const char* environment_password) {
    ClientCommand command;
    std::size_t next = 0;
    std::string error = parse_options(args, environment_password, command, next);
    if (error.empty() && command.kind == ClientCommand::Kind::Run) {
        error = parse_operations(args, next, command.operations);
    }
    if (!error.empty()) {
        wipe(command.password);  // the command is returned as a copy
        command.kind = ClientCommand::Kind::Error;
        command.error = std::move(error);
    }
    return command;
}

}  // namespace vrl::client
