#include "can/CIsoTp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "platform/Notifier.h"
#include "platform/ThreadName.h"

namespace diagbridge {

namespace {

constexpr char kApplicationName[] = "xlCANcontrol";
constexpr uint32_t kReceiveQueueSize = 256;
constexpr uint32_t kDiagnosticCode = 0x18DA0000u;
constexpr uint32_t kDiagnosticMask = 0x1FFF0000u;
// A standard identifier never equals 0xFFF, so this closes the filter for 11-bit frames.
constexpr uint32_t kStandardClosedCode = 0xFFFu;
constexpr uint32_t kStandardClosedMask = 0xFFFu;
constexpr uint32_t kPhysicalBase = 0x18DA0000u;
constexpr uint32_t kFunctionalBase = 0x18DBFF00u;
constexpr uint8_t kErrorCounterBusOff = 255;

constexpr uint16_t kDetectionRates[] = {667, 250, 500};
constexpr int32_t kDetectionMinFrames = 4;
constexpr uint32_t kProbeWindowMs = 150;
constexpr uint32_t kProbeSleepMs = 1;
// Longest blocking wait before the cancel flag is looked at again.
constexpr uint32_t kCancelCheckMs = 50;
constexpr uint32_t kPollSleepMs = 1;

constexpr uint8_t kTesterPresentFrame[CCanObj::kMaxLength] = {0x02, 0x3E, 0x80, 0, 0, 0, 0, 0};

struct BitTiming {
    uint16_t rateKbit;
    uint32_t bitRate;
    uint8_t prescaler;  // SJA1000 style; the library computes its own
    uint8_t sjw;
    uint8_t tseg1;
    uint8_t tseg2;
};

constexpr BitTiming kDefaultTiming = {125, 125000, 4, 1, 13, 2};
constexpr BitTiming kBitTimings[] = {
    {250, 250000, 2, 1, 11, 4}, {400, 400000, 2, 2, 7, 2},   {500, 500000, 1, 2, 11, 4},
    {667, 666666, 1, 2, 8, 3},  {1000, 1000000, 1, 3, 5, 2},
};

// The lock that serialises every xlCanTransmit through one driver source, across channels
// and threads. A process has one vendor library, so there it covers every transmit of the
// process; sources of our own (separate virtual buses, hubs) do not wait for each other.
std::shared_ptr<std::mutex> TransmitLockFor(const xl::XlSource* source) {
    static std::mutex guard;
    static std::map<const xl::XlSource*, std::weak_ptr<std::mutex>> locks;
    std::lock_guard lock(guard);
    std::erase_if(locks, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<std::mutex>& slot = locks[source];
    std::shared_ptr<std::mutex> shared = slot.lock();
    if (!shared) {
        shared = std::make_shared<std::mutex>();
        slot = shared;
    }
    return shared;
}

std::shared_ptr<xl::XlSource> LoadFromEnvironment() {
    std::string failure;
    auto source = xl::LoadXlSource(xl::XlSourceSelector(), failure);
    if (!source) {
        char text[512];
        std::snprintf(text, sizeof(text), "Load Error: %s", failure.c_str());
        platform::Notify(text);
    }
    return source;
}

bool IsBusOff(const xl::XLevent& event) {
    return event.tag == xl::kTagChipState && event.tagData.chipState.busStatus == xl::kChipBusOff &&
           event.tagData.chipState.txErrorCounter == kErrorCounterBusOff &&
           event.tagData.chipState.rxErrorCounter == kErrorCounterBusOff;
}

}  // namespace

CIsoTp::CIsoTp() : CIsoTp(LoadFromEnvironment()) {}

CIsoTp::CIsoTp(std::shared_ptr<xl::XlSource> source)
    : source_(std::move(source)), transmitLock_(TransmitLockFor(source_.get())) {}

CIsoTp::~CIsoTp() {
    Close();
}

xl::XLchipParams CIsoTp::ChipParamsFor(uint16_t rateKbit) {
    BitTiming timing = kDefaultTiming;
    for (const BitTiming& row : kBitTimings) {
        if (row.rateKbit == rateKbit) timing = row;
    }
    return {timing.bitRate & ~1u, timing.sjw, timing.tseg1, timing.tseg2, 1};
}

uint32_t CIsoTp::PhysicalId(uint8_t target, uint8_t source) {
    return (kPhysicalBase + (uint32_t{target} << 8) + source) | CCanObj::kExtendedId;
}

uint32_t CIsoTp::FunctionalTesterPresentId(uint8_t tester) {
    return (kFunctionalBase + tester) | CCanObj::kExtendedId;
}

int32_t CIsoTp::Open(uint16_t rateKbit, uint8_t ecuAddress, uint8_t testerAddress,
                     int32_t keepAliveMode) {
    if (open_) Close();
    if (!source_) return 0;
    keepAliveMode_ = keepAliveMode;
    ecuAddress_ = ecuAddress;
    testerAddress_ = testerAddress;
    transmitId_ = PhysicalId(ecuAddress, testerAddress);
    receiveId_ = PhysicalId(testerAddress, ecuAddress);
    functionalId_ = FunctionalTesterPresentId(testerAddress);
    chipParams_ = ChipParamsFor(rateKbit);
    accessMask_ = 1;
    if (!OpenPort()) return 0;
    if (!SetRateOrDetect(rateKbit)) {
        ReleasePort();
        return 0;
    }
    const xl::XlDriverTable& api = source_->table;
    api.canSetChannelAcceptance(port_, accessMask_, kDiagnosticCode, kDiagnosticMask,
                                xl::kAcceptanceExtended);
    api.canSetChannelAcceptance(port_, accessMask_, kStandardClosedCode, kStandardClosedMask,
                                xl::kAcceptanceStandard);
    ActivateChannel();
    open_ = true;
    SetBusy(false);
    if (keepAliveMode_ != kKeepAliveNone) StartKeepAlive();
    return 1;
}

bool CIsoTp::OpenPort() {
    const xl::XlDriverTable& api = source_->table;
    api.openDriver();
    xl::XLaccess permission = accessMask_;
    char name[sizeof(kApplicationName)];
    std::memcpy(name, kApplicationName, sizeof(name));
    const xl::XLstatus status =
        api.openPort(&port_, name, accessMask_, &permission, kReceiveQueueSize,
                     xl::kInterfaceVersion, xl::kBusTypeCan);
    if (status == xl::kSuccess) return true;
    port_ = xl::kInvalidPort;
    api.closeDriver();
    return false;
}

bool CIsoTp::SetRateOrDetect(uint16_t rateKbit) {
    const xl::XlDriverTable& api = source_->table;
    const bool modeSet = api.canSetChannelMode(port_, accessMask_, 0, 0) == xl::kSuccess;
    if (modeSet && rateKbit != 0 &&
        api.canSetChannelParams(port_, accessMask_, &chipParams_) == xl::kSuccess) {
        return true;
    }
    return DetectBitRate();
}

// A silent pass first, so that a listening tester disturbs no running bus; then a normal pass,
// for a bus whose only other node needs an acknowledge before it repeats its frames.
bool CIsoTp::DetectBitRate() {
    const xl::XlDriverTable& api = source_->table;
    api.canSetChannelOutput(port_, accessMask_, xl::kOutputSilent);
    bool found = DetectionPass();
    api.canSetChannelOutput(port_, accessMask_, xl::kOutputNormal);
    if (!found && !Cancelled()) found = DetectionPass();
    return found;
}

bool CIsoTp::DetectionPass() {
    for (uint16_t rate : kDetectionRates) {
        if (Cancelled()) return false;
        if (ProbeBitRate(rate) >= kDetectionMinFrames) return true;
    }
    return false;
}

int32_t CIsoTp::ProbeBitRate(uint16_t rateKbit) {
    if (port_ == xl::kInvalidPort) return 0;
    const xl::XlDriverTable& api = source_->table;
    api.deactivateChannel(port_, accessMask_);
    chipParams_ = ChipParamsFor(rateKbit);
    // An interface that cannot run the rate would listen at the previous one.
    if (api.canSetChannelParams(port_, accessMask_, &chipParams_) != xl::kSuccess) return 0;
    api.canSetChannelMode(port_, accessMask_, 0, 0);
    // Frames still queued from before were heard at another rate.
    api.flushReceiveQueue(port_);
    ActivateChannel();
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    int32_t count = 0;
    CCanObj frame;
    while (platform::ElapsedMs(start, clock.TickMs()) < kProbeWindowMs) {
        count += ReceiveFrame(frame, kAnyIdentifier, 0);
        if (!clock.SleepMs(kProbeSleepMs, cancel_)) break;
    }
    api.deactivateChannel(port_, accessMask_);
    return count;
}

void CIsoTp::ActivateChannel() {
    source_->table.activateChannel(port_, accessMask_, xl::kBusTypeCan, xl::kActivateResetClock);
}

void CIsoTp::ReleasePort() {
    const xl::XlDriverTable& api = source_->table;
    api.deactivateChannel(port_, accessMask_);
    api.closePort(port_);
    api.closeDriver();
    port_ = xl::kInvalidPort;
}

void CIsoTp::Close() {
    if (open_) {
        StopKeepAlive();
        ReleasePort();
    }
    open_ = false;
}

int32_t CIsoTp::TransmitFrame(const CCanObj& frame) {
    std::lock_guard lock(*transmitLock_);
    return SendLocked(frame);
}

int32_t CIsoTp::SendLocked(const CCanObj& frame) {
    if (port_ == xl::kInvalidPort) return 0;
    xl::XLevent event{};
    event.tag = xl::kTagTransmitMsg;
    event.tagData.msg.id = frame.identifier;
    event.tagData.msg.flags = 0;
    event.tagData.msg.dlc = std::min(frame.length, CCanObj::kMaxLength);
    std::memcpy(event.tagData.msg.data, frame.data, CCanObj::kMaxLength);
    uint32_t count = 1;
    return source_->table.canTransmit(port_, accessMask_, &count, &event) == xl::kSuccess ? 1 : 0;
}

int32_t CIsoTp::ReceiveFrame(CCanObj& frame, int64_t wanted, uint32_t timeoutMs) {
    if (port_ == xl::kInvalidPort) return 0;
    const xl::XlDriverTable& api = source_->table;
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    uint32_t waitedMs = 0;
    for (;;) {
        xl::XLevent event{};
        uint32_t count = 1;
        const xl::XLstatus status = api.receive(port_, &count, &event);
        if (status != xl::kSuccess && status != xl::kErrQueueIsEmpty) return 0;
        const bool gotEvent = status == xl::kSuccess && count == 1;
        if (gotEvent && TakeEvent(event, wanted, frame)) return 1;
        const uint32_t elapsed = std::max(platform::ElapsedMs(start, clock.TickMs()), waitedMs);
        if (elapsed >= timeoutMs || Cancelled()) return 0;
        if (!gotEvent) WaitForQueue(std::min(timeoutMs - elapsed, kCancelCheckMs), waitedMs);
    }
}

// Waits for the source's notification; waitedMs adds up the waits that timed out, so that a
// time-out ends even while a test holds the clock still.
void CIsoTp::WaitForQueue(uint32_t ms, uint32_t& waitedMs) {
    if (source_->waitForEvent == nullptr) {
        platform::Clock().SleepMs(kPollSleepMs, cancel_);
        return;
    }
    if (!source_->waitForEvent(port_, ms)) waitedMs += ms;
}

bool CIsoTp::TakeEvent(const xl::XLevent& event, int64_t wanted, CCanObj& frame) {
    if (IsBusOff(event)) {
        source_->table.deactivateChannel(port_, accessMask_);
        ActivateChannel();
        return false;
    }
    if (event.tag != xl::kTagReceiveMsg) return false;
    const xl::XLcanMsg& message = event.tagData.msg;
    if ((message.flags & (xl::kMsgFlagErrorFrame | xl::kMsgFlagOverrun)) != 0) return false;
    if (wanted != kAnyIdentifier && static_cast<int64_t>(message.id) != wanted) return false;
    frame.identifier = message.id;
    frame.length = static_cast<uint8_t>(std::min<uint16_t>(message.dlc, CCanObj::kMaxLength));
    frame.time = static_cast<uint32_t>(event.timeStamp / 1000000u);
    std::memcpy(frame.data, message.data, CCanObj::kMaxLength);
    return true;
}

void CIsoTp::SetBusy(bool busy) {
    std::lock_guard lock(*transmitLock_);
    busy_ = busy;
}

void CIsoTp::StartKeepAlive() {
    const uint32_t id = keepAliveMode_ == kKeepAliveFunctional ? functionalId_ : transmitId_;
    const CCanObj frame(id, CCanObj::kMaxLength, kTesterPresentFrame);
    keepAliveStop_.Reset();
    alive_ = true;
    const uint32_t periodMs = options_.keepAlivePeriodMs;
    keepAlive_ = std::thread([this, frame, periodMs] { KeepAliveLoop(frame, periodMs); });
}

void CIsoTp::StopKeepAlive() {
    SetBusy(true);
    alive_ = false;
    keepAliveStop_.Set();
    if (keepAlive_.joinable()) keepAlive_.join();
}

// The busy flag is read under the transmit lock, so that no tester present slips in after an
// exchange has begun.
void CIsoTp::KeepAliveLoop(CCanObj frame, uint32_t periodMs) {
    platform::NameThisThread(kKeepAliveThreadName);
    while (alive_) {
        if (!platform::Clock().SleepMs(periodMs, &keepAliveStop_)) break;
        std::lock_guard lock(*transmitLock_);
        if (alive_ && !busy_) SendLocked(frame);
    }
}

}  // namespace diagbridge
