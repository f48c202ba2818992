#include "drivers/samtec/SamCanChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace diagbridge::samtec {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr char kApplicationName[] = "SamDiaX";
constexpr uint32_t kQueueSize = 256;
constexpr uint32_t kPollSleepMs = 1;
constexpr uint32_t kMaxFlowControlWaits = 255;

constexpr uint8_t kSingle = 0x00;
constexpr uint8_t kFirst = 0x10;
constexpr uint8_t kConsecutive = 0x20;
constexpr uint8_t kFlowControl = 0x30;
constexpr uint8_t kFlowContinue = 0;
constexpr uint8_t kFlowWait = 1;
constexpr uint8_t kSingleMax = 7;
constexpr uint8_t kFirstPayload = 6;
constexpr uint8_t kConsecutivePayload = 7;

constexpr uint8_t kNegative = 0x7F;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kSuppressBit = 0x80;
// Services whose second byte is a sub-function with the suppress-positive-response bit.
constexpr uint8_t kSubFunctionServices[] = {0x10, 0x11, 0x27, 0x28, 0x3E, 0x85, 0x87};

uint32_t MsSince(SteadyClock::time_point start) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

bool SuppressesAnswer(const uint8_t* request, size_t length) {
    if (length < 2 || (request[1] & kSuppressBit) == 0) return false;
    return std::find(std::begin(kSubFunctionServices), std::end(kSubFunctionServices),
                     request[0]) != std::end(kSubFunctionServices);
}

// Positive answer (SID + 0x40) or negative answer (7F SID) to request.
bool Answers(const uint8_t* request, const uint8_t* response, int32_t length) {
    if (length < 1) return false;
    if (response[0] == static_cast<uint8_t>(request[0] + kPositiveOffset)) return true;
    return length >= 2 && response[0] == kNegative && response[1] == request[0];
}

bool IsPending(const uint8_t* response, int32_t length) {
    return length >= 3 && response[0] == kNegative && response[2] == kResponsePending;
}

uint32_t SeparationUs(uint8_t st) {
    if (st <= 0x7F) return uint32_t{st} * 1000;
    if (st >= 0xF1 && st <= 0xF9) return uint32_t(st - 0xF0) * 100;
    return 127000;
}

}  // namespace

SamCanChannel::~SamCanChannel() {
    Stop();
}

bool SamCanChannel::Present() {
    std::string failure;
    auto source = source_ ? source_ : xl::LoadXlSource(selector_, failure);
    if (!source) return false;
    source_ = source;
    if (IsRunning()) return true;
    xl::XLportHandle port = xl::kInvalidPort;
    xl::XLaccess permission = 1;
    char name[sizeof(kApplicationName)];
    std::memcpy(name, kApplicationName, sizeof(name));
    if (source_->table.openPort(&port, name, 1, &permission, kQueueSize, xl::kInterfaceVersion,
                                xl::kBusTypeCan) != xl::kSuccess) {
        return false;
    }
    source_->table.closePort(port);
    return true;
}

bool SamCanChannel::Start(const SamCanSettings& settings, SamError& error) {
    Stop();
    if (!Present()) {
        Set(error, kLineLost);
        return false;
    }
    const xl::XlDriverTable& api = source_->table;
    xl::XLaccess permission = 1;
    char name[sizeof(kApplicationName)];
    std::memcpy(name, kApplicationName, sizeof(name));
    xl::XLchipParams params{settings.bitRate, 1, 11, 4, 1};
    if (api.openPort(&port_, name, 1, &permission, kQueueSize, xl::kInterfaceVersion,
                     xl::kBusTypeCan) != xl::kSuccess) {
        port_ = xl::kInvalidPort;
        Set(error, kLineLost);
        return false;
    }
    if (api.canSetChannelMode(port_, 1, 0, 0) != xl::kSuccess ||
        api.canSetChannelParams(port_, 1, &params) != xl::kSuccess ||
        api.activateChannel(port_, 1, xl::kBusTypeCan, xl::kActivateResetClock) != xl::kSuccess) {
        api.closePort(port_);
        port_ = xl::kInvalidPort;
        Set(error, kLineLost);
        return false;
    }
    settings_ = settings;
    stopKeepAlive_.Reset();
    keepAlive_ = std::thread([this] { KeepAliveLoop(); });
    return true;
}

void SamCanChannel::Stop() {
    stopKeepAlive_.Set();
    if (keepAlive_.joinable()) keepAlive_.join();
    std::lock_guard lock(exchange_);
    if (port_ == xl::kInvalidPort) return;
    source_->table.deactivateChannel(port_, 1);
    source_->table.closePort(port_);
    port_ = xl::kInvalidPort;
}

void SamCanChannel::Apply(const SamCanSettings& settings) {
    std::lock_guard lock(exchange_);
    const uint32_t bitRate = settings_.bitRate;
    settings_ = settings;
    settings_.bitRate = bitRate;  // a new bit rate takes a restart
}

int32_t SamCanChannel::Exchange(const uint8_t* request, size_t length, uint8_t* response,
                                size_t capacity, SamError& error) {
    std::lock_guard lock(exchange_);
    if (port_ == xl::kInvalidPort) {
        Set(error, kNotStarted);
        return -1;
    }
    if (length == 0 || length > kMaxMessage || (settings_.functional && length > kSingleMax)) {
        Set(error, kTooLong);
        return -1;
    }
    Drain();  // nothing from an earlier exchange may pass for this one's answer
    if (!SendMessage(request, length, error)) return -1;
    return ReceiveAnswer(request, length, response, capacity, error);
}

bool SamCanChannel::Transmit(const uint8_t* data, size_t length, uint32_t id) {
    xl::XLevent event{};
    event.tag = xl::kTagTransmitMsg;
    event.tagData.msg.id = id | xl::kExtendedId;
    const size_t dlc = settings_.useFill ? xl::kMaxDataLength : length;
    std::memset(event.tagData.msg.data, settings_.fill, xl::kMaxDataLength);
    std::memcpy(event.tagData.msg.data, data, length);
    event.tagData.msg.dlc = static_cast<uint16_t>(dlc);
    uint32_t count = 1;
    return source_->table.canTransmit(port_, 1, &count, &event) == xl::kSuccess;
}

bool SamCanChannel::SendMessage(const uint8_t* data, size_t length, SamError& error) {
    uint8_t frame[8] = {};
    if (length <= kSingleMax) {
        frame[0] = static_cast<uint8_t>(kSingle | length);
        std::memcpy(frame + 1, data, length);
        if (Transmit(frame, length + 1, settings_.requestId)) return true;
        Set(error, kNoAcknowledge);
        return false;
    }
    frame[0] = static_cast<uint8_t>(kFirst | (length >> 8));
    frame[1] = static_cast<uint8_t>(length & 0xFF);
    std::memcpy(frame + 2, data, kFirstPayload);
    if (!Transmit(frame, 8, settings_.requestId)) {
        Set(error, kNoAcknowledge);
        return false;
    }
    return SendConsecutive(data + kFirstPayload, length - kFirstPayload, error);
}

bool SamCanChannel::SendConsecutive(const uint8_t* data, size_t length, SamError& error) {
    uint8_t sequence = 1;
    size_t offset = 0;
    while (offset < length) {
        uint8_t blockSize = 0;
        uint8_t separation = 0;
        if (!AwaitFlowControl(blockSize, separation, error)) return false;
        for (uint32_t sent = 0; offset < length && (blockSize == 0 || sent < blockSize); ++sent) {
            if (offset > 0 || sent > 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(SeparationUs(separation)));
            }
            uint8_t frame[8] = {};
            const size_t piece = std::min<size_t>(kConsecutivePayload, length - offset);
            frame[0] = static_cast<uint8_t>(kConsecutive | (sequence & 0x0F));
            std::memcpy(frame + 1, data + offset, piece);
            if (!Transmit(frame, piece + 1, settings_.requestId)) {
                Set(error, kNoAcknowledge);
                return false;
            }
            ++sequence;
            offset += piece;
        }
    }
    return true;
}

bool SamCanChannel::AwaitFlowControl(uint8_t& blockSize, uint8_t& separation, SamError& error) {
    for (uint32_t waits = 0; waits <= kMaxFlowControlWaits; ++waits) {
        uint8_t data[8] = {};
        uint8_t dlc = 0;
        const auto start = SteadyClock::now();
        bool got = false;
        while (!got && MsSince(start) < kFrameTimeoutMs) {
            got = NextFrame(data, dlc, kFrameTimeoutMs - MsSince(start)) && dlc >= 3 &&
                  (data[0] & 0xF0) == kFlowControl;
        }
        if (!got) break;
        const uint8_t status = data[0] & 0x0F;
        if (status == kFlowWait) continue;
        if (status != kFlowContinue) break;
        blockSize = data[1];
        separation = data[2];
        return true;
    }
    Set(error, kNoFlowControl);
    return false;
}

int32_t SamCanChannel::ReceiveAnswer(const uint8_t* request, size_t length, uint8_t* response,
                                     size_t capacity, SamError& error) {
    const bool suppressed = SuppressesAnswer(request, length);
    uint32_t waitMs = suppressed ? std::min(kSuppressedAnswerMs, settings_.responseTimeoutMs)
                                 : settings_.responseTimeoutMs;
    const auto first = SteadyClock::now();
    auto start = first;
    bool pending = false;
    for (;;) {
        const uint32_t elapsed = MsSince(start);
        if (elapsed >= waitMs || MsSince(first) >= kPendingTotalMs) break;
        const int32_t received = ReceiveMessage(response, capacity, waitMs - elapsed, error);
        if (received < 0) return -1;
        if (received == 0) break;
        if (!Answers(request, response, received)) continue;  // not this request's answer
        if (!IsPending(response, received)) return received;
        pending = true;
        waitMs = kPendingTimeoutMs;
        start = SteadyClock::now();
    }
    if (suppressed && !pending) return 0;
    Set(error, kNoResponse);
    return -1;
}

// Result: the message length, 0 when nothing came within waitMs, -1 on a broken message.
int32_t SamCanChannel::ReceiveMessage(uint8_t* buffer, size_t capacity, uint32_t waitMs,
                                      SamError& error) {
    const auto start = SteadyClock::now();
    while (MsSince(start) < waitMs) {
        uint8_t data[8] = {};
        uint8_t dlc = 0;
        if (!NextFrame(data, dlc, waitMs - MsSince(start))) return 0;
        const uint8_t kind = data[0] & 0xF0;
        if (kind == kSingle) {
            const uint8_t count = data[0] & 0x0F;
            if (count == 0 || count > kSingleMax || count + 1u > dlc || count > capacity) continue;
            std::memcpy(buffer, data + 1, count);
            return count;
        }
        if (kind == kFirst && dlc == 8) {
            return ReceiveSegmented(data, dlc, buffer, capacity, error);
        }
    }
    return 0;
}

int32_t SamCanChannel::ReceiveSegmented(const uint8_t (&first)[8], uint8_t /*dlc*/, uint8_t* buffer,
                                        size_t capacity, SamError& error) {
    const size_t total = (size_t{first[0] & 0x0Fu} << 8) | first[1];
    if (total <= kSingleMax || total > capacity) {
        Set(error, kBrokenResponse);
        return -1;
    }
    std::memcpy(buffer, first + 2, kFirstPayload);
    const uint8_t flow[3] = {kFlowControl | kFlowContinue, 0, 0};
    if (!Transmit(flow, sizeof(flow), settings_.requestId)) {
        Set(error, kNoAcknowledge);
        return -1;
    }
    size_t offset = kFirstPayload;
    uint8_t sequence = 1;
    while (offset < total) {
        uint8_t data[8] = {};
        uint8_t dlc = 0;
        const size_t piece = std::min<size_t>(kConsecutivePayload, total - offset);
        if (!NextFrame(data, dlc, kFrameTimeoutMs) ||
            data[0] != (kConsecutive | (sequence & 0x0F)) || dlc < piece + 1) {
            Set(error, kBrokenResponse);
            return -1;
        }
        std::memcpy(buffer + offset, data + 1, piece);
        offset += piece;
        ++sequence;
    }
    return static_cast<int32_t>(total);
}

// The next data frame on the response identifier within waitMs.
bool SamCanChannel::NextFrame(uint8_t (&data)[8], uint8_t& dlc, uint32_t waitMs) {
    const xl::XlDriverTable& api = source_->table;
    const auto start = SteadyClock::now();
    for (;;) {
        xl::XLevent event{};
        uint32_t count = 1;
        const xl::XLstatus status = api.receive(port_, &count, &event);
        if (status == xl::kSuccess && count == 1 && event.tag == xl::kTagReceiveMsg &&
            (event.tagData.msg.id & ~xl::kExtendedId) == settings_.responseId &&
            event.tagData.msg.dlc >= 1) {
            dlc = static_cast<uint8_t>(std::min<uint16_t>(event.tagData.msg.dlc, 8));
            std::memset(data, 0, sizeof(data));
            std::memcpy(data, event.tagData.msg.data, dlc);
            return true;
        }
        if (status == xl::kSuccess) continue;
        if (status != xl::kErrQueueIsEmpty) return false;
        const uint32_t elapsed = MsSince(start);
        if (elapsed >= waitMs) return false;
        if (source_->waitForEvent != nullptr) {
            source_->waitForEvent(port_, waitMs - elapsed);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollSleepMs));
        }
    }
}

void SamCanChannel::Drain() {
    xl::XLevent event{};
    uint32_t count = 1;
    while (source_->table.receive(port_, &count, &event) == xl::kSuccess) count = 1;
}

void SamCanChannel::KeepAliveLoop() {
    while (!stopKeepAlive_.WaitFor(kKeepAlivePeriodMs)) {
        std::lock_guard lock(exchange_);
        if (port_ == xl::kInvalidPort || settings_.keepAliveMode == 0) continue;
        const std::vector<uint8_t>& message = settings_.keepAlive;
        if (message.empty() || message.size() > kSingleMax) continue;
        uint8_t frame[8] = {};
        frame[0] = static_cast<uint8_t>(message.size());
        std::memcpy(frame + 1, message.data(), message.size());
        Transmit(frame, message.size() + 1, settings_.keepAliveId);
    }
}

}  // namespace diagbridge::samtec
