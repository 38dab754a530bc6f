#pragma once
// The gateway_client command line. Pure: tests call it directly.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "gateway_status.h"

namespace vrl::client {

struct Operation {
    enum class Kind { Send, SendAt, Query } kind = Kind::Send;
    std::string number;
    std::string text;  // message text, or the message id of a query
    std::string time;  // send time of send-at
};

struct ClientCommand {
    enum class Kind { Run, Help, Error } kind = Kind::Run;
    std::string server;
    std::string port;  // passed on as text: the connection reads it as atoi does
    std::string user;
    // Where the password comes from: --password W (visible to every user of the machine in the
    // process list), --password - (one line of standard input, read by the program), or the
    // environment variable VRL_PASSWORD.
    enum class PasswordSource { CommandLine, StandardInput, Environment } password_source = PasswordSource::CommandLine;
    std::string password;                          // unless read from standard input
    std::vector<std::size_t> password_arguments;  // indexes in args of every password given there
    std::chrono::milliseconds connect_timeout = gateway::GatewayTimeouts{}.connect;
    std::chrono::milliseconds receive_timeout = gateway::GatewayTimeouts{}.receive;
    std::vector<Operation> operations;
    std::string error;  // for Kind::Error
};

inline constexpr const char* kPasswordVariable = "VRL_PASSWORD";

// environment_password: the value of VRL_PASSWORD, or null when it is not set.
ClientCommand parse_client_args(const std::vector<std::string>& args, const char* environment_password = nullptr);

const char* operation_name(Operation::Kind kind);

extern const std::string kClientUsage;

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // the gateway answered with a nonzero status
inline constexpr int kExitLocal = 2;    // a local failure: negative status or the local 80 refusal
inline constexpr int kExitUsage = 3;

}  // namespace vrl::client
