#include "simulator_logic.h"

#include <algorithm>
#include <charconv>

namespace vrl::sim {
namespace {

bool all_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number_at(std::string_view text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int days_in_month(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

Reply malformed() {
    return {kStatusMalformedFrame, std::string(kTextMalformedFrame)};
}

}  // namespace

std::optional<Account> parse_account(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    return Account{std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
}

bool is_valid_send_time(std::string_view text) {
    if (text.size() != 14 || !all_digits(text)) {
        return false;
    }
    const int year = number_at(text, 0, 4);
    const int month = number_at(text, 4, 2);
    const int day = number_at(text, 6, 2);
    const int hour = number_at(text, 8, 2);
    const int minute = number_at(text, 10, 2);
    const int second = number_at(text, 12, 2);
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month) &&
           hour < 24 && minute < 60 && second < 60;
}

bool is_valid_mobile(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    return !text.empty() && text.size() <= kMaxMobileDigits && all_digits(text);
}

GatewayLogic::GatewayLogic(std::vector<Account> accounts, std::size_t message_capacity)
    : accounts_(std::move(accounts)), messages_(message_capacity) {
    if (accounts_.empty()) {
        accounts_.push_back({"demo", "demo"});
    }
}

Reply GatewayLogic::handle(SessionState& session, const ReceivedFrame& frame) {
    if (!frame.well_formed) {
        return malformed();
    }
    switch (frame.command) {
    case kCommandLogin:
        return login(session, frame);
    case kCommandSubmit:
        return submit(session, frame);
    case kCommandQuery:
        return query(session, frame);
    default:
        return {kStatusUnknownCommand, std::string(kTextUnknownCommand)};
    }
}

Reply GatewayLogic::login(SessionState& session, const ReceivedFrame& frame) const {
    if (frame.fields.size() != 2) {
        return malformed();
    }
    // A refused login also ends an earlier login on the same connection.
    session = {};
    const auto match = std::find_if(accounts_.begin(), accounts_.end(), [&](const Account& a) {
        return a.user == frame.fields[0] && a.password == frame.fields[1];
    });
    if (match == accounts_.end()) {
        return {kStatusBadLogin, std::string(kTextBadLogin)};
    }
    session.logged_in = true;
    session.user = match->user;
    return {kStatusOk, std::string(kTextLoginOk)};
}

Reply GatewayLogic::submit(const SessionState& session, const ReceivedFrame& frame) {
    const auto& f = frame.fields;
    const bool now = f.size() == 3 && f[2] == kMarkerNow;
    const bool timed = f.size() == 4 && f[2] == kMarkerAt;
    if (!now && !timed) {
        return malformed();
    }
    if (!session.logged_in) {
        return {kStatusNotLoggedIn, std::string(kTextNotLoggedIn)};
    }
    if (!is_valid_mobile(f[0])) {
        return {kStatusBadMobile, std::string(kTextBadMobile)};
    }
    if (f[1].size() > kMaxMessageBytes) {
        return {kStatusMessageTooLong, std::string(kTextMessageTooLong)};
    }
    if (timed && !is_valid_send_time(f[3])) {
        return {kStatusBadSendTime, std::string(kTextBadSendTime)};
    }
    return {kStatusOk, std::to_string(messages_.add(f[0], timed ? std::string_view(f[3]) : std::string_view()))};
}

Reply GatewayLogic::query(const SessionState& session, const ReceivedFrame& frame) const {
    if (frame.fields.size() != 2) {
        return malformed();
    }
    if (!session.logged_in) {
        return {kStatusNotLoggedIn, std::string(kTextNotLoggedIn)};
    }
    const std::string& id_text = frame.fields[1];
    std::uint64_t id = 0;
    const auto [end, error] = std::from_chars(id_text.data(), id_text.data() + id_text.size(), id);
    const bool numeric = error == std::errc{} && end == id_text.data() + id_text.size();
    auto state = numeric ? messages_.state(id, frame.fields[0]) : std::nullopt;
    if (!state) {
        return {kStatusUnknownId, std::string(kTextUnknownId)};
    }
    return {kStatusOk, std::move(*state)};
}

}  // namespace vrl::sim
