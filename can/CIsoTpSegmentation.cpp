// The ISO 15765-2 half of CIsoTp: segmentation of requests, reassembly of responses, flow
// control and response-pending waits, on top of the channel's single frames.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "can/CIsoTp.h"

namespace diagbridge {

namespace {

// Protocol control information: high nibble of the first data byte.
enum class FrameKind : uint8_t { kSingle = 0, kFirst = 1, kConsecutive = 2, kFlowControl = 3 };

// Flow status: low nibble of a flow control's first byte.
enum FlowStatus : uint8_t { kFlowContinue = 0, kFlowWait = 1, kFlowOverflow = 2 };

constexpr int32_t kSingleFrameMaxPayload = 7;
constexpr int32_t kFirstFramePayload = 6;
constexpr int32_t kConsecutivePayload = 7;
constexpr uint8_t kSequenceMask = 0x0F;
constexpr uint8_t kSingleFramePadding = 0x00;
constexpr uint8_t kConsecutivePadding = 0x00;
constexpr uint8_t kFlowControlPadding = 0xFF;
constexpr uint8_t kFlowControlMinLength = 3;

constexpr uint8_t kNegativeResponse = 0x7F;
constexpr uint8_t kResponsePending = 0x78;

// Separation time encoding.
constexpr uint8_t kStMaxMilliseconds = 0x7F;
constexpr uint8_t kStFirstMicroseconds = 0xF1;
constexpr uint8_t kStLastMicroseconds = 0xF9;
constexpr uint32_t kStMicrosecondStep = 100;
constexpr uint32_t kStReservedUs = 127000;

FrameKind KindOf(const CCanObj& frame) {
    return static_cast<FrameKind>(frame.data[0] >> 4);
}

// First byte of a frame of kind with low nibble low.
uint8_t Pci(FrameKind kind, uint32_t low) {
    return static_cast<uint8_t>((static_cast<uint32_t>(kind) << 4) | (low & 0x0F));
}

// 03 7F <service> 78: the ECU needs more time.
bool IsResponsePending(const CCanObj& frame) {
    return frame.length >= 4 && frame.data[0] == 0x03 && frame.data[1] == kNegativeResponse &&
           frame.data[3] == kResponsePending;
}

// What a frame heard while an answer is awaited is to the exchange.
enum class FrameRole { kStray, kPending, kAnswer };

FrameRole RoleOf(const CCanObj& frame, const uint8_t* request, size_t requestLength,
                 const IsoTpAnswerRules& rules) {
    if (frame.length == 0) return FrameRole::kStray;
    const FrameKind kind = KindOf(frame);
    // Consecutive frames and flow controls cannot start an answer.
    if (kind != FrameKind::kSingle && kind != FrameKind::kFirst) return FrameRole::kStray;
    if (rules.matches == nullptr) {
        return IsResponsePending(frame) ? FrameRole::kPending : FrameRole::kAnswer;
    }
    if (kind == FrameKind::kSingle) {
        const size_t length = frame.data[0] & 0x0F;
        // A broken single frame is reported as such by its reader.
        if (length == 0 || length > kSingleFrameMaxPayload || length >= frame.length) {
            return FrameRole::kAnswer;
        }
        if (IsResponsePending(frame)) {
            return frame.data[2] == request[0] ? FrameRole::kPending : FrameRole::kStray;
        }
        return rules.matches(request, requestLength, frame.data + 1, length) ? FrameRole::kAnswer
                                                                             : FrameRole::kStray;
    }
    const size_t shown =
        std::min<size_t>(kFirstFramePayload, frame.length > 2 ? frame.length - 2u : 0u);
    if (shown == 0) return FrameRole::kAnswer;
    return rules.matches(request, requestLength, frame.data + 2, shown) ? FrameRole::kAnswer
                                                                        : FrameRole::kStray;
}

// The time the ECU has left: frameTimeoutMs (or silentAnswerMs) for the first answer; each
// response-pending answer gives it pendingTimeoutMs more, up to pendingTotalMs from the first
// one, so that an ECU that never stops answering pending cannot hold the service.
struct PendingWait {
    uint32_t windowStart = 0;
    uint32_t windowMs = 0;
    uint32_t firstPending = 0;
    bool pending = false;
};

}  // namespace

// Holds the busy flag for a whole exchange; nested guards leave it set.
class CIsoTp::ExchangeGuard {
  public:
    explicit ExchangeGuard(CIsoTp& channel) : channel_(channel), wasBusy_(channel.busy_.load()) {
        channel_.SetBusy(true);
    }
    ~ExchangeGuard() { channel_.SetBusy(wasBusy_); }
    ExchangeGuard(const ExchangeGuard&) = delete;
    ExchangeGuard& operator=(const ExchangeGuard&) = delete;

  private:
    CIsoTp& channel_;
    bool wasBusy_;
};

IsoTpOptions IsoTpOptions::Clamped() const {
    IsoTpOptions clamped = *this;
    clamped.frameTimeoutMs = std::clamp<uint32_t>(frameTimeoutMs, 1, 60000);
    clamped.pendingTimeoutMs = std::clamp<uint32_t>(pendingTimeoutMs, 1, 60000);
    clamped.pendingTotalMs = std::clamp<uint32_t>(pendingTotalMs, 1, 600000);
    clamped.maxFlowControlWaits = std::min<uint32_t>(maxFlowControlWaits, 1000);
    clamped.keepAlivePeriodMs = std::clamp<uint32_t>(keepAlivePeriodMs, 10, 60000);
    clamped.silentAnswerMs = std::clamp<uint32_t>(silentAnswerMs, 1, 60000);
    return clamped;
}

uint32_t CIsoTp::SeparationTimeUs(uint8_t st) {
    if (st <= kStMaxMilliseconds) return uint32_t{st} * 1000;
    if (st >= kStFirstMicroseconds && st <= kStLastMicroseconds) {
        return uint32_t{static_cast<uint8_t>(st - kStFirstMicroseconds + 1)} * kStMicrosecondStep;
    }
    return kStReservedUs;
}

int32_t CIsoTp::Transfer(const uint8_t* request, int32_t requestLength, uint8_t* response,
                         size_t capacity, int32_t* responseLength, const IsoTpAnswerRules& rules) {
    if (responseLength != nullptr) *responseLength = 0;
    if (request == nullptr || response == nullptr || responseLength == nullptr) {
        return kErrBadParameter;
    }
    if (Cancelled()) return kErrAbandoned;
    ExchangeGuard guard(*this);
    const int32_t sent = TransmitMessage(request, requestLength);
    if (sent < 0) return sent;
    const int32_t received =
        ReceiveAnswer(request, static_cast<size_t>(requestLength), response, capacity, rules);
    if (received < 0) return received;
    *responseLength = received;
    return received;
}

int32_t CIsoTp::TransmitMessage(const uint8_t* payload, int32_t length) {
    if (payload == nullptr || length <= 0 || length > kMaxMessageLength) return kErrBadParameter;
    if (!open_) return kErrCommunication;
    if (Cancelled()) return kErrAbandoned;
    ExchangeGuard guard(*this);
    source_->table.flushReceiveQueue(port_);
    if (length <= kSingleFrameMaxPayload) return SendSingleFrame(payload, length);
    return SendSegmented(payload, length);
}

int32_t CIsoTp::SendSingleFrame(const uint8_t* payload, int32_t length) {
    CCanObj frame(transmitId_, CCanObj::kMaxLength);
    std::memset(frame.data, kSingleFramePadding, sizeof(frame.data));
    frame.data[0] = static_cast<uint8_t>(length);
    std::memcpy(frame.data + 1, payload, static_cast<size_t>(length));
    return TransmitFrame(frame) == 1 ? 1 : kErrCommunication;
}

int32_t CIsoTp::SendSegmented(const uint8_t* payload, int32_t length) {
    CCanObj first(transmitId_, CCanObj::kMaxLength);
    first.data[0] = Pci(FrameKind::kFirst, static_cast<uint32_t>(length) >> 8);
    first.data[1] = static_cast<uint8_t>(length & 0xFF);
    std::memcpy(first.data + 2, payload, kFirstFramePayload);
    if (TransmitFrame(first) != 1) return kErrCommunication;
    int32_t offset = kFirstFramePayload;
    uint8_t sequence = 1;
    uint32_t waits = 0;
    while (offset < length) {
        CCanObj flow;
        const int32_t got = WaitFrame(flow, options_.frameTimeoutMs);
        if (got < 0) return got;
        if (KindOf(flow) != FrameKind::kFlowControl || flow.length < kFlowControlMinLength) {
            return kErrCommunication;
        }
        switch (flow.data[0] & 0x0F) {
            case kFlowContinue: {
                waits = 0;
                const int32_t sent =
                    SendBlock(payload, length, offset, sequence, flow.data[1], flow.data[2]);
                if (sent < 0) return sent;
                break;
            }
            case kFlowWait:
                if (++waits > options_.maxFlowControlWaits) return kErrCommunication;
                break;
            default:  // overflow or an invalid status: the receiver cannot take the message
                return kErrCommunication;
        }
    }
    return 1;
}

int32_t CIsoTp::SendBlock(const uint8_t* payload, int32_t length, int32_t& offset,
                          uint8_t& sequence, uint8_t blockSize, uint8_t st) {
    uint32_t sent = 0;
    while (offset < length) {
        CCanObj frame(transmitId_, CCanObj::kMaxLength);
        std::memset(frame.data, kConsecutivePadding, sizeof(frame.data));
        frame.data[0] = Pci(FrameKind::kConsecutive, sequence);
        const int32_t count = std::min(kConsecutivePayload, length - offset);
        std::memcpy(frame.data + 1, payload + offset, static_cast<size_t>(count));
        if (TransmitFrame(frame) != 1) return kErrCommunication;
        offset += count;
        ++sequence;
        ++sent;
        if (offset < length) {
            WaitSeparation(st);
            if (Cancelled()) return kErrAbandoned;
        }
        if (blockSize != 0 && sent == blockSize) break;
    }
    return 1;
}

void CIsoTp::WaitSeparation(uint8_t st) {
    const uint32_t us = SeparationTimeUs(st);
    if (us == 0) return;
    if (us % 1000 == 0) {
        platform::Clock().SleepMs(us / 1000, cancel_);
        return;
    }
    // Below the clock's millisecond resolution.
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

int32_t CIsoTp::WaitFrame(CCanObj& frame, uint32_t timeoutMs) {
    if (ReceiveFrame(frame, receiveId_, timeoutMs) == 1) return 1;
    return Cancelled() ? kErrAbandoned : kErrTimedOut;
}

int32_t CIsoTp::ReceiveMessage(uint8_t* buffer, size_t capacity) {
    return ReceiveAnswer(nullptr, 0, buffer, capacity, IsoTpAnswerRules{});
}

int32_t CIsoTp::ReceiveAnswer(const uint8_t* request, size_t requestLength, uint8_t* buffer,
                              size_t capacity, const IsoTpAnswerRules& rules) {
    if (buffer == nullptr || capacity == 0) return kErrBadParameter;
    if (!open_) return kErrCommunication;
    ExchangeGuard guard(*this);
    CCanObj frame;
    const int32_t got = WaitFirstAnswerFrame(request, requestLength, rules, frame);
    if (got <= 0) return got;
    if (KindOf(frame) == FrameKind::kSingle) return OnSingleFrame(frame, buffer, capacity);
    return OnFirstFrame(frame, buffer, capacity);
}

int32_t CIsoTp::WaitFirstAnswerFrame(const uint8_t* request, size_t requestLength,
                                     const IsoTpAnswerRules& rules, CCanObj& frame) {
    platform::IClock& clock = platform::Clock();
    PendingWait wait;
    wait.windowStart = clock.TickMs();
    wait.windowMs = rules.maySuppress ? options_.silentAnswerMs : options_.frameTimeoutMs;
    for (;;) {
        // A stream of stray frames must not outlast a cancel.
        if (Cancelled()) return kErrAbandoned;
        const uint32_t elapsed = platform::ElapsedMs(wait.windowStart, clock.TickMs());
        const int32_t got =
            elapsed >= wait.windowMs ? kErrTimedOut : WaitFrame(frame, wait.windowMs - elapsed);
        if (got == kErrTimedOut && rules.maySuppress && !wait.pending) return kNoAnswer;
        if (got < 0) return got;
        const FrameRole role = RoleOf(frame, request, requestLength, rules);
        if (role == FrameRole::kAnswer) return 1;
        if (role == FrameRole::kStray) continue;
        const uint32_t now = clock.TickMs();
        if (!wait.pending) wait.firstPending = now;
        wait.pending = true;
        const uint32_t sincePending = platform::ElapsedMs(wait.firstPending, now);
        if (sincePending >= options_.pendingTotalMs) return kErrTimedOut;
        wait.windowStart = now;
        wait.windowMs = std::min(options_.pendingTimeoutMs, options_.pendingTotalMs - sincePending);
    }
}

int32_t CIsoTp::OnSingleFrame(const CCanObj& frame, uint8_t* buffer, size_t capacity) {
    const int32_t length = frame.data[0] & 0x0F;
    if (length == 0 || length > kSingleFrameMaxPayload || length >= frame.length) {
        return kErrCommunication;
    }
    if (static_cast<size_t>(length) > capacity) return kErrBadParameter;
    std::memcpy(buffer, frame.data + 1, static_cast<size_t>(length));
    return length;
}

int32_t CIsoTp::OnFirstFrame(const CCanObj& frame, uint8_t* buffer, size_t capacity) {
    const int32_t total = ((frame.data[0] & 0x0F) << 8) | frame.data[1];
    // A first frame is full and announces more than a single frame holds.
    if (frame.length < CCanObj::kMaxLength || total <= kSingleFrameMaxPayload) {
        return kErrCommunication;
    }
    if (static_cast<size_t>(total) > capacity) {
        SendFlowControl(kFlowOverflow);
        return kErrCommunication;
    }
    std::memcpy(buffer, frame.data + 2, kFirstFramePayload);
    const int32_t sent = SendFlowControl(kFlowContinue);
    if (sent < 0) return sent;
    return ReceiveConsecutiveFrames(buffer, static_cast<size_t>(total));
}

int32_t CIsoTp::ReceiveConsecutiveFrames(uint8_t* buffer, size_t total) {
    size_t received = kFirstFramePayload;
    uint8_t sequence = 1;
    while (received < total) {
        CCanObj frame;
        const int32_t got = WaitFrame(frame, options_.frameTimeoutMs);
        if (got < 0) return got;
        if (KindOf(frame) != FrameKind::kConsecutive ||
            (frame.data[0] & kSequenceMask) != (sequence & kSequenceMask)) {
            return kErrCommunication;
        }
        const size_t count = std::min<size_t>(kConsecutivePayload, total - received);
        if (frame.length < count + 1) return kErrCommunication;
        std::memcpy(buffer + received, frame.data + 1, count);
        received += count;
        ++sequence;
    }
    return static_cast<int32_t>(total);
}

int32_t CIsoTp::SendFlowControl(uint8_t status) {
    CCanObj frame(transmitId_, CCanObj::kMaxLength);
    std::memset(frame.data, kFlowControlPadding, sizeof(frame.data));
    frame.data[0] = Pci(FrameKind::kFlowControl, status);
    frame.data[1] = 0;  // block size: all consecutive frames without further flow control
    frame.data[2] = 0;  // separation time: as fast as the ECU can
    return TransmitFrame(frame) == 1 ? 1 : kErrCommunication;
}

}  // namespace diagbridge
