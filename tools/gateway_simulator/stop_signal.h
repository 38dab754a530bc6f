#pragma once
// Waiting for the request to stop: SIGINT/SIGTERM on POSIX, Ctrl+C, Ctrl+Break or closing the
// console on Windows.

namespace vrl::sim {

// Call before any thread starts, so that the stop signals reach the waiting thread only.
void prepare_stop_signals();

// Blocks until a stop is requested.
void wait_for_stop_signal();

// Tells a console-close handler that the program has finished its cleanup.
void stop_completed();

}  // namespace vrl::sim
