#include "simulator_messages.h"

#include <algorithm>

namespace vrl::sim {

MessageTable::MessageTable(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)), first_id_(kFirstMessageId) {}

std::uint64_t MessageTable::add(std::string_view mobile, std::string_view send_time) {
    if (entries_.size() == capacity_) {
        entries_.pop_front();
        ++first_id_;
    }
    Entry entry;
    entry.mobile_length = static_cast<std::uint8_t>(std::min(mobile.size(), entry.mobile.size()));
    std::copy_n(mobile.begin(), entry.mobile_length, entry.mobile.begin());
    entry.timed = !send_time.empty();
    std::copy_n(send_time.begin(), std::min(send_time.size(), entry.send_time.size()), entry.send_time.begin());
    entries_.push_back(entry);
    return first_id_ + entries_.size() - 1;
}

std::optional<std::string> MessageTable::state(std::uint64_t id, std::string_view mobile) const {
    if (id < first_id_ || id - first_id_ >= entries_.size()) {
        return std::nullopt;
    }
    const Entry& entry = entries_[static_cast<std::size_t>(id - first_id_)];
    if (std::string_view(entry.mobile.data(), entry.mobile_length) != mobile) {
        return std::nullopt;
    }
    if (!entry.timed) {
        return std::string(kStateDelivered);
    }
    return std::string(kStateScheduledPrefix) + std::string(entry.send_time.data(), entry.send_time.size());
}

}  // namespace vrl::sim
