#include <csignal>
#include <pthread.h>

#include "stop_signal.h"

namespace vrl::sim {
namespace {

sigset_t stop_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void prepare_stop_signals() {
    // A shell starts background jobs with SIGINT ignored, and an ignored signal never reaches
    // sigwait: take the default disposition back before blocking.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void wait_for_stop_signal() {
    const sigset_t set = stop_set();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
}

void stop_completed() {}

}  // namespace vrl::sim
