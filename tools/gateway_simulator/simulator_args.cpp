#include "simulator_args.h"

#include <charconv>

namespace vrl::sim {
namespace {

template <typename Int>
bool parse_int(const std::string& text, Int low, Int high, Int& value) {
    Int v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || v < low || v > high) {
        return false;
    }
    value = v;
    return true;
}

constexpr int kMaxMilliseconds = 24 * 3600 * 1000;
constexpr int kMaxExtraBytes = 4096;

// MODE or MODE=ARG (split-at: MODE=N[,MS]); the modes that need an argument insist on one.
bool parse_fault(const std::string& text, SimulatorOptions& options) {
    const std::size_t eq = text.find('=');
    if (!parse_fault_mode(text.substr(0, eq), options.fault)) {
        return false;
    }
    const FaultMode mode = options.fault;
    const bool needs_arg = mode == FaultMode::DelayReply || mode == FaultMode::CloseAfter ||
                           mode == FaultMode::FixedStatus || mode == FaultMode::SplitAt ||
                           mode == FaultMode::ExtraBytes || mode == FaultMode::StrayReply;
    if (eq == std::string::npos) {
        options.fault_arg = 0;
        return !needs_arg;
    }
    std::string arg = text.substr(eq + 1);
    if (mode == FaultMode::SplitAt) {
        const std::size_t comma = arg.find(',');
        if (comma != std::string::npos) {
            if (!parse_int(arg.substr(comma + 1), 0, kMaxMilliseconds, options.fault_pause_ms)) {
                return false;
            }
            arg.resize(comma);
        }
    }
    int low = 0;
    int high = kMaxMilliseconds;
    if (mode == FaultMode::FixedStatus) {
        high = 255;
    } else if (mode == FaultMode::SplitAt) {
        low = 1;  // a cut at 0 or at the end of the longest reply would be no cut
        high = static_cast<int>(kResponseSize) - 1;
    } else if (mode == FaultMode::ExtraBytes) {
        low = 1;
        high = kMaxExtraBytes;
    }
    return parse_int(arg, low, high, options.fault_arg);
}

}  // namespace

const char* const kSimulatorUsage =
    "usage: gateway_simulator [--address IP] [--port N] [--account USER:PASSWORD]...\n"
    "                         [--trace FILE [--trace-secrets]] [--max-sessions N]\n"
    "                         [--idle-timeout MS] [--fault MODE[=ARG]] [--help]\n"
    "\n"
    "A message gateway server for testing. Prints \"listening on IP:PORT\" as its first line\n"
    "and serves until SIGINT or SIGTERM (Ctrl+C or closing the console on Windows).\n"
    "\n"
    "  --address IP      IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N          port to listen on; 0 (default) picks a free one\n"
    "  --account U:P     an account that may log in; repeatable (default demo:demo)\n"
    "  --trace FILE      write one JSON line per frame received or sent (passwords as \"***\")\n"
    "  --trace-secrets   write passwords to the trace as they arrived\n"
    "  --max-sessions N  serve at most N connections at once; close further ones at once\n"
    "                    (default 1024)\n"
    "  --idle-timeout MS close a connection that takes longer than MS milliseconds to send a\n"
    "                    whole request or to take a reply (default 300000, 5 minutes; 0: never)\n"
    "  --fault MODE      misbehave on purpose:\n"
    "      close-on-accept       close every connection at once\n"
    "      no-reply[=N]          answer N requests per connection (default 0), then none\n"
    "      delay-reply=MS        hold every reply back MS milliseconds\n"
    "      split-reply[=MS]      write every reply in two parts MS apart (default 200)\n"
    "      one-byte-reply        reply with the status byte alone\n"
    "      long-reply            reply with 129 bytes and no NUL\n"
    "      close-after=N         answer N requests per connection, close on the next\n"
    "      fixed-status=S        answer every request with status byte S\n"
    "      split-at=N[,MS]       write the first N bytes of every reply (1 to 128), the rest\n"
    "                            MS milliseconds later (default 200)\n"
    "      extra-bytes=N         follow every reply in the same write by N stray bytes\n"
    "                            (\"*junk\" and a NUL, over and over; 1 to 4096)\n"
    "      stray-reply=MS        MS milliseconds after every reply, send a stray one: \"*junk\"\n"
    "                            and a NUL (status 42, text \"junk\")\n"
    "\n"
    "Replies: status byte, text, NUL. Status 0 is success: a login answers \"login ok\", a submit\n"
    "the new message id, a query the message state (\"DELIVERED\" or \"SCHEDULED <time>\").\n"
    "Refusals: 1 bad login, 2 login required, 3 unknown message id, 4 malformed send time,\n"
    "5 malformed request, 6 unknown command, 7 invalid mobile number, 8 message over 160 bytes.\n"
    "Send times are YYYYMMDDhhmmss; mobile numbers are 1 to 20 digits after an optional '+'.\n"
    "Queries are answered for the last 100000 messages issued; older ids are evicted, oldest\n"
    "first, and then answered 3 (unknown message id).\n";

SimulatorCommand parse_simulator_args(const std::vector<std::string>& args) {
    SimulatorCommand command;
    auto fail = [&command](std::string message) {
        command.kind = SimulatorCommand::Kind::Error;
        command.error = std::move(message);
        return command;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--help" || flag == "-h") {
            command.kind = SimulatorCommand::Kind::Help;
            return command;
        }
        if (flag == "--trace-secrets") {
            command.options.trace_secrets = true;
            continue;
        }
        if (flag != "--address" && flag != "--port" && flag != "--account" && flag != "--trace" &&
            flag != "--fault" && flag != "--max-sessions" && flag != "--idle-timeout") {
            return fail("unknown argument: " + flag);
        }
        if (i + 1 == args.size()) {
            return fail(flag + " needs a value");
        }
        const std::string& value = args[++i];
        if (flag == "--address") {
            command.options.address = value;
        } else if (flag == "--port") {
            int port = 0;
            if (!parse_int(value, 0, 65535, port)) {
                return fail("bad port: " + value);
            }
            command.options.port = static_cast<std::uint16_t>(port);
        } else if (flag == "--account") {
            auto account = parse_account(value);
            if (!account) {
                return fail("bad account (USER:PASSWORD): " + value);
            }
            command.options.accounts.push_back(std::move(*account));
        } else if (flag == "--trace") {
            command.options.trace_path = value;
        } else if (flag == "--max-sessions") {
            int sessions = 0;
            if (!parse_int(value, 1, 1'000'000, sessions)) {
                return fail("bad session limit: " + value);
            }
            command.options.max_sessions = static_cast<std::size_t>(sessions);
        } else if (flag == "--idle-timeout") {
            long long ms = 0;
            if (!parse_int(value, 0LL, 7LL * 24 * 3600 * 1000, ms)) {
                return fail("bad idle time-out: " + value);
            }
            command.options.idle_timeout = std::chrono::milliseconds(ms);
        } else if (!parse_fault(value, command.options)) {
            return fail("bad fault mode: " + value);
        }
    }
    return command;
}

}  // namespace vrl::sim
