// gateway_client: one gateway session from the command line. See kClientUsage.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "client_args.h"
#include "client_run.h"

int main(int argc, char** argv) {
    using vrl::client::ClientCommand;
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        const ClientCommand command = vrl::client::parse_client_args(args);
        if (command.kind == ClientCommand::Kind::Help) {
            std::cout << vrl::client::kClientUsage;
            return vrl::client::kExitOk;
        }
        if (command.kind == ClientCommand::Kind::Error) {
            std::cerr << "gateway_client: " << command.error << "\n\n" << vrl::client::kClientUsage;
            return vrl::client::kExitUsage;
        }
        vrl::gateway::GatewayConnection connection(
            vrl::gateway::system_socket_api(),
            vrl::gateway::GatewayTimeouts{command.connect_timeout, command.receive_timeout});
        const int code = vrl::client::run_client(command, connection, std::cout);
        std::cout.flush();
        return code;
    } catch (const std::exception& e) {
        std::cerr << "gateway_client: " << e.what() << '\n';
        return vrl::client::kExitLocal;
    }
}
