#pragma once
// The gateway_simulator command line, read into SimulatorOptions. Pure: tests call it directly.

#include <string>
#include <vector>

#include "gateway_simulator.h"

namespace vrl::sim {

struct SimulatorCommand {
    enum class Kind { Run, Help, Error } kind = Kind::Run;
    SimulatorOptions options;
    std::string error;  // for Kind::Error
};

SimulatorCommand parse_simulator_args(const std::vector<std::string>& args);

extern const char* const kSimulatorUsage;

}  // namespace vrl::sim
