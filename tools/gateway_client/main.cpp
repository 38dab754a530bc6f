// gateway_client: one gateway session from the command line. See kClientUsage.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "client_args.h"
#include "client_run.h"
#include "client_secret.h"

namespace {

using vrl::client::ClientCommand;

int run_program(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    char* environment_password = std::getenv(vrl::client::kPasswordVariable);
    ClientCommand command = vrl::client::parse_client_args(args, environment_password);
    // Every copy of the password this program holds is wiped on the way out, however it goes.
    const vrl::client::ScopedWipe wipe_password(command.password);
    for (const std::size_t index : command.password_arguments) {
        // Shortens the time the password shows in the process list; it cannot close it.
        vrl::client::wipe(argv[index + 1]);
        vrl::client::wipe(args[index]);
    }
    if (environment_password != nullptr) {
        vrl::client::wipe(environment_password);
    }
    if (command.kind == ClientCommand::Kind::Help) {
        std::cout << vrl::client::kClientUsage;
        return vrl::client::kExitOk;
    }
    if (command.kind == ClientCommand::Kind::Error) {
        std::cerr << "gateway_client: " << command.error << "\n\n" << vrl::client::kClientUsage;
        return vrl::client::kExitUsage;
    }
    if (command.password_source == ClientCommand::PasswordSource::StandardInput) {
        // Unbuffered, so that no stdio buffer keeps a copy.
        std::setvbuf(stdin, nullptr, _IONBF, 0);
        if (!vrl::client::read_password_line(stdin, command.password)) {
            std::cerr << "gateway_client: no password on standard input (one line, at most "
                      << vrl::client::kMaxPasswordBytes << " bytes)\n";
            return vrl::client::kExitUsage;
        }
    }
    vrl::gateway::GatewayConnection connection(
        vrl::gateway::system_socket_api(),
        vrl::gateway::GatewayTimeouts{command.connect_timeout, command.receive_timeout});
    const int code = vrl::client::run_client(command, connection, std::cout);
    std::cout.flush();
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run_program(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "gateway_client: " << e.what() << '\n';
        return vrl::client::kExitLocal;
    }
}
