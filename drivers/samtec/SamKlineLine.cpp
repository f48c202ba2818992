#include "drivers/samtec/SamKlineLine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace diagbridge::samtec {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int32_t kP2Max = 20001;
constexpr int32_t kP3Min = 20102;
constexpr int32_t kP4Min = 20103;
constexpr int32_t kEcuSetting = 5;
constexpr int32_t kTesterSetting = 38;

constexpr uint8_t kAddressed = 0x80;
constexpr uint8_t kLengthMask = 0x3F;
constexpr size_t kMaxData = 255;
constexpr uint8_t kStartCommunication = 0x81;
constexpr uint8_t kNegative = 0x7F;
constexpr uint8_t kResponsePending = 0x78;
constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint32_t kWriteTimeoutMs = 1000;
constexpr int32_t kNoFrame = -1;
constexpr int32_t kBadChecksum = -2;

uint32_t MsSince(SteadyClock::time_point start) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

long Number(const std::map<int32_t, std::string>& values, int32_t id, long fallback) {
    auto found = values.find(id);
    if (found == values.end()) return fallback;
    char* end = nullptr;
    const long value = std::strtol(found->second.c_str(), &end, 10);
    return end == found->second.c_str() || value < 0 ? fallback : value;
}

void Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

bool SamKlineLine::Present() {
    if (running_) return true;
    if (!Open()) return false;
    port_->Close();
    return true;
}

bool SamKlineLine::Open() {
    if (device_.empty()) return false;
    port_ = platform::CreateSerialPort();
    if (!port_ || port_->Open(device_) != 0) return false;
    platform::LineSettings line;
    line.baud = kBaud;
    if (port_->SetLine(line)) return true;
    port_->Close();
    return false;
}

bool SamKlineLine::Start(const std::map<int32_t, std::string>& parameters,
                         const std::map<int32_t, std::string>& settings, SamError& error) {
    Stop();
    timing_.p2max = static_cast<uint32_t>(Number(parameters, kP2Max, timing_.p2max));
    timing_.p3min = static_cast<uint32_t>(Number(parameters, kP3Min, timing_.p3min));
    timing_.p4min = static_cast<uint32_t>(Number(parameters, kP4Min, timing_.p4min));
    ecu_ = static_cast<uint8_t>(Number(settings, kEcuSetting, ecu_));
    tester_ = static_cast<uint8_t>(Number(settings, kTesterSetting, tester_));
    if (!Open()) {
        Set(error, kLineLost);
        return false;
    }
    port_->Discard(true, true);
    port_->SetBreak(true);
    Sleep(kWakeLowMs);
    port_->SetBreak(false);
    Sleep(kWakeHighMs);
    running_ = true;
    const uint8_t start[] = {kStartCommunication};
    uint8_t answer[kMaxData];
    if (Exchange(start, sizeof(start), answer, sizeof(answer), error) < 1) {
        Stop();
        Set(error, kNoInit);
        return false;
    }
    return true;
}

void SamKlineLine::Stop() {
    running_ = false;
    if (port_) port_->Close();
}

int32_t SamKlineLine::Exchange(const uint8_t* request, size_t length, uint8_t* response,
                               size_t capacity, SamError& error) {
    if (!running_ || !port_ || !port_->IsOpen()) {
        Set(error, kNotStarted);
        return -1;
    }
    if (length == 0 || length > kMaxData) {
        Set(error, kTooLong);
        return -1;
    }
    KeepP3Min();
    port_->Discard(true, false);  // nothing from before may pass for this answer
    if (!SendFrame(request, length)) {
        Stop();
        Set(error, kLineLost);
        return -1;
    }
    uint32_t waitMs = timing_.p2max;
    bool skipEcho = true;
    for (;;) {
        const int32_t received = ReadFrame(response, capacity, waitMs, skipEcho);
        skipEcho = false;
        if (received == kBadChecksum) {
            Set(error, kChecksum);
            return -1;
        }
        if (received == kNoFrame) {
            Set(error, kNoResponse);
            return -1;
        }
        lastAnswer_ = SteadyClock::now();
        const bool positive = response[0] == static_cast<uint8_t>(request[0] + kPositiveOffset);
        const bool negative =
            received >= 2 && response[0] == kNegative && response[1] == request[0];
        if (!positive && !negative) continue;
        if (negative && received >= 3 && response[2] == kResponsePending) {
            waitMs = kPendingTimeoutMs;
            continue;
        }
        return received;
    }
}

// ISO 14230-2: at least P3min between the end of an answer and the next request.
void SamKlineLine::KeepP3Min() {
    const uint32_t since = MsSince(lastAnswer_);
    if (since < timing_.p3min) Sleep(timing_.p3min - since);
}

bool SamKlineLine::SendFrame(const uint8_t* data, size_t length) {
    size_t size = 0;
    if (length <= kLengthMask) {
        lastSent_[size++] = static_cast<uint8_t>(kAddressed | length);
    } else {
        lastSent_[size++] = kAddressed;
    }
    lastSent_[size++] = ecu_;
    lastSent_[size++] = tester_;
    if (length > kLengthMask) lastSent_[size++] = static_cast<uint8_t>(length);
    std::memcpy(lastSent_ + size, data, length);
    size += length;
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + lastSent_[i]);
    lastSent_[size++] = sum;
    lastSentLength_ = size;
    for (size_t i = 0; i < size; ++i) {
        if (i > 0 && timing_.p4min > 0) Sleep(timing_.p4min);  // P4min between request bytes
        if (port_->Write(lastSent_ + i, 1, kWriteTimeoutMs) != 1) return false;
    }
    return true;
}

// Reads one frame; when skipEcho, a frame equal to the request just sent is the line's echo.
int32_t SamKlineLine::ReadFrame(uint8_t* data, size_t capacity, uint32_t waitMs, bool skipEcho) {
    const auto start = SteadyClock::now();
    for (;;) {
        const uint32_t elapsed = MsSince(start);
        if (elapsed >= waitMs) return kNoFrame;
        uint8_t frame[4 + kMaxData + 1];
        if (port_->Read(frame, 1, waitMs - elapsed) != 1) return kNoFrame;
        if ((frame[0] & 0xC0) != kAddressed) continue;  // not a frame start (break remains)
        size_t header = 3;
        if (port_->Read(frame + 1, 2, timing_.p2max) != 2) return kNoFrame;
        size_t count = frame[0] & kLengthMask;
        if (count == 0) {
            if (port_->Read(frame + 3, 1, timing_.p2max) != 1) return kNoFrame;
            count = frame[3];
            header = 4;
        }
        const size_t total = header + count + 1;
        if (count == 0 || port_->Read(frame + header, count + 1, timing_.p2max) != count + 1) {
            return kNoFrame;
        }
        if (skipEcho && total == lastSentLength_ && std::memcmp(frame, lastSent_, total) == 0) {
            skipEcho = false;
            continue;
        }
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < total; ++i) sum = static_cast<uint8_t>(sum + frame[i]);
        if (sum != frame[total - 1]) return kBadChecksum;
        if (frame[1] != tester_ || count > capacity) continue;
        std::memcpy(data, frame + header, count);
        return static_cast<int32_t>(count);
    }
}

}  // namespace diagbridge::samtec
