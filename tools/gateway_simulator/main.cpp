// gateway_simulator: the test gateway as a program. See kSimulatorUsage for the command line.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "gateway_simulator.h"
#include "simulator_args.h"
#include "stop_signal.h"

int main(int argc, char** argv) {
    using vrl::sim::SimulatorCommand;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const SimulatorCommand command = vrl::sim::parse_simulator_args(args);
    if (command.kind == SimulatorCommand::Kind::Help) {
        std::fputs(vrl::sim::kSimulatorUsage, stdout);
        return 0;
    }
    if (command.kind == SimulatorCommand::Kind::Error) {
        std::fprintf(stderr, "gateway_simulator: %s\n\n%s", command.error.c_str(), vrl::sim::kSimulatorUsage);
        return 2;
    }

    vrl::sim::prepare_stop_signals();
    try {
        vrl::sim::GatewaySimulator simulator(command.options);
        simulator.start();
        std::printf("listening on %s:%u\n", command.options.address.c_str(), unsigned{simulator.port()});
        std::fflush(stdout);
        vrl::sim::wait_for_stop_signal();
        simulator.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gateway_simulator: %s\n", e.what());
        vrl::sim::stop_completed();
        return 1;
    }
    vrl::sim::stop_completed();
    return 0;
}
