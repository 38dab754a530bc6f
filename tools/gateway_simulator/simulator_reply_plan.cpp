#include "simulator_reply_plan.h"

#include <algorithm>

namespace vrl::sim {
namespace {

constexpr int kDefaultSplitPauseMs = 200;
constexpr std::size_t kLongReplyText = kResponseSize - 1;

}  // namespace

ReplyPlan plan_reply(const Reply& reply, const SimulatorOptions& options) {
    ReplyPlan plan;
    plan.bytes = encode_reply(reply);
    if (options.fault == FaultMode::OneByteReply) {
        plan.bytes.resize(1);
    } else if (options.fault == FaultMode::LongReply) {
        plan.bytes.pop_back();
        plan.bytes.resize(1 + kLongReplyText, static_cast<std::uint8_t>('x'));
    }
    const std::size_t size = plan.bytes.size();
    const std::chrono::milliseconds arg(std::max(options.fault_arg, 0));
    if (options.fault == FaultMode::SplitReply) {
        const std::chrono::milliseconds pause = arg.count() > 0 ? arg : std::chrono::milliseconds(kDefaultSplitPauseMs);
        plan.pieces = {{size / 2, std::chrono::milliseconds(0)}, {size - size / 2, pause}};
    } else if (options.fault == FaultMode::DelayReply) {
        plan.pieces = {{size, arg}};
    } else {
        plan.pieces = {{size, std::chrono::milliseconds(0)}};
    }
    return plan;
}

}  // namespace vrl::sim
