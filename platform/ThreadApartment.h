#pragma once

namespace diagbridge::platform {

// Joins the calling thread to a single-threaded COM apartment for this object's life, so
// that the services of a worker may create and call COM objects (Windows; nothing elsewhere).
class ThreadApartment {
  public:
    ThreadApartment();
    ~ThreadApartment();
    ThreadApartment(const ThreadApartment&) = delete;
    ThreadApartment& operator=(const ThreadApartment&) = delete;

  private:
    [[maybe_unused]] bool joined_ = false;
};

// Raises the system timer resolution to 1 ms for this object's life, so that sleeps and
// time-outs of a few milliseconds (STmin, polls, K-line gaps) are not stretched to the
// default 15.6 ms tick (Windows; nothing elsewhere).
class ScopedTimerResolution {
  public:
    ScopedTimerResolution();
    ~ScopedTimerResolution();
    ScopedTimerResolution(const ScopedTimerResolution&) = delete;
    ScopedTimerResolution& operator=(const ScopedTimerResolution&) = delete;

  private:
    [[maybe_unused]] bool raised_ = false;
};

}  // namespace diagbridge::platform
