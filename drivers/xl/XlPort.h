#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "drivers/xl/CanFrame.h"
#include "drivers/xl/XlApi.h"

namespace diagbridge::xl {

// One open port with one CAN channel of our own driver sources (virtual bus, hub, slcan,
// socketcan): the receive queue, activation, output mode, bit rate and acceptance filter
// that the XL entry points work on. A source derives from it and carries frames to its wire.
class XlPort {
  public:
    // Receive queue in events: what the channel asks for when it opens the port, at least
    // kQueueCapacity and at most kMaxQueueCapacity.
    static constexpr size_t kQueueCapacity = 256;
    static constexpr size_t kMaxQueueCapacity = 32768;

    virtual ~XlPort() = default;
    XlPort(const XlPort&) = delete;
    XlPort& operator=(const XlPort&) = delete;

    XLstatus Activate();
    XLstatus Deactivate();
    XLstatus SetParams(const XLchipParams& params);
    XLstatus SetOutput(int mode);
    XLstatus SetAcceptance(uint32_t code, uint32_t mask, uint32_t range);
    XLstatus Flush();
    // Gives the receive queue room for events (brought into its range), empty.
    void SetQueueCapacity(size_t events);
    // Back to a freshly opened, inactive channel: empty queue, normal output, filters open,
    // no bit rate (a source that hands one connection to successive channels).
    void Reset();
    // Takes the oldest event that has arrived; kErrQueueIsEmpty when there is none.
    XLstatus Receive(XLevent& event);
    // Sends one transmit-message event; kErrNotActive when inactive, kErrTxNotPossible silent.
    XLstatus Transmit(const XLevent& event);
    // Blocks up to ms milliseconds until an event has arrived; true when one has. Never polls:
    // it wakes when a frame arrives on an empty queue, else when the newest queued one arrives.
    bool WaitForEvent(uint32_t ms);

    bool IsActive() const;
    bool IsSilent() const;
    uint32_t BitRate() const;

    using TimePoint = std::chrono::steady_clock::time_point;

    // Delivers a frame from the wire: queued when active and accepted by the filter. It
    // arrives at arrival, the end of its wire time (a frame still on the wire is queued but
    // neither received nor flushed before then); the default is at once.
    void DeliverFromWire(const CanFrame& frame, TimePoint arrival = TimePoint{});
    // Queues a chip-state event (for example bus-off with both error counters at 255).
    void DeliverChipState(uint8_t busStatus, uint8_t txErrors, uint8_t rxErrors);

    static constexpr XLstatus kErrTxNotPossible = 118;

  protected:
    XlPort() : queue_(kQueueCapacity), arrival_(kQueueCapacity) {}
    // Puts frame on the source's wire; kSuccess when it was accepted.
    virtual XLstatus SendToWire(const CanFrame& frame) = 0;
    // Lets a source refuse or apply a bit rate (bit/s); the virtual bus takes any.
    virtual XLstatus ApplyBitRate(uint32_t) { return kSuccess; }
    // Told when the channel goes on or off the bus.
    virtual void OnActiveChanged(bool) {}

  private:
    struct Filter {
        uint32_t code = 0;
        uint32_t mask = 0;  // 0 lets every identifier pass
    };
    bool Accepts(uint32_t id) const;
    void Push(const XLevent& event, TimePoint arrival);
    // Caller holds mutex_: whether the oldest event has arrived by now.
    bool HeadArrived(TimePoint now) const;

    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::vector<XLevent> queue_;
    std::vector<TimePoint> arrival_;
    size_t head_ = 0;
    size_t count_ = 0;
    bool overrun_ = false;
    bool active_ = false;
    bool silent_ = false;
    uint32_t bitRate_ = 0;
    Filter standard_;
    Filter extended_;
};

}  // namespace diagbridge::xl
