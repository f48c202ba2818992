#include "drivers/samtec/SamKalidorLine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace diagbridge::samtec {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int32_t kProtocol = 1030;
constexpr const char* kQuick = "25";
constexpr const char* kFreeRun = "16";

constexpr uint8_t kTerminator = 0x80;
constexpr uint8_t kWakeRequest = 0x07;
constexpr uint8_t kHandShakeRequest = 0x06;
constexpr uint8_t kHandShake = 0x83;
constexpr uint8_t kStop = 0x0F;
constexpr uint8_t kHeader[] = {0x55, 0x79, 0x80};
constexpr size_t kHeaderLength = sizeof(kHeader);
constexpr size_t kWakeAnswerLength = 7;  // 55 79 83 06 K1 K2 80
constexpr uint32_t kWakeTries = 5;
constexpr uint32_t kHandShakeRestMs = 200;
constexpr uint32_t kHandShakeSettleMs = 10;
constexpr uint32_t kQuietMs = 30;  // no further byte this long: the answer or frame is whole
constexpr size_t kMaxFrame = 253;  // header and at most 250 bytes behind it
constexpr uint32_t kWriteTimeoutMs = 1000;

uint32_t MsSince(SteadyClock::time_point start) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

void Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string Protocol(const std::map<int32_t, std::string>& parameters) {
    auto found = parameters.find(kProtocol);
    return found == parameters.end() ? std::string() : found->second;
}

// The two length rules of a Kalidor frame B of t bytes.
bool Complete(const uint8_t* frame, size_t total) {
    if (total > 12 && total == 2u * frame[12] + 13) return true;
    const size_t countAt = 12u + frame[11];
    return total > 11 && countAt < total && total == frame[11] + 2u * frame[countAt] + 13;
}

}  // namespace

bool SamKalidorLine::Chosen(const std::map<int32_t, std::string>& parameters) {
    const std::string protocol = Protocol(parameters);
    return protocol == kQuick || protocol == kFreeRun;
}

bool SamKalidorLine::Present() {
    if (running_) return true;
    if (!Open()) return false;
    port_->Close();
    return true;
}

bool SamKalidorLine::Open() {
    if (device_.empty()) return false;
    port_ = platform::CreateSerialPort();
    if (!port_ || port_->Open(device_) != 0) return false;
    platform::LineSettings line;
    line.baud = kBaud;
    if (port_->SetLine(line)) return true;
    port_->Close();
    return false;
}

bool SamKalidorLine::Start(const std::map<int32_t, std::string>& parameters,
                           const std::map<int32_t, std::string>&, SamError& error) {
    Stop();
    freeRun_ = Protocol(parameters) == kFreeRun;
    if (!Open()) {
        Set(error, kLineLost);
        return false;
    }
    port_->Discard(true, true);
    if (!freeRun_) {
        port_->SetBreak(true);
        Sleep(kBreakMs);
        port_->SetBreak(false);
        Sleep(kRestMs);
        port_->Discard(true, true);
    }
    running_ = true;
    return true;
}

void SamKalidorLine::Stop() {
    if (running_ && woken_) {
        const uint8_t stop[] = {kStop};
        Send(stop, sizeof(stop));
    }
    running_ = false;
    woken_ = false;
    if (port_) port_->Close();
}

int32_t SamKalidorLine::Exchange(const uint8_t* request, size_t length, uint8_t* response,
                                 size_t capacity, SamError& error) {
    if (!running_ || !port_ || !port_->IsOpen()) {
        Set(error, kNotStarted);
        return -1;
    }
    if (length == 0) {
        Set(error, kTooLong);
        return -1;
    }
    if (freeRun_) return ReceiveFrame(response, capacity, error);
    if (length == 1 && request[0] == kWakeRequest) return WakeUp(response, capacity, error);
    if (request[0] == kHandShakeRequest) return Confirm(error);
    return Command(request, length, response, capacity, error);
}

bool SamKalidorLine::Send(const uint8_t* data, size_t length) {
    port_->Discard(true, false);  // nothing from before may pass for this answer
    const uint8_t terminator = kTerminator;
    return port_->Write(data, length, kWriteTimeoutMs) == length &&
           port_->Write(&terminator, 1, kWriteTimeoutMs) == 1;
}

size_t SamKalidorLine::ReadAnswer(uint8_t* answer, size_t capacity, uint32_t waitMs) {
    size_t count = port_->Read(answer, 1, waitMs);
    while (count > 0 && count < capacity) {
        const uint32_t wait = answer[count - 1] == kTerminator ? kQuietMs : kAnswerTimeoutMs;
        if (port_->Read(answer + count, 1, wait) != 1) break;
        ++count;
    }
    return count;
}

// Up to five tries of 07 80 until the controller gives its keys, then the hand-shake
// 83 06 K1 K2 80: the adapter completes it itself, whatever the container's second request holds.
int32_t SamKalidorLine::WakeUp(uint8_t* response, size_t capacity, SamError& error) {
    woken_ = false;
    for (uint32_t attempt = 0; attempt < kWakeTries; ++attempt) {
        const uint8_t wake[] = {kWakeRequest};
        if (!Send(wake, sizeof(wake))) {
            Set(error, kLineLost);
            return -1;
        }
        uint8_t answer[kMaxFrame];
        const size_t count = ReadAnswer(answer, sizeof(answer), kAnswerTimeoutMs);
        if (count != kWakeAnswerLength || answer[2] != kHandShake) continue;
        const size_t payload = kWakeAnswerLength - 3;  // 83 06 K1 K2
        if (payload > capacity) break;
        std::memcpy(response, answer + 2, payload);
        return HandShake(answer[4], answer[5], error) ? static_cast<int32_t>(payload) : -1;
    }
    Set(error, kNoInit);
    return -1;
}

bool SamKalidorLine::HandShake(uint8_t key1, uint8_t key2, SamError& error) {
    Sleep(kHandShakeRestMs);
    const uint8_t handShake[] = {kHandShake, kHandShakeRequest, key1, key2};
    if (!Send(handShake, sizeof(handShake))) {
        Set(error, kLineLost);
        return false;
    }
    Sleep(kHandShakeSettleMs);
    woken_ = true;
    return true;
}

// The container's own hand-shake request: done already when the wake-up succeeded.
int32_t SamKalidorLine::Confirm(SamError& error) {
    if (woken_) return 0;
    Set(error, kNoInit);
    return -1;
}

int32_t SamKalidorLine::Command(const uint8_t* request, size_t length, uint8_t* response,
                                size_t capacity, SamError& error) {
    if (std::find(request, request + length, kTerminator) != request + length) {
        Set(error, kBadRequest);  // would end the command early
        return -1;
    }
    if (!Send(request, length)) {
        Set(error, kLineLost);
        return -1;
    }
    uint8_t answer[kMaxFrame];
    const size_t count = ReadAnswer(answer, sizeof(answer), kAnswerTimeoutMs);
    if (count == 0) {
        Set(error, kNoResponse);
        return -1;
    }
    if (count < kHeaderLength + 1) return 0;  // too short to carry a payload
    if (std::memcmp(answer, kHeader, kHeaderLength) != 0 || answer[count - 1] != kTerminator) {
        Set(error, kBrokenResponse);
        return -1;
    }
    const size_t payload = count - kHeaderLength - 1;
    if (payload > capacity) {
        Set(error, kBrokenResponse);
        return -1;
    }
    std::memcpy(response, answer + kHeaderLength, payload);
    return static_cast<int32_t>(payload);
}

// Hunts the header 55 79 80, takes what follows until the line is quiet and hands out the
// frame when one of the length rules holds.
int32_t SamKalidorLine::ReceiveFrame(uint8_t* response, size_t capacity, SamError& error) {
    const auto start = SteadyClock::now();
    size_t matched = 0;
    uint8_t frame[kMaxFrame];
    while (MsSince(start) < kFrameTimeoutMs) {
        uint8_t byte = 0;
        if (port_->Read(&byte, 1, kFrameTimeoutMs - std::min(MsSince(start), kFrameTimeoutMs)) !=
            1) {
            break;
        }
        if (byte != kHeader[matched]) {
            matched = byte == kHeader[0] ? 1 : 0;
            continue;
        }
        if (++matched < kHeaderLength) continue;
        matched = 0;
        std::memcpy(frame, kHeader, kHeaderLength);
        size_t total = kHeaderLength;
        while (total < sizeof(frame) && port_->Read(frame + total, 1, kQuietMs) == 1) ++total;
        if (!Complete(frame, total) || total > capacity) continue;
        std::memcpy(response, frame, total);
        return static_cast<int32_t>(total);
    }
    Set(error, kNoResponse);
    return -1;
}

}  // namespace diagbridge::samtec
