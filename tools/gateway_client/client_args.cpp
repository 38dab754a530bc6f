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

// Every option: its name and where its value goes for the parser, its value and meaning for
// --help (for the password's two forms, "-" and "W", a line of the meaning each). A required text
// goes to `text`, a time-out to `time`; the password is read apart, and --help is the one option
// without a value.
struct OptionSpec {
    std::string_view name;
    std::string_view value;
    std::string_view meaning;
    std::string ClientCommand::*text = nullptr;
    std::chrono::milliseconds ClientCommand::*time = nullptr;
};

constexpr std::array<OptionSpec, 7> kOptions{{
    {"--server", "IP", "the gateway's address", &ClientCommand::server},
    {"--port", "P", "its port", &ClientCommand::port},
    {"--user", "U", "the user name to log in with", &ClientCommand::user},
    {"--password", "-|W", "-: read the password from one line of standard input\n"
                          "W: W itself, VISIBLE TO EVERY USER in the process list"},
    {"--connect-timeout", "MS", "give up a connect after MS milliseconds", nullptr,
     &ClientCommand::connect_timeout},
    {"--receive-timeout", "MS", "give up waiting for an answer after MS", nullptr,
     &ClientCommand::receive_timeout},
    {"--help", "", "this text"},
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
    unsigned given = 0;  // a bit for each row of kOptions
    bool have_password = false;
    for (; next < args.size() && args[next].starts_with("--"); ++next) {
        const std::string& flag = args[next];
        const auto spec = std::find_if(kOptions.begin(), kOptions.end(),
                                       [&flag](const OptionSpec& o) { return flag == o.name; });
        if (spec == kOptions.end()) {
            return "unknown option: " + flag;
        }
        if (spec->value.empty()) {
            command.kind = ClientCommand::Kind::Help;
            return {};
        }
        if (next + 1 == args.size()) {
            return flag + " needs a value";
        }
        const std::string& value = args[++next];
        given |= 1u << (spec - kOptions.begin());
        if (spec->text != nullptr) {
            command.*spec->text = value;
        } else if (spec->time != nullptr) {
            if (!parse_ms(value, command.*spec->time)) {
                return "bad time-out: " + value;
            }
        } else {
            wipe(command.password);
            if (value == "-") {
                command.password_source = ClientCommand::PasswordSource::StandardInput;
            } else {
                command.password_source = ClientCommand::PasswordSource::CommandLine;
                command.password = value;
                command.password_arguments.push_back(next);
            }
            have_password = true;
        }
    }
    if (!have_password && environment_password != nullptr) {
        command.password_source = ClientCommand::PasswordSource::Environment;
        command.password = environment_password;
        have_password = true;
    }
    for (std::size_t row = 0; row < kOptions.size(); ++row) {
        if (kOptions[row].text != nullptr && (given & (1u << row)) == 0) {
            return std::string(kOptions[row].name) + " is required";
        }
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

// One line of --help: the syntax, then the meaning from a fixed column on, where each further
// line of the meaning starts too.
std::string help_line(const std::string& syntax, std::string_view meaning) {
    constexpr std::size_t kMeaningColumn = 30;
    std::string text = "  " + syntax + ' ';
    text.resize(std::max(text.size(), kMeaningColumn), ' ');
    for (const char c : meaning) {
        text += c == '\n' ? '\n' + std::string(kMeaningColumn, ' ') : std::string(1, c);
    }
    return text + '\n';
}

std::string usage() {
    std::string text =
        "usage: gateway_client --server IP --port P --user U [--password -|W] [options] OPERATION...\n"
        "\n"
        "Connects to a message gateway, logs in, runs the operations in order on that one\n"
        "connection, and ends it. Without --password, the password comes from the environment\n"
        "variable VRL_PASSWORD.\n"
        "Options:\n";
    const ClientCommand defaults;
    for (const OptionSpec& option : kOptions) {
        std::string meaning(option.meaning);
        if (option.time != nullptr) {
            meaning += " (default " + std::to_string((defaults.*option.time).count()) + ")";
        }
        const std::string value = option.value.empty() ? "" : ' ' + std::string(option.value);
        text += help_line(std::string(option.name) + value, meaning);
    }
    text += "Operations:\n";
    for (const OperationSpec& op : kOperations) {
        text += help_line(std::string(op.name) + ' ' + std::string(op.arguments), op.meaning);
    }
    text += "\n"
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
