#pragma once
// The simulated gateway's decisions: logins against the configured accounts, submits that issue
// message ids, queries for issued ids. No I/O; the server feeds it decoded frames.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulator_messages.h"
#include "simulator_request.h"

namespace vrl::sim {

struct Account {
    std::string user;
    std::string password;
};

// "user:password", split at the first colon; the user may not be empty, the password may.
std::optional<Account> parse_account(std::string_view text);

// YYYYMMDDhhmmss: 14 digits naming a real calendar date and time of day.
bool is_valid_send_time(std::string_view text);

// Digits with an optional leading '+', 1 to 20 digits.
bool is_valid_mobile(std::string_view text);

// Per connection: who has logged in on it.
struct SessionState {
    bool logged_in = false;
    std::string user;
};

class GatewayLogic {
public:
    // No accounts: the demo account demo:demo. Queries are answered for the last message_capacity
    // messages issued.
    explicit GatewayLogic(std::vector<Account> accounts, std::size_t message_capacity = kDefaultMessageCapacity);

    Reply handle(SessionState& session, const ReceivedFrame& frame);

private:
    Reply login(SessionState& session, const ReceivedFrame& frame) const;
    Reply submit(const SessionState& session, const ReceivedFrame& frame);
    Reply query(const SessionState& session, const ReceivedFrame& frame) const;

    std::vector<Account> accounts_;
    MessageTable messages_;
};

}  // namespace vrl::sim
