#include "sim/uds/UdsEcuLink.h"

#include <algorithm>
#include <cstring>

#include "can/CDCVectorUds.h"
#include "can/CIsoTp.h"
#include "platform/Clock.h"

namespace diagbridge::sim {

namespace {

constexpr char kApplicationName[] = "diagbridge-sim";
// More than a controller needs: a loaded machine may hold the ECU's thread for longer than a
// controller's interrupt is ever held, and a lost frame would break the request. 8192 frames
// last 1.1 s at 1 Mbit/s.
constexpr uint32_t kReceiveQueueSize = 8192;
// 0x18DA xxxx (physical) and 0x18DB xxxx (functional) differ only in bit 16.
constexpr uint32_t kDiagnosticCode = 0x18DA0000u;
constexpr uint32_t kDiagnosticMask = 0x1FFE0000u;
constexpr uint32_t kStandardClosedCode = 0xFFFu;
constexpr uint32_t kStandardClosedMask = 0xFFFu;
constexpr uint32_t kPollSleepMs = 1;

}  // namespace

UdsEcuLink::~UdsEcuLink() {
    Close();
}

bool UdsEcuLink::Open(const std::string& selector, uint32_t bitRate, std::string& error) {
    Close();
    source_ = xl::LoadXlSource(selector, error);
    if (!source_) {
        error = "Load Error: " + error;
        return false;
    }
    const xl::XlDriverTable& api = source_->table;
    api.openDriver();
    char name[sizeof(kApplicationName)];
    std::memcpy(name, kApplicationName, sizeof(name));
    xl::XLaccess permission = mask_;
    if (api.openPort(&port_, name, mask_, &permission, kReceiveQueueSize, xl::kInterfaceVersion,
                     xl::kBusTypeCan) != xl::kSuccess) {
        port_ = xl::kInvalidPort;
        error = "cannot open a channel on " + selector;
        Close();
        return false;
    }
    // The same bit timing the tester's channel derives for the rate.
    xl::XLchipParams params = CIsoTp::ChipParamsFor(CDCVectorUds::RateKbit(int32_t(bitRate)));
    if (api.canSetChannelParams(port_, mask_, &params) != xl::kSuccess) {
        error = "the channel refuses " + std::to_string(bitRate) + " bit/s";
        Close();
        return false;
    }
    api.canSetChannelAcceptance(port_, mask_, kDiagnosticCode, kDiagnosticMask,
                                xl::kAcceptanceExtended);
    api.canSetChannelAcceptance(port_, mask_, kStandardClosedCode, kStandardClosedMask,
                                xl::kAcceptanceStandard);
    api.activateChannel(port_, mask_, xl::kBusTypeCan, xl::kActivateResetClock);
    return true;
}

void UdsEcuLink::Close() {
    if (source_ && port_ != xl::kInvalidPort) {
        source_->table.deactivateChannel(port_, mask_);
        source_->table.closePort(port_);
        source_->table.closeDriver();
    }
    port_ = xl::kInvalidPort;
    source_.reset();
}

bool UdsEcuLink::Send(const xl::CanFrame& frame) {
    if (!IsOpen()) return false;
    xl::XLevent event{};
    event.tag = xl::kTagTransmitMsg;
    event.tagData.msg.id = frame.id;
    event.tagData.msg.dlc = std::min<uint8_t>(frame.dlc, xl::kMaxDataLength);
    std::memcpy(event.tagData.msg.data, frame.data, xl::kMaxDataLength);
    uint32_t count = 1;
    return source_->table.canTransmit(port_, mask_, &count, &event) == xl::kSuccess;
}

// Time-outs count both the clock and the waits that ran out, so that they end also while a
// test holds a manual clock still.
bool UdsEcuLink::Receive(xl::CanFrame& frame, uint32_t timeoutMs) {
    if (!IsOpen()) return false;
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    uint32_t waitedMs = 0;
    for (;;) {
        if (TakeFrame(frame)) return true;
        const uint32_t elapsed = std::max(platform::ElapsedMs(start, clock.TickMs()), waitedMs);
        if (elapsed >= timeoutMs) return false;
        WaitForEvent(timeoutMs - elapsed, waitedMs);
    }
}

// Drains events until a data frame without error or overrun flags is found.
bool UdsEcuLink::TakeFrame(xl::CanFrame& frame) {
    for (;;) {
        xl::XLevent event{};
        uint32_t count = 1;
        if (source_->table.receive(port_, &count, &event) != xl::kSuccess || count != 1) {
            return false;
        }
        if (event.tag != xl::kTagReceiveMsg) continue;
        const xl::XLcanMsg& message = event.tagData.msg;
        if ((message.flags & (xl::kMsgFlagErrorFrame | xl::kMsgFlagOverrun)) != 0) continue;
        frame.id = message.id;
        frame.dlc = static_cast<uint8_t>(std::min<uint16_t>(message.dlc, xl::kMaxDataLength));
        std::memcpy(frame.data, message.data, xl::kMaxDataLength);
        return true;
    }
}

void UdsEcuLink::WaitForEvent(uint32_t ms, uint32_t& waitedMs) {
    if (source_->waitForEvent == nullptr) {
        platform::Clock().SleepMs(kPollSleepMs, nullptr);
        waitedMs += kPollSleepMs;
        return;
    }
    if (!source_->waitForEvent(port_, ms)) waitedMs += ms;
}

}  // namespace diagbridge::sim
