#pragma once
#include <atomic>
#include <mutex>
#include <thread>

namespace diagbridge {
class CSoftwareInterface;
}

namespace diagbridge::cli {

// Ctrl-C during a task: a thread waits for SIGINT/SIGTERM and tells the running service to
// stop before its next exchange (the flag the component itself sets on a time-out), so the
// transfer under way completes. Blocks the signals in the calling thread; create it before
// any other thread so that every thread inherits the mask.
class InterruptWatch {
  public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool Interrupted() const { return interrupted_.load(); }
    // The communication object whose service a signal stops; null for none.
    void Watch(CSoftwareInterface* object);

  private:
    void Wait();

    std::atomic<bool> interrupted_{false};
    std::mutex mutex_;
    CSoftwareInterface* watched_ = nullptr;
    std::thread thread_;
};

}  // namespace diagbridge::cli
