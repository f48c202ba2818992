#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "sim/uds/UdsEcuLink.h"
#include "sim/uds/UdsEcuProfile.h"
#include "sim/uds/UdsEcuServices.h"
#include "sim/uds/UdsFaultPlan.h"
#include "sim/uds/UdsIsoTpServer.h"

namespace diagbridge::sim {

// A UDS ECU on a CAN bus: its own thread takes each request from ISO-TP, runs it through the
// services (or the faults in force) and sends the answer. Every state access is locked, so
// tests and tools may look at it while it runs.
class UdsVirtualEcu {
  public:
    // Name of the ECU's thread, as thread listings show it.
    static constexpr const char* kThreadName = "uds-ecu";

    explicit UdsVirtualEcu(UdsEcuProfile profile);
    ~UdsVirtualEcu();
    UdsVirtualEcu(const UdsVirtualEcu&) = delete;
    UdsVirtualEcu& operator=(const UdsVirtualEcu&) = delete;

    // Joins the bus named by selector (an XL driver source) at the profile's bit rate and
    // starts answering; false with error set.
    bool Start(const std::string& selector, std::string& error);
    // Stops answering and leaves the bus; harmless when stopped.
    void Stop();

    // Replaces the faults in force (their request counts start again).
    void SetFaults(const UdsFaultPlan& plan);
    void SetFlow(const UdsFlowSettings& flow);
    // Runs look on the services under the ECU's lock.
    void Inspect(const std::function<void(const UdsEcuServices&)>& look) const;
    // Requests taken whole so far (answered or not).
    uint32_t RequestCount() const { return requests_.load(); }
    // Called after each request with its first byte and the answer's length (0: none sent);
    // on the ECU's thread.
    void OnAnswered(std::function<void(uint8_t service, size_t answerLength)> observer);

  private:
    static constexpr uint32_t kStopCheckMs = 50;

    void Run();
    void Answer(const UdsIsoTpServer::Request& request);
    bool SendPending(uint8_t service, uint32_t count, uint32_t intervalMs);

    mutable std::mutex mutex_;
    UdsEcuServices services_;
    UdsFaultPlan faults_;
    UdsFlowSettings flow_;
    std::function<void(uint8_t, size_t)> observer_;
    UdsEcuLink link_;
    UdsIsoTpServer transport_;
    uint8_t response_[UdsIsoTpServer::kMaxMessage] = {};
    std::atomic<bool> running_{false};
    std::atomic<uint32_t> requests_{0};
    platform::CancelFlag stop_;
    std::thread thread_;
};

}  // namespace diagbridge::sim
