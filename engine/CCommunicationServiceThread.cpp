#include "engine/CCommunicationServiceThread.h"

#include <chrono>
#include <exception>

#include "engine/CSoftwareInterface.h"
#include "platform/Notifier.h"
#include "platform/ThreadApartment.h"
#include "platform/ThreadName.h"

namespace diagbridge {

namespace {
constexpr const char* kFatalThreadError = "Fatal thread error !!\nCheck your installation!!";
}  // namespace

CCommunicationServiceThread::CCommunicationServiceThread(CSoftwareInterface& owner)
    : owner_(owner), thread_([this] { Run(); }) {}

CCommunicationServiceThread::~CCommunicationServiceThread() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

uint64_t CCommunicationServiceThread::Resume(bool repeat) {
    uint64_t passes = 0;
    {
        std::lock_guard lock(mutex_);
        runRequested_ = true;
        repeat_ = repeat;
        passes = passesCompleted_;
    }
    changed_.notify_all();
    return passes;
}

void CCommunicationServiceThread::RequestPark() {
    {
        std::lock_guard lock(mutex_);
        runRequested_ = false;
    }
    changed_.notify_all();
}

bool CCommunicationServiceThread::WaitDone(uint64_t passesBefore, uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return passesCompleted_ != passesBefore || !alive_;
    }) && alive_;
}

bool CCommunicationServiceThread::WaitParked(uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return parked_ || !alive_; });
}

bool CCommunicationServiceThread::IsParked() {
    std::lock_guard lock(mutex_);
    return parked_ || !alive_;
}

bool CCommunicationServiceThread::IsAlive() {
    std::lock_guard lock(mutex_);
    return alive_;
}

void CCommunicationServiceThread::Run() {
    platform::NameThisThread(kThreadName);
    const platform::ThreadApartment apartment;
    try {
        while (WaitForRelease()) {
            const platform::ScopedTimerResolution fineTimer;
            RunPasses();
        }
    } catch (const std::exception&) {
        platform::Notify(kFatalThreadError);
    } catch (...) {
        platform::Notify(kFatalThreadError);
    }
    std::lock_guard lock(mutex_);
    alive_ = false;
    parked_ = true;
    changed_.notify_all();
}

// Parks until released; false when the thread is to end.
bool CCommunicationServiceThread::WaitForRelease() {
    std::unique_lock lock(mutex_);
    parked_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return runRequested_ || quit_; });
    parked_ = false;
    return !quit_;
}

// One pass: dispatch, signal done, pause; repeated while the worker is wanted. An order runs
// one pass only, so its result stays until the client has read it.
void CCommunicationServiceThread::RunPasses() {
    for (;;) {
        owner_.DispatchService();
        const auto pause = std::chrono::milliseconds(owner_.PassPauseMs());
        std::unique_lock lock(mutex_);
        ++passesCompleted_;
        if (!repeat_) runRequested_ = false;
        changed_.notify_all();
        changed_.wait_for(lock, pause, [this] { return !runRequested_ || quit_; });
        if (!runRequested_ || quit_) return;
    }
}

}  // namespace diagbridge
