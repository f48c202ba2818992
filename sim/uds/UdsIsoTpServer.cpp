#include "sim/uds/UdsIsoTpServer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Clock.h"

namespace diagbridge::sim {

namespace {

enum class FrameKind : uint8_t { kSingle = 0, kFirst = 1, kConsecutive = 2, kFlowControl = 3 };
enum FlowStatus : uint8_t { kContinue = 0, kWait = 1, kOverflow = 2 };

constexpr size_t kSinglePayload = 7;
constexpr size_t kFirstPayload = 6;
constexpr size_t kConsecutivePayload = 7;
constexpr uint8_t kFlowControlMinLength = 3;
// Normal fixed addressing (ISO 15765-2): 0x18DA<target><source> physical, 0x18DB<target><source>
// functional with target 0xFF for all ECUs.
constexpr uint32_t kPhysicalBase = 0x18DA0000u;
constexpr uint32_t kFunctionalBase = 0x18DBFF00u;

uint32_t Physical(uint8_t target, uint8_t source) {
    return (kPhysicalBase | uint32_t{target} << 8 | source) | xl::kExtendedId;
}

// STmin: 0x00..0x7F milliseconds, 0xF1..0xF9 100..900 microseconds; the reserved values are
// read as the longest time, 127 ms.
uint32_t SeparationMicroseconds(uint8_t st) {
    if (st <= 0x7F) return st * 1000u;
    if (st >= 0xF1 && st <= 0xF9) return (st - 0xF0u) * 100u;
    return 127000u;
}

FrameKind KindOf(const xl::CanFrame& frame) {
    return static_cast<FrameKind>(frame.data[0] >> 4);
}

uint8_t Pci(FrameKind kind, uint32_t low) {
    return static_cast<uint8_t>((static_cast<uint32_t>(kind) << 4) | (low & 0x0F));
}

}  // namespace

UdsIsoTpServer::UdsIsoTpServer(UdsEcuLink& link, uint8_t ecuAddress, uint8_t testerAddress)
    : link_(link),
      requestId_(Physical(ecuAddress, testerAddress)),
      responseId_(Physical(testerAddress, ecuAddress)),
      functionalId_((kFunctionalBase + testerAddress) | xl::kExtendedId) {}

bool UdsIsoTpServer::IsRequestStart(const xl::CanFrame& frame) const {
    if (frame.dlc == 0) return false;
    const FrameKind kind = KindOf(frame);
    if (frame.id == requestId_) return kind == FrameKind::kSingle || kind == FrameKind::kFirst;
    return frame.id == functionalId_ && kind == FrameKind::kSingle;
}

bool UdsIsoTpServer::NextFrame(xl::CanFrame& frame, uint32_t waitMs) {
    if (holding_) {
        frame = held_;
        holding_ = false;
        return true;
    }
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    uint32_t left = waitMs;
    while (link_.Receive(frame, left)) {
        if (frame.dlc > 0 && (frame.id == requestId_ || frame.id == functionalId_)) return true;
        const uint32_t elapsed = platform::ElapsedMs(start, clock.TickMs());
        if (elapsed >= waitMs) return false;
        left = waitMs - elapsed;
    }
    return false;
}

bool UdsIsoTpServer::ReceiveRequest(Request& request, uint32_t waitMs) {
    xl::CanFrame frame;
    if (!NextFrame(frame, waitMs) || !IsRequestStart(frame)) return false;
    if (KindOf(frame) == FrameKind::kFirst) return OnFirstFrame(frame, request);
    const size_t length = frame.data[0] & 0x0F;
    if (length == 0 || length > kSinglePayload || length >= frame.dlc) return false;
    std::memcpy(request.data, frame.data + 1, length);
    request.length = length;
    request.functional = frame.id == functionalId_;
    return true;
}

bool UdsIsoTpServer::OnFirstFrame(const xl::CanFrame& first, Request& request) {
    const size_t total = (size_t{first.data[0] & 0x0Fu} << 8) | first.data[1];
    if (first.dlc < xl::kMaxDataLength || total <= kSinglePayload) return false;
    if (faults_.flowControlOverflow) {
        SendFlowControl(kOverflow);
        return false;
    }
    std::memcpy(request.data, first.data + 2, kFirstPayload);
    if (!ReceiveConsecutive(request, total)) return false;
    request.length = total;
    request.functional = false;
    return true;
}

// A new single or first frame from the tester ends the broken request and is kept as the
// start of the next one.
bool UdsIsoTpServer::ReceiveConsecutive(Request& request, size_t total) {
    size_t received = kFirstPayload;
    uint8_t sequence = 1;
    while (received < total) {
        for (uint32_t i = 0; i < faults_.flowControlWaits; ++i) SendFlowControl(kWait);
        if (!SendFlowControl(kContinue)) return false;
        uint32_t inBlock = 0;
        while (received < total && (flow_.blockSize == 0 || inBlock < flow_.blockSize)) {
            xl::CanFrame frame;
            if (!NextFrame(frame, kFrameTimeoutMs)) return false;
            // Functional frames are messages of their own.
            if (frame.id != requestId_) continue;
            if (IsRequestStart(frame)) {
                held_ = frame;
                holding_ = true;
                return false;
            }
            if (KindOf(frame) != FrameKind::kConsecutive ||
                (frame.data[0] & 0x0F) != (sequence & 0x0F)) {
                return false;
            }
            const size_t count = std::min(kConsecutivePayload, total - received);
            if (frame.dlc < count + 1) return false;
            std::memcpy(request.data + received, frame.data + 1, count);
            received += count;
            ++sequence;
            ++inBlock;
        }
    }
    return true;
}

bool UdsIsoTpServer::SendFrame(const uint8_t (&data)[xl::kMaxDataLength]) {
    xl::CanFrame frame;
    frame.id = responseId_;
    frame.dlc = xl::kMaxDataLength;
    std::memcpy(frame.data, data, sizeof(data));
    return link_.Send(frame);
}

bool UdsIsoTpServer::SendFlowControl(uint8_t status) {
    uint8_t data[xl::kMaxDataLength];
    std::memset(data, kPadding, sizeof(data));
    data[0] = Pci(FrameKind::kFlowControl, status);
    data[1] = flow_.blockSize;
    data[2] = flow_.separationTime;
    return SendFrame(data);
}

UdsIsoTpServer::SendResult UdsIsoTpServer::Send(const uint8_t* payload, size_t length) {
    if (payload == nullptr || length == 0 || length > kMaxMessage) return SendResult::kRefused;
    uint8_t data[xl::kMaxDataLength];
    std::memset(data, kPadding, sizeof(data));
    if (length <= kSinglePayload) {
        data[0] = static_cast<uint8_t>(length);
        std::memcpy(data + 1, payload, length);
        return SendFrame(data) ? SendResult::kSent : SendResult::kRefused;
    }
    data[0] = Pci(FrameKind::kFirst, static_cast<uint32_t>(length >> 8));
    data[1] = static_cast<uint8_t>(length & 0xFF);
    std::memcpy(data + 2, payload, kFirstPayload);
    if (!SendFrame(data)) return SendResult::kRefused;
    return SendConsecutive(payload, length);
}

UdsIsoTpServer::SendResult UdsIsoTpServer::AwaitClearToSend(uint8_t& blockSize,
                                                            uint8_t& separation) {
    uint32_t waits = 0;
    for (;;) {
        xl::CanFrame frame;
        if (!NextFrame(frame, kFrameTimeoutMs)) return SendResult::kNoFlowControl;
        if (IsRequestStart(frame) && frame.id == requestId_) {
            held_ = frame;
            holding_ = true;
            return SendResult::kInterrupted;
        }
        if (frame.id != requestId_ || KindOf(frame) != FrameKind::kFlowControl ||
            frame.dlc < kFlowControlMinLength) {
            continue;
        }
        switch (frame.data[0] & 0x0F) {
            case kContinue:
                blockSize = frame.data[1];
                separation = frame.data[2];
                return SendResult::kSent;
            case kWait:
                if (++waits > kMaxFlowControlWaits) return SendResult::kNoFlowControl;
                break;
            default:
                return SendResult::kOverflow;
        }
    }
}

UdsIsoTpServer::SendResult UdsIsoTpServer::SendConsecutive(const uint8_t* payload, size_t length) {
    size_t offset = kFirstPayload;
    uint8_t sequence = 1;
    uint32_t number = 0;
    while (offset < length) {
        uint8_t blockSize = 0;
        uint8_t separation = 0;
        const SendResult cleared = AwaitClearToSend(blockSize, separation);
        if (cleared != SendResult::kSent) return cleared;
        for (uint32_t inBlock = 0; offset < length && (blockSize == 0 || inBlock < blockSize);
             ++inBlock) {
            ++number;
            uint8_t data[xl::kMaxDataLength];
            std::memset(data, kPadding, sizeof(data));
            const uint8_t shown = number == faults_.badSequenceFrame ? sequence + 1 : sequence;
            data[0] = Pci(FrameKind::kConsecutive, shown);
            const size_t count = std::min(kConsecutivePayload, length - offset);
            std::memcpy(data + 1, payload + offset, count);
            if (number != faults_.dropConsecutiveFrame && !SendFrame(data)) {
                return SendResult::kRefused;
            }
            offset += count;
            ++sequence;
            if (offset < length) Separate(separation);
        }
    }
    return SendResult::kSent;
}

void UdsIsoTpServer::Separate(uint8_t separation) {
    const uint32_t us = SeparationMicroseconds(separation);
    if (us == 0) return;
    if (us % 1000 == 0) {
        platform::Clock().SleepMs(us / 1000, nullptr);
        return;
    }
    // Below the clock's millisecond resolution.
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace diagbridge::sim
