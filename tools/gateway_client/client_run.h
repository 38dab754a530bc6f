#pragma once
// Runs a parsed command over a gateway connection: login, the operations, end.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "client_args.h"
#include "gateway_connection.h"

namespace vrl::client {

// The exit code for one step's status. local_refusal: the status is the connection's own
// refusal that shares its value with a server status (80 for an over-long message).
int exit_code_for(std::int32_t status, bool local_refusal);

// The gateway's text made safe for one line of a terminal: C0 controls, DEL, the UTF-8 forms of
// the C1 controls (C2 80 to C2 9F) and the backslash itself become \xNN; every other byte, the
// narrow text of any code page included, is kept.
std::string printable(std::string_view text);

// Writes one line per step to out and returns the program's exit code.
int run_client(const ClientCommand& command, gateway::GatewayConnection& connection, std::ostream& out);

}  // namespace vrl::client
