#pragma once
// Runs a parsed command over a gateway connection: login, the operations, end.

#include <cstdint>
#include <ostream>

#include "client_args.h"
#include "gateway_connection.h"

namespace vrl::client {

// The exit code for one step's status. local_refusal: the status is the connection's own
// refusal that shares its value with a server status (80 for an over-long message).
int exit_code_for(std::int32_t status, bool local_refusal);

// Writes one line per step to out and returns the program's exit code.
int run_client(const ClientCommand& command, gateway::GatewayConnection& connection, std::ostream& out);

}  // namespace vrl::client
