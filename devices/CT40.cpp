#include "devices/CT40.h"

#include <cstring>

#include "platform/Clock.h"

namespace diagbridge {

namespace {
constexpr uint8_t kDataBits = 8;
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kNoParity = 0;
constexpr int32_t kNoHandshake = 0;
constexpr uint32_t kPurgeBoth = CV24Comm::kPurgeTxClear | CV24Comm::kPurgeRxClear;
constexpr int32_t kReceiveQueue = 1;
// Length byte, command and checksum around the data.
constexpr uint32_t kFrameOverhead = 3;
constexpr uint32_t kMaxLengthByte = 254;
constexpr uint8_t kBootLoaderAnswerI = 'I';
constexpr uint8_t kBootLoaderAnswerH = 'H';
constexpr const char* kH4Answer = "IAMREADY";
constexpr const char* kH5Answer = "H5 READY";
constexpr const char* kH5Type = "T40H5";
constexpr uint32_t kBootLoaderTextLength = 8;
}  // namespace

uint8_t CT40::Checksum(const uint8_t* bytes, uint32_t count) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

CT40::CT40(int32_t port, int32_t /*reserved*/, int32_t /*isSkyLink*/) : portNumber_(port) {}

CT40::~CT40() = default;

bool CT40::WriteRaw(const uint8_t* data, uint32_t count) {
    return port_ != nullptr && port_->Write(data, count);
}

void CT40::SetLine(int32_t baud) {
    if (port_ != nullptr) port_->SetLine(baud, kDataBits, kOneStopBit, kNoParity, kNoHandshake);
}

void CT40::PurgeBoth() {
    if (port_ != nullptr) port_->Purge(kPurgeBoth);
}

int32_t CT40::SetBaudRate(int32_t baud) {
    SetLine(baud);
    return 0;
}

int32_t CT40::Open(int32_t port, int32_t /*reserved*/, int32_t baud, int32_t timeoutMs,
                   int32_t isSkyLink) {
    port_.reset();
    portNumber_ = port;
    noEcho_ = isSkyLink;
    portOpen_ = 0;
    if (port < 0 || port > UINT8_MAX) {
        lastError_ = kPortNotOpened;
        return lastError_;
    }
    port_ = std::make_unique<CV24Comm>(static_cast<uint8_t>(port), baud, isSkyLink);
    if (port_->Open(timeoutMs) != 1) {
        lastError_ = kPortNotOpened;
        return lastError_;
    }
    portOpen_ = 1;
    SetLine(kLineBaud);
    lastError_ = kOk;
    return lastError_;
}

int32_t CT40::Close() {
    port_.reset();
    lastError_ = kOk;
    errorCount_ = 0;
    portOpen_ = 0;
    return 0;
}

int32_t CT40::Transact(uint8_t command, uint32_t count, const uint8_t* data) {
    responseLength_ = 0;
    if (port_ == nullptr || count > kMaxDataCount || (count > 0 && data == nullptr)) {
        lastError_ = kBadFrame;
        return 0;
    }
    sendBuffer_[0] = static_cast<uint8_t>(count + 2);
    sendBuffer_[1] = command;
    if (count > 0) std::memcpy(sendBuffer_.data() + 2, data, count);
    sendBuffer_[2 + count] = Checksum(sendBuffer_.data(), 2 + count);
    if (!port_->Write(sendBuffer_.data(), count + kFrameOverhead)) {
        lastError_ = kBadFrame;
        return 0;
    }
    return ReadResponse() ? 1 : 0;
}

bool CT40::ReadResponse() {
    lastError_ = kOk;
    uint8_t length = 0;
    if (!port_->ReadByte(&length)) {
        lastError_ = kNoAnswer;
        return false;
    }
    if (length == 0 || length > kMaxLengthByte) {
        lastError_ = kBadFrame;
        return false;
    }
    receiveBuffer_[0] = length;
    for (uint32_t i = 1; i <= length; ++i) {
        if (!port_->ReadByte(&receiveBuffer_[i])) {
            lastError_ = kBadFrame;
            return false;
        }
    }
    if (receiveBuffer_[length] != Checksum(receiveBuffer_.data(), length)) {
        lastError_ = kBadChecksum;
        return false;
    }
    responseLength_ = length;
    return true;
}

int32_t CT40::WakeUp() {
    if (portOpen_ == 0 || port_ == nullptr) return 0;
    platform::IClock& clock = platform::Clock();
    SetLine(kWakeUpBaud);
    PurgeBoth();
    port_->WriteByte(kWakeUpAddress);
    clock.BusyWaitMs(kWakeUpWaitMs);
    SetLine(kLineBaud);
    PurgeBoth();
    uint8_t keyByte = 0;
    if (!port_->ReadByte(&keyByte)) return 0;  // no synchronisation byte
    if (port_->ReadByte(&keyByte) && keyByte == kSecondKeyByteFollows) port_->ReadByte(&keyByte);
    clock.BusyWaitMs(kKeyByteGapMs);
    port_->WriteByte(kKeyByteAcknowledge);
    clock.BusyWaitMs(kKeyByteGapMs);
    return Transact(kStartCommand, 0, nullptr);
}

void CT40::StopCommunication() {
    Transact(kStopCommand, 0, nullptr);
}

bool CT40::PollBootLoader(uint32_t pollMs) {
    if (noEcho_ != 1) {
        port_->Write(reinterpret_cast<const uint8_t*>(kFlashEntryCode), kFlashEntryCodeLength);
    }
    platform::Clock().BusyWaitMs(pollMs);
    if (port_->GetQueueCount(kReceiveQueue) == 0) return false;
    uint8_t answer = 0;
    if (!port_->ReadByte(&answer)) return false;
    if (answer != kBootLoaderAnswerI && answer != kBootLoaderAnswerH) return false;
    ReadBootLoaderText(answer);
    return true;
}

void CT40::ReadBootLoaderText(uint8_t first) {
    char text[kBootLoaderTextLength + 1] = {};
    text[0] = static_cast<char>(first);
    port_->Read(reinterpret_cast<uint8_t*>(text + 1), kBootLoaderTextLength - 1);
    if (std::strcmp(text, kH4Answer) == 0) {
        flashIdent_ = "H4";
        isH4_ = 1;
    } else if (std::strcmp(text, kH5Answer) == 0) {
        flashIdent_ = "H5";
        isH4_ = 0;
    }
}

int32_t CT40::EnterFlashMode(const std::string& hardwareType) {
    if (port_ == nullptr) return kBadFrame;
    platform::IClock& clock = platform::Clock();
    PurgeBoth();
    SetLine(kLineBaud);
    port_->SetBreak(0);
    clock.BusyWaitMs(kFlashSettleMs);
    isH4_ = hardwareType == kH5Type ? 0 : 1;
    const uint32_t pollMs = isH4_ == 1 ? kH4PollMs : kH5PollMs;
    if (noEcho_ == 1) {
        port_->Write(reinterpret_cast<const uint8_t*>(kFlashEntryCode), kFlashEntryCodeLength);
    }
    const uint32_t start = clock.TickMs();
    bool answered = false;
    while (!answered && platform::ElapsedMs(start, clock.TickMs()) < kFlashModeWindowMs) {
        answered = PollBootLoader(pollMs);
    }
    if (!answered) return kBadFrame;
    clock.SleepMs(kFlashSettleMs, nullptr);
    PurgeBoth();
    return kOk;
}

}  // namespace diagbridge
