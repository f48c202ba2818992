#include "devices/CKalidor.h"

#include <algorithm>
#include <array>
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
constexpr uint32_t kReplyHandShakeIndex = 2;
constexpr uint32_t kReplyKeyIndex1 = 4;
constexpr uint32_t kReplyKeyIndex2 = 5;
// Header and trailing byte around a command's payload.
constexpr uint32_t kAnswerOverhead = 4;
constexpr uint32_t kRuleOneCountIndex = 11;
constexpr uint32_t kRuleTwoCountIndex = 12;
constexpr uint32_t kRuleBase = 13;
}  // namespace

bool CKalidor::FrameComplete(const uint8_t* frame, uint32_t length) {
    if (length > kRuleTwoCountIndex && length == 2u * frame[kRuleTwoCountIndex] + kRuleBase) {
        return true;
    }
    if (length <= kRuleOneCountIndex) return false;
    const uint32_t countIndex = kRuleTwoCountIndex + frame[kRuleOneCountIndex];
    if (countIndex >= length) return false;
    return length == frame[kRuleOneCountIndex] + 2u * frame[countIndex] + kRuleBase;
}

CKalidor::CKalidor(int32_t port, int32_t /*reserved1*/, int32_t /*reserved2*/) : portNumber_(port) {
    noEcho_ = 0;
    lastError_ = kPortNotOpened;
    if (port < 0 || port > UINT8_MAX) return;
    port_ = std::make_unique<CV24Comm>(static_cast<uint8_t>(port), kLineBaud, 0);
    if (port_->Open(kPortTimeoutMs) != 1) return;
    port_->SetLine(kLineBaud, kDataBits, kOneStopBit, kNoParity, kNoHandshake);
    portOpen_ = 1;
    lastError_ = kOk;
}

CKalidor::~CKalidor() = default;

void CKalidor::PurgeBoth() {
    if (port_ != nullptr) port_->Purge(kPurgeBoth);
}

bool CKalidor::WriteByte(uint8_t byte) {
    return port_ != nullptr && port_->WriteByte(byte) == 1;
}

int32_t CKalidor::GetIdent(std::vector<std::string>* texts, std::vector<uint8_t>* bytes) {
    if (texts != nullptr) {
        // Entries 0, 8 and 11 of the twelve.
        *texts = {"RetarderKL", "", "", "", "", "", "", "", "Kalidor", "", "", "0"};
    }
    if (bytes != nullptr) {
        std::vector<uint8_t> ident;
        GetIdentBytes(&ident);
        bytes->assign(
            {static_cast<uint8_t>(ident.size() >> 8), static_cast<uint8_t>(ident.size())});
        bytes->insert(bytes->end(), ident.begin(), ident.end());
    }
    return 1;
}

int32_t CKalidor::GetIdentBytes(std::vector<uint8_t>* bytes) {
    if (bytes == nullptr) return 0;
    *bytes = identBytes_;
    return static_cast<int32_t>(bytes->size());
}

int32_t CKalidor::SendCommand(const uint8_t* data, uint32_t count, uint8_t* response,
                              uint32_t capacity) {
    if (port_ == nullptr) return kNoPortObject;
    PurgeBoth();
    for (uint32_t i = 0; i < count; ++i) WriteByte(data[i]);
    WriteByte(kTerminator);
    std::array<uint8_t, kReplyCapacity> reply{};
    const uint32_t got = port_->Read(reply.data(), kReplyCapacity);
    if (got <= kAnswerOverhead) return 0;
    const uint32_t payload = std::min(got - kAnswerOverhead, capacity);
    if (response != nullptr) std::memcpy(response, reply.data() + kHeaderLength, payload);
    return static_cast<int32_t>(payload);
}

int32_t CKalidor::WakeUp() {
    if (port_ == nullptr) return 0;
    platform::IClock& clock = platform::Clock();
    port_->SetBreak(1);
    clock.BusyWaitMs(kBreakMs);
    port_->SetBreak(0);
    clock.SleepMs(kAfterBreakMs, nullptr);
    PurgeBoth();
    std::array<uint8_t, kWakeUpReplyLength> reply{};
    bool answered = false;
    for (int attempt = 0; attempt < kWakeUpTries && !answered; ++attempt) {
        WriteByte(kWakeUpCommand);
        WriteByte(kTerminator);
        reply.fill(0);
        answered = port_->Read(reply.data(), kWakeUpReplyLength) == kWakeUpReplyLength &&
                   reply[kReplyHandShakeIndex] == kHandShakeAnswer;
    }
    if (!answered) return 0;
    clock.SleepMs(kHandShakePauseMs, nullptr);
    for (uint8_t byte : {kHandShakeAnswer, kHandShakeCommand, reply[kReplyKeyIndex1],
                         reply[kReplyKeyIndex2], kTerminator}) {
        WriteByte(byte);
    }
    clock.SleepMs(kAfterHandShakeMs, nullptr);
    return 1;
}

void CKalidor::StopCommunication() {
    if (port_ != nullptr) {
        WriteByte(kStopCommand);
        WriteByte(kTerminator);
    }
    platform::Clock().SleepMs(kStopPauseMs, nullptr);
}

bool CKalidor::HuntHeader() {
    for (uint8_t expected : kFrameHeader) {
        uint8_t byte = 0;
        if (!port_->ReadByte(&byte) || byte != expected) return false;
    }
    return true;
}

int32_t CKalidor::ReceiveFrame(uint8_t* buffer, uint32_t capacity) {
    lastError_ = kOk;
    if (port_ == nullptr || buffer == nullptr) {
        lastError_ = kNoAnswer;
        return 0;
    }
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    std::array<uint8_t, kHeaderLength + kMaxFrameBody> frame{};
    std::memcpy(frame.data(), kFrameHeader, kHeaderLength);
    for (;;) {
        if (HuntHeader()) {
            clock.SleepMs(kFrameSettleMs, nullptr);
            const uint32_t waiting = port_->GetQueueCount(kReceiveQueue);
            if (waiting > kMaxFrameBody) {
                PurgeBoth();
                return 0;
            }
            const uint32_t got =
                waiting == 0 ? 0 : port_->Read(frame.data() + kHeaderLength, waiting);
            if (got == 0) {
                PurgeBoth();
                return 0;
            }
            const uint32_t total = got + kHeaderLength;
            if (FrameComplete(frame.data(), total) && total <= capacity) {
                PurgeBoth();
                std::memcpy(buffer, frame.data(), total);
                return static_cast<int32_t>(total);
            }
        }
        if (platform::ElapsedMs(start, clock.TickMs()) > kFrameWindowMs) {
            lastError_ = kNoAnswer;
            return 0;
        }
    }
}

}  // namespace diagbridge
