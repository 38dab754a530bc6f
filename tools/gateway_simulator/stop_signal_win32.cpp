#include <windows.h>

#include "stop_signal.h"

namespace vrl::sim {
namespace {

HANDLE g_stop_requested = nullptr;
HANDLE g_stop_done = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    SetEvent(g_stop_requested);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this handler returns: give the main thread time to stop cleanly.
        WaitForSingleObject(g_stop_done, 4000);
    }
    return TRUE;
}

}  // namespace

void prepare_stop_signals() {
    g_stop_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_stop_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void wait_for_stop_signal() {
    WaitForSingleObject(g_stop_requested, INFINITE);
}

void stop_completed() {
    SetEvent(g_stop_done);
}

}  // namespace vrl::sim
