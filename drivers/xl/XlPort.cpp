#include "drivers/xl/XlPort.h"

#include <chrono>
#include <cstring>

namespace diagbridge::xl {

namespace {
uint64_t NowNs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
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

XLstatus XlPort::Flush() {
    std::lock_guard lock(mutex_);
    count_ = 0;
    overrun_ = false;
    return kSuccess;
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

XLstatus XlPort::Receive(XLevent& event) {
    std::lock_guard lock(mutex_);
    if (count_ == 0) return kErrQueueIsEmpty;
    event = queue_[head_];
    head_ = (head_ + 1) % kQueueCapacity;
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

bool XlPort::WaitForEvent(uint32_t ms) {
    std::unique_lock lock(mutex_);
    return queued_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return count_ > 0; });
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

void XlPort::DeliverFromWire(const CanFrame& frame) {
    XLevent event{};
    event.tag = kTagReceiveMsg;
    event.timeStamp = NowNs();
    event.tagData.msg.id = frame.id;
    event.tagData.msg.dlc = frame.dlc;
    std::memcpy(event.tagData.msg.data, frame.data, kMaxDataLength);
    std::lock_guard lock(mutex_);
    if (!active_ || !Accepts(frame.id)) return;
    Push(event);
}

void XlPort::DeliverChipState(uint8_t busStatus, uint8_t txErrors, uint8_t rxErrors) {
    XLevent event{};
    event.tag = kTagChipState;
    event.timeStamp = NowNs();
    event.tagData.chipState = {busStatus, txErrors, rxErrors};
    std::lock_guard lock(mutex_);
    Push(event);
}

// Caller holds mutex_. A full queue drops the frame and marks the next one as overrun, as the
// library does, so that the reader knows data is missing.
void XlPort::Push(const XLevent& event) {
    if (count_ == kQueueCapacity) {
        overrun_ = true;
        return;
    }
    XLevent& slot = queue_[(head_ + count_) % kQueueCapacity];
    slot = event;
    if (overrun_ && slot.tag == kTagReceiveMsg) slot.tagData.msg.flags |= kMsgFlagOverrun;
    overrun_ = false;
    ++count_;
    queued_.notify_all();
}

}  // namespace diagbridge::xl
