#pragma once
// A gateway server for tests and demonstrations: real TCP on a background thread, many
// connections at once. Construct, start(), point clients at port(); the destructor stops it. It
// keeps no history of frames unless asked to (SimulatorOptions::keep_history, for tests). The
// statuses and texts it answers with are in simulator_protocol.h.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "simulator_logic.h"
#include "simulator_protocol.h"
#include "simulator_request.h"

namespace vrl::sim {

// Misbehaviour on purpose, to test a client's handling of a faulty server. fault_arg refines it.
enum class FaultMode {
    None,
    CloseOnAccept,   // close every connection as soon as it is accepted
    NoReply,         // answer the first fault_arg requests of a connection, then read on but never answer
    DelayReply,      // hold every reply back for fault_arg milliseconds
    SplitReply,      // write each reply in two parts, fault_arg ms apart (0: 200 ms)
    OneByteReply,    // reply with the status byte alone
    LongReply,       // reply with the status byte and 128 text bytes, no NUL
    CloseAfter,      // answer the first fault_arg requests of a connection, close on the next one unanswered
    FixedStatus,     // answer as usual but with status byte fault_arg (0 to 255)
    SplitAt,         // write the first fault_arg bytes of each reply, the rest fault_pause_ms later
    ExtraBytes,      // follow each reply, in the same write, by fault_arg stray bytes (kStrayBytes over and over)
    StrayReply,      // fault_arg ms after each reply, write kStrayBytes on their own
};

inline constexpr std::size_t kDefaultMaxSessions = 1024;
inline constexpr std::chrono::milliseconds kDefaultIdleTimeout{5 * 60 * 1000};

struct SimulatorOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;           // 0: any free port, see GatewaySimulator::port()
    std::vector<Account> accounts;    // empty: the demo account demo:demo
    std::string trace_path;           // empty: no trace
    bool trace_secrets = false;       // write passwords to the trace instead of "***"
    FaultMode fault = FaultMode::None;
    int fault_arg = 0;
    int fault_pause_ms = 200;  // split-at: the pause before the second piece
    // Clients beyond this many open sessions are closed as soon as they are accepted.
    std::size_t max_sessions = kDefaultMaxSessions;
    // A session that waits this long for a whole request, or for a reply to be taken off its
    // socket, is closed. 0: never.
    std::chrono::milliseconds idle_timeout = kDefaultIdleTimeout;
    std::size_t message_capacity = kDefaultMessageCapacity;  // ids answered for queries, see MessageTable
    bool keep_history = false;                                // record every request for received()
};

// Default options with keep_history set: for a test that inspects the requests.
inline SimulatorOptions with_history(SimulatorOptions options = {}) {
    options.keep_history = true;
    return options;
}

// One write of a reply as the fault mode cuts it: the bytes, written once the delay has passed
// after the previous piece is out (after the request, for the first piece).
struct ReplyPiece {
    std::vector<std::uint8_t> bytes;
    std::chrono::milliseconds delay{0};
};

// The writes that carry one encoded reply under the options' fault mode. Pure: tests call it.
std::vector<ReplyPiece> reply_pieces(const SimulatorOptions& options, std::vector<std::uint8_t> reply);

class GatewaySimulator {
public:
    explicit GatewaySimulator(SimulatorOptions options = {});
    GatewaySimulator(const GatewaySimulator&) = delete;
    GatewaySimulator& operator=(const GatewaySimulator&) = delete;
    ~GatewaySimulator();

    // Binds, listens and starts serving on a background thread. Throws std::system_error when the
    // address cannot be bound and std::runtime_error when the trace file cannot be opened.
    // A simulator starts once.
    void start();

    // The port listened on, known once start() has returned.
    std::uint16_t port() const;

    // Closes the listener and every connection and joins the thread. Safe to call repeatedly.
    void stop();

    // Every request read so far, in order of arrival; a request is recorded before it is answered.
    // Only with SimulatorOptions::keep_history; otherwise it throws std::logic_error.
    std::vector<ReceivedFrame> received() const;

    // Connections accepted so far. The server's accept runs on its own thread and may trail the
    // client's connect by a moment.
    std::uint64_t connections() const;

private:
    friend class Session;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Name used on the command line and in messages: "none", "close-on-accept", ...
const char* fault_mode_name(FaultMode mode);
bool parse_fault_mode(const std::string& name, FaultMode& mode);

}  // namespace vrl::sim
