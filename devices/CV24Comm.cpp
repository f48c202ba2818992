#include "devices/CV24Comm.h"

#include <algorithm>

#include "platform/Clock.h"

namespace diagbridge {

namespace {
// A SkyLink port appears only once the wireless link is up: retry the open for a while.
constexpr uint32_t kSkyLinkOpenRetryMs = 2000;
constexpr uint32_t kSkyLinkOpenWindowMs = 10000;
// The wireless hop adds latency: a SkyLink port waits twice as long for every answer.
constexpr int32_t kSkyLinkTimeoutFactor = 2;

constexpr uint8_t kMinDataBits = 5;
constexpr uint8_t kMaxDataBits = 8;
constexpr uint8_t kMaxStopBitsCode = 2;
constexpr uint8_t kMaxParityCode = 4;

uint32_t AsWait(int32_t ms) {
    return static_cast<uint32_t>(std::max(ms, 0));
}
}  // namespace

CV24Comm::CV24Comm(uint8_t port, int32_t baud, int32_t isSkyLink, int32_t /*reserved*/)
    : baud_(baud), portNumber_(port), isSkyLink_(isSkyLink) {}

CV24Comm::~CV24Comm() {
    Close();
}

uint32_t CV24Comm::TryOpen() {
    port_ = platform::CreateSerialPort();
    if (port_ == nullptr) return 1;
    const uint32_t error = port_->Open(platform::ComPortPath(portNumber_));
    if (error != 0) port_.reset();
    return error;
}

int32_t CV24Comm::Open(int32_t timeoutMs) {
    Close();
    timeoutMs_ = timeoutMs;
    if (isSkyLink_ == 1) timeoutMs_ *= kSkyLinkTimeoutFactor;
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    for (;;) {
        lastError_ = TryOpen();
        if (lastError_ == 0) return 1;
        if (isSkyLink_ != 1) return 0;
        if (platform::ElapsedMs(start, clock.TickMs()) >= kSkyLinkOpenWindowMs) return 0;
        clock.SleepMs(kSkyLinkOpenRetryMs, nullptr);
    }
}

int32_t CV24Comm::SetLine(int32_t baud, uint8_t dataBits, uint8_t stopBitsCode, uint8_t parityCode,
                          int32_t handshake) {
    if (!IsOpen()) return 0;
    const int32_t speed = isSkyLink_ == 1 ? baud_ : baud;
    if (speed <= 0 || dataBits < kMinDataBits || dataBits > kMaxDataBits ||
        stopBitsCode > kMaxStopBitsCode || parityCode > kMaxParityCode) {
        return 0;
    }
    platform::LineSettings line;
    line.baud = static_cast<uint32_t>(speed);
    line.dataBits = dataBits;
    line.stopBits = stopBitsCode;
    line.parity = parityCode;
    line.handshake = handshake != 0;
    return port_->SetLine(line) ? 1 : 0;
}

bool CV24Comm::Write(const uint8_t* data, uint32_t count) {
    if (!IsOpen() || data == nullptr) return false;
    return port_->Write(data, count, AsWait(timeoutMs_)) == count;
}

int32_t CV24Comm::WriteByte(uint8_t byte) {
    return Write(&byte, 1) ? 1 : 0;
}

uint32_t CV24Comm::Read(uint8_t* buffer, uint32_t count) {
    if (!IsOpen() || buffer == nullptr || count == 0) return 0;
    const auto got = static_cast<uint32_t>(port_->Read(buffer, count, AsWait(timeoutMs_)));
    if (isSkyLink_ == 1 && got < count) return 0;
    return got;
}

bool CV24Comm::ReadByte(uint8_t* buffer) {
    return Read(buffer, 1) == 1;
}

uint32_t CV24Comm::GetQueueCount(int32_t selector) {
    if (!IsOpen()) return 0;
    port_->ClearErrors();
    return port_->QueuedBytes(selector != 0);
}

void CV24Comm::Purge(uint32_t flags) {
    if (!IsOpen()) return;
    port_->Discard((flags & (kPurgeRxAbort | kPurgeRxClear)) != 0,
                   (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0);
    if (isSkyLink_ != 1) port_->SetBreak(false);
}

void CV24Comm::SetBreak(int32_t on) {
    if (!IsOpen() || isSkyLink_ == 1) return;
    port_->SetBreak(on != 0);
}

void CV24Comm::Close() {
    if (port_ == nullptr) return;
    port_->Close();
    port_.reset();
}

}  // namespace diagbridge
