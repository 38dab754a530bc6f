#pragma once
// The messages a simulator has issued ids for, so that queries can be answered. Bounded: once it
// holds `capacity` messages, each new one evicts the oldest (the lowest id), which from then on is
// an unknown id. An entry is a few dozen bytes, so the default table stays within a few megabytes
// however long the simulator runs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "simulator_protocol.h"

namespace vrl::sim {

inline constexpr std::size_t kDefaultMessageCapacity = 100'000;

class MessageTable {
public:
    explicit MessageTable(std::size_t capacity = kDefaultMessageCapacity);

    // Records a message to mobile (a valid number), to be sent now or at send_time
    // (YYYYMMDDhhmmss, empty: now), and returns its id: ids count up from kFirstMessageId.
    std::uint64_t add(std::string_view mobile, std::string_view send_time);

    // The state of message id if it was issued to mobile and is still held: "DELIVERED" or
    // "SCHEDULED <time>".
    std::optional<std::string> state(std::uint64_t id, std::string_view mobile) const;

    std::size_t size() const { return entries_.size(); }

private:
    // Fixed-size, so an entry costs the same few dozen bytes whatever the library's strings do.
    struct Entry {
        std::array<char, kMaxMobileDigits + 1> mobile{};  // '+' and up to 20 digits
        std::array<char, 14> send_time{};                 // YYYYMMDDhhmmss when timed
        std::uint8_t mobile_length = 0;
        bool timed = false;
    };

    std::size_t capacity_;
    std::deque<Entry> entries_;  // entries_[i] has id first_id_ + i
    std::uint64_t first_id_;
};

}  // namespace vrl::sim
