#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace diagbridge {

class CSoftwareInterface;

// The worker of one communication object. It rests ("parks") at the top of its loop until it
// is released, then runs one dispatch pass (an order) or repeats passes about every 10 ms
// (the keep-alive loop) until it is asked to park again; it is never stopped in the middle
// of a service.
class CCommunicationServiceThread {
  public:
    // Name of the worker thread, as thread listings show it.
    static constexpr const char* kThreadName = "dbr-worker";

    explicit CCommunicationServiceThread(CSoftwareInterface& owner);
    // Ends the loop after the current pass and joins the thread.
    ~CCommunicationServiceThread();
    CCommunicationServiceThread(const CCommunicationServiceThread&) = delete;
    CCommunicationServiceThread& operator=(const CCommunicationServiceThread&) = delete;

    static constexpr bool kOnePass = false;
    static constexpr bool kRepeatPasses = true;

    // Releases the parked worker for one pass, or for passes until RequestPark; returns the
    // number of passes completed so far, to be given to WaitDone.
    uint64_t Resume(bool repeat);
    // Asks the worker to park after its current pass; does not wait.
    void RequestPark();
    // Waits at most timeoutMs for a pass after passesBefore to complete (the done event).
    bool WaitDone(uint64_t passesBefore, uint32_t timeoutMs);
    // Waits at most timeoutMs until the worker rests at the top of its loop.
    bool WaitParked(uint32_t timeoutMs);
    bool IsParked();
    // False once the worker ended after a fatal error.
    bool IsAlive();

  private:
    void Run();
    bool WaitForRelease();
    void RunPasses();

    CSoftwareInterface& owner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool runRequested_ = false;
    bool repeat_ = false;
    bool parked_ = false;
    bool quit_ = false;
    bool alive_ = true;
    uint64_t passesCompleted_ = 0;
    std::thread thread_;
};

}  // namespace diagbridge
