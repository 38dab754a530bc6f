#pragma once
// Waiting for the request to stop: SIGINT/SIGTERM on POSIX, Ctrl+C, Ctrl+Break or closing the
// console on Windows.

namespace vrl::sim {

// Call before any thread starts, so that the stop signals reach the waiting thread only. On POSIX
// it also ignores SIGPIPE: a trace or output written to a closed pipe then fails its write
// instead of ending the server.
void prepare_stop_signals();

// Blocks until a stop is requested.
void wait_for_stop_signal();

// Tells a console-close handler that the program has finished its cleanup.
void stop_completed();

}  // namespace vrl::sim
