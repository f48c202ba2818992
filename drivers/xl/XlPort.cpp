#include "drivers/xl/XlPort.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace diagbridge::xl {

namespace {
uint64_t Nanoseconds(XlPort::TimePoint at) {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<nanoseconds>(at.time_since_epoch()).count());
}
}  // namespace

XLstatus XlPort::Activate() {
    {
        std::lock_guard lock(mutex_);
        active_ = true;
    }
    OnActiveChanged(true);
    return kSuccess;
}

XLstatus XlPort::Deactivate() {
    {
        std::lock_guard lock(mutex_);
        active_ = false;
    }
    OnActiveChanged(false);
    return kSuccess;
}

XLstatus XlPort::SetParams(const XLchipParams& params) {
    if (params.bitRate == 0) return kErrWrongParameter;
    const XLstatus applied = ApplyBitRate(params.bitRate);
    if (applied != kSuccess) return applied;
    std::lock_guard lock(mutex_);
    bitRate_ = params.bitRate;
    return kSuccess;
}

XLstatus XlPort::SetOutput(int mode) {
    if (mode != kOutputSilent && mode != kOutputNormal) return kErrWrongParameter;
    std::lock_guard lock(mutex_);
    silent_ = mode == kOutputSilent;
    return kSuccess;
}

XLstatus XlPort::SetAcceptance(uint32_t code, uint32_t mask, uint32_t range) {
    std::lock_guard lock(mutex_);
    if (range == kAcceptanceStandard) {
        standard_ = {code, mask};
    } else if (range == kAcceptanceExtended) {
        extended_ = {code, mask};
    } else {
        return kErrWrongParameter;
    }
    return kSuccess;
}

// Frames still on the wire are not yet received, so they stay.
XLstatus XlPort::Flush() {
    std::lock_guard lock(mutex_);
    const TimePoint now = std::chrono::steady_clock::now();
    while (count_ > 0 && HeadArrived(now)) {
        head_ = (head_ + 1) % queue_.size();
        --count_;
    }
    overrun_ = false;
    return kSuccess;
}

void XlPort::SetQueueCapacity(size_t events) {
    const size_t capacity = std::clamp(events, kQueueCapacity, kMaxQueueCapacity);
    std::lock_guard lock(mutex_);
    queue_.assign(capacity, XLevent{});
    arrival_.assign(capacity, TimePoint{});
    head_ = 0;
    count_ = 0;
    overrun_ = false;
}

void XlPort::Reset() {
    std::lock_guard lock(mutex_);
    count_ = 0;
    overrun_ = false;
    active_ = false;
    silent_ = false;
    bitRate_ = 0;
    standard_ = Filter{};
    extended_ = Filter{};
}

bool XlPort::HeadArrived(TimePoint now) const {
    return arrival_[head_] <= now;
}

XLstatus XlPort::Receive(XLevent& event) {
    std::lock_guard lock(mutex_);
    if (count_ == 0 || !HeadArrived(std::chrono::steady_clock::now())) return kErrQueueIsEmpty;
    event = queue_[head_];
    head_ = (head_ + 1) % queue_.size();
    --count_;
    return kSuccess;
}

XLstatus XlPort::Transmit(const XLevent& event) {
    if (event.tag != kTagTransmitMsg || event.tagData.msg.dlc > kMaxDataLength) {
        return kErrWrongParameter;
    }
    {
        std::lock_guard lock(mutex_);
        if (!active_) return kErrNotActive;
        if (silent_) return kErrTxNotPossible;
    }
    CanFrame frame;
    frame.id = event.tagData.msg.id;
    frame.dlc = static_cast<uint8_t>(event.tagData.msg.dlc);
    std::memcpy(frame.data, event.tagData.msg.data, kMaxDataLength);
    return SendToWire(frame);
}

// Sleeps until the newest queued event has arrived, or until one is queued: a stream of frames
// is taken in batches, at most a sender's transmit queue late, while a frame that asks for an
// answer is the last one its sender queued and is seen the moment it arrives. A push wakes the
// waiter only when the queue was empty.
bool XlPort::WaitForEvent(uint32_t ms) {
    using std::chrono::steady_clock;
    const TimePoint deadline = steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(mutex_);
    for (;;) {
        const TimePoint now = steady_clock::now();
        if (count_ > 0 && HeadArrived(now)) return true;
        if (now >= deadline) return false;
        const size_t newest = (head_ + count_ + queue_.size() - 1) % queue_.size();
        const TimePoint until = count_ > 0 ? std::min(arrival_[newest], deadline) : deadline;
        queued_.wait_until(lock, until);
    }
}

bool XlPort::IsActive() const {
    std::lock_guard lock(mutex_);
    return active_;
}

bool XlPort::IsSilent() const {
    std::lock_guard lock(mutex_);
    return silent_;
}

uint32_t XlPort::BitRate() const {
    std::lock_guard lock(mutex_);
    return bitRate_;
}

bool XlPort::Accepts(uint32_t id) const {
    const bool extended = (id & kExtendedId) != 0;
    const Filter& filter = extended ? extended_ : standard_;
    const uint32_t bare = id & ~kExtendedId;
    return (bare & filter.mask) == (filter.code & filter.mask);
}

void XlPort::DeliverFromWire(const CanFrame& frame, TimePoint arrival) {
    XLevent event{};
    event.tag = kTagReceiveMsg;
    event.timeStamp = Nanoseconds(std::max(arrival, std::chrono::steady_clock::now()));
    event.tagData.msg.id = frame.id;
    event.tagData.msg.dlc = frame.dlc;
    std::memcpy(event.tagData.msg.data, frame.data, kMaxDataLength);
    std::lock_guard lock(mutex_);
    if (!active_ || !Accepts(frame.id)) return;
    Push(event, arrival);
}

void XlPort::DeliverChipState(uint8_t busStatus, uint8_t txErrors, uint8_t rxErrors) {
    XLevent event{};
    event.tag = kTagChipState;
    event.timeStamp = Nanoseconds(std::chrono::steady_clock::now());
    event.tagData.chipState = {busStatus, txErrors, rxErrors};
    std::lock_guard lock(mutex_);
    Push(event, TimePoint{});
}

// Caller holds mutex_. A full queue drops the frame and marks the next one as overrun, as the
// library does, so that the reader knows data is missing. Events arrive in queue order: none
// before the one queued ahead of it.
void XlPort::Push(const XLevent& event, TimePoint arrival) {
    if (count_ == queue_.size()) {
        overrun_ = true;
        return;
    }
    const size_t at = (head_ + count_) % queue_.size();
    const size_t ahead = (at + queue_.size() - 1) % queue_.size();
    arrival_[at] = count_ > 0 ? std::max(arrival, arrival_[ahead]) : arrival;
    XLevent& slot = queue_[at];
    slot = event;
    if (overrun_ && slot.tag == kTagReceiveMsg) slot.tagData.msg.flags |= kMsgFlagOverrun;
    overrun_ = false;
    ++count_;
    // A waiter with events queued already sleeps until the oldest one's arrival.
    if (count_ == 1) queued_.notify_all();
}

}  // namespace diagbridge::xl
