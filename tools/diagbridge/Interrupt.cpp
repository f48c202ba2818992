#include "tools/diagbridge/Interrupt.h"

#include <pthread.h>
#include <csignal>

#include "engine/CSoftwareInterface.h"

namespace diagbridge::cli {

namespace {
// SIGUSR1 ends the waiting thread when the task is over.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}
}  // namespace

InterruptWatch::InterruptWatch() {
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { Wait(); });
}

InterruptWatch::~InterruptWatch() {
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void InterruptWatch::Watch(CSoftwareInterface* object) {
    std::lock_guard lock(mutex_);
    watched_ = object;
    if (watched_ != nullptr && interrupted_.load()) watched_->Cancel().Set();
}

void InterruptWatch::Wait() {
    const sigset_t set = WatchedSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || signal == SIGUSR1) return;
        interrupted_.store(true);
        std::lock_guard lock(mutex_);
        if (watched_ != nullptr) watched_->Cancel().Set();
    }
}

}  // namespace diagbridge::cli
