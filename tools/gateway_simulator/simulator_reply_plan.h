#pragma once
// How a reply goes out: its bytes as the fault mode shapes them, cut into pieces that are written
// one after another, each after its own delay. Pure: tests check every fault mode's plan, and the
// trace line of a reply lists the same pieces.

#include <chrono>
#include <cstdint>
#include <vector>

#include "gateway_simulator.h"
#include "simulator_request.h"

namespace vrl::sim {

struct ReplyPiece {
    std::size_t length = 0;
    std::chrono::milliseconds delay{0};  // waited before this piece is written
};

struct ReplyPlan {
    std::vector<std::uint8_t> bytes;
    std::vector<ReplyPiece> pieces;  // lengths add up to bytes.size()
};

// The plan for answering with reply under the options' fault mode (status already chosen).
ReplyPlan plan_reply(const Reply& reply, const SimulatorOptions& options);

}  // namespace vrl::sim
