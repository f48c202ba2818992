#include "devices/CT60.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "devices/KwpAnswer.h"
#include "platform/Clock.h"

namespace diagbridge {

namespace {
constexpr int kSendAttempts = 2;
constexpr uint32_t kRetryPauseMs = 100;
constexpr uint32_t kShortHeaderLength = 3;
constexpr uint32_t kLongHeaderLength = 4;
// Below this data length the format byte carries the length.
constexpr uint32_t kLengthByteFrom = 64;

// Fast initialisation: line idle, then the wake-up pattern, timed to the millisecond.
constexpr uint32_t kIdleBeforeWakeUpMs = 100;
constexpr uint32_t kWakeUpLowMs = 25;
constexpr uint32_t kWakeUpHighMs = 24;
constexpr uint32_t kStopCommunicationPauseMs = 100;
// Positive answer to StartCommunication: format, target, source, C1, key bytes, checksum.
constexpr uint32_t kStartAnswerLength = 7;
constexpr uint32_t kKeyByteOffset = 4;
constexpr uint8_t kBreakByte = 0x00;

constexpr uint8_t kCarriageReturn = 0x0D;
constexpr uint32_t kSkyLinkAnswerWaitMs = 800;
constexpr uint32_t kSkyLinkMinAnswer = 30;
constexpr uint32_t kSkyLinkMaxAnswer = 256;

// Every K-line the program drives: 8 data bits, one stop bit, no parity, no handshake.
constexpr uint8_t kDataBits = 8;
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kNoParity = 0;
constexpr int32_t kNoHandshake = 0;

constexpr uint32_t kPurgeBoth = CV24Comm::kPurgeTxClear | CV24Comm::kPurgeRxClear;
constexpr int32_t kReceiveQueue = 1;
}  // namespace

uint8_t CT60::Checksum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

uint32_t CT60::BuildFrame(uint8_t target, uint8_t source, const uint8_t* data, uint32_t count,
                          uint8_t* frame, uint32_t capacity) {
    if (data == nullptr || frame == nullptr || count == 0 || count > kMaxDataLength) return 0;
    const bool lengthByte = count >= kLengthByteFrom;
    const uint32_t header = lengthByte ? kLongHeaderLength : kShortHeaderLength;
    const uint32_t total = header + count + 1;
    if (total > capacity) return 0;
    frame[0] = static_cast<uint8_t>(lengthByte ? kFormatPhysical : kFormatPhysical + count);
    frame[1] = target;
    frame[2] = source;
    if (lengthByte) frame[3] = static_cast<uint8_t>(count);
    std::memcpy(frame + header, data, count);
    frame[total - 1] = Checksum(frame, total - 1);
    return total;
}

CT60::CT60(int32_t port, int32_t reserved, int32_t /*isSkyLink*/)
    : portNumber_(port), reserved_(reserved) {}

CT60::~CT60() = default;

int32_t CT60::Open(int32_t port, int32_t reserved, int32_t baud, int32_t timeoutMs,
                   int32_t isSkyLink) {
    port_.reset();
    portNumber_ = port;
    reserved_ = reserved;
    noEcho_ = isSkyLink;
    portOpen_ = 0;
    errorCount_ = 0;
    RestoreDefaultAddresses();
    if (port < 0 || port > UINT8_MAX) {
        lastError_ = kPortNotOpened;
        return lastError_;
    }
    port_ = std::make_unique<CV24Comm>(static_cast<uint8_t>(port), baud, isSkyLink);
    lastError_ = kNoAnswer;
    if (port_->Open(timeoutMs) == 1) {
        portOpen_ = 1;
        lastError_ = kOk;
    } else {
        lastError_ = kPortNotOpened;
    }
    return lastError_;
}

int32_t CT60::Close() {
    port_.reset();
    lastError_ = kOk;
    errorCount_ = 0;
    portOpen_ = 0;
    connected_ = 0;
    return 0;
}

int32_t CT60::SetBaudRate(int32_t baud) {
    if (port_ != nullptr) port_->SetLine(baud, kDataBits, kOneStopBit, kNoParity, kNoHandshake);
    return 0;
}

int32_t CT60::Connect() {
    connected_ = 0;
    if (port_ == nullptr) return 0;
    port_->SetLine(kKLineBaud, kDataBits, kOneStopBit, kNoParity, kNoHandshake);
    if (WakeUp() != 1) return 0;
    connected_ = 1;
    return 1;
}

int32_t CT60::WakeUp() {
    if (port_ == nullptr) return 0;
    platform::IClock& clock = platform::Clock();
    port_->Purge(kPurgeBoth);
    port_->GetQueueCount(kReceiveQueue);
    port_->SetBreak(0);
    clock.SleepMs(kIdleBeforeWakeUpMs, nullptr);
    port_->GetQueueCount(kReceiveQueue);
    port_->SetBreak(1);
    clock.BusyWaitMs(kWakeUpLowMs);
    port_->SetBreak(0);
    clock.BusyWaitMs(kWakeUpHighMs);
    port_->GetQueueCount(kReceiveQueue);
    port_->Purge(CV24Comm::kPurgeRxClear);
    port_->GetQueueCount(kReceiveQueue);

    const uint8_t service = kStartCommunication;
    std::array<uint8_t, kShortHeaderLength + 2> request{};
    const uint32_t length =
        BuildFrame(ecuAddress_, testerAddress_, &service, 1, request.data(), request.size());
    if (!port_->Write(request.data(), length)) return 0;

    const uint32_t echo = noEcho_ == 0 ? length : 0;
    const uint32_t wanted = echo + kStartAnswerLength;
    std::array<uint8_t, kShortHeaderLength + 2 + kStartAnswerLength> answer{};
    if (port_->Read(answer.data(), wanted) != wanted) return 0;
    // A byte left over from the break may come first; the answer's checksum is then still
    // queued and goes with the purge.
    uint32_t start = echo;
    if (answer[0] == kBreakByte) {
        ++start;
        port_->Purge(kPurgeBoth);
    }
    const bool keyBytes = answer[start + kKeyByteOffset] == kKeyByte1 &&
                          answer[start + kKeyByteOffset + 1] == kKeyByte2;
    lastAnswerTick_ = clock.TickMs();
    return keyBytes ? 1 : 0;
}

CT60::FrameResult CT60::ReadFrame(Header& header, uint8_t* data, uint32_t capacity) {
    if (port_->Read(header.bytes.data(), kShortHeaderLength) != kShortHeaderLength) {
        return FrameResult::kNoAnswer;
    }
    header.length = kShortHeaderLength;
    if ((header.bytes[0] & kFormatModeMask) != kFormatPhysical) return FrameResult::kNoAnswer;
    header.dataLength = header.bytes[0] & kFormatLengthMask;
    if (header.dataLength == 0) {
        if (!port_->ReadByte(&header.bytes[kShortHeaderLength])) return FrameResult::kNoAnswer;
        header.length = kLongHeaderLength;
        header.dataLength = header.bytes[kShortHeaderLength];
    }
    const uint32_t rest = header.dataLength + 1;
    if (header.dataLength == 0 || rest > capacity) return FrameResult::kNoAnswer;
    if (port_->Read(data, rest) != rest) return FrameResult::kNoAnswer;
    lastAnswerTick_ = platform::Clock().TickMs();
    const auto sum = static_cast<uint8_t>(Checksum(header.bytes.data(), header.length) +
                                          Checksum(data, header.dataLength));
    return sum == data[header.dataLength] ? FrameResult::kOk : FrameResult::kBadChecksum;
}

void CT60::Expect(const uint8_t* data, uint32_t count) {
    expectedLength_ = std::min<uint32_t>(count, kMaxDataLength);
    std::copy_n(data, expectedLength_, expectedRequest_.begin());
}

CT60::FrameResult CT60::ReadAnswer(Header& header, uint8_t* data, uint32_t capacity) {
    for (uint32_t frame = 0; frame <= kMaxStaleFrames; ++frame) {
        const FrameResult result = ReadFrame(header, data, capacity);
        if (result != FrameResult::kOk) return result;
        // Anything else is a late answer to an abandoned request, never the answer to this one.
        if (AnswersKwpRequest(expectedRequest_.data(), expectedLength_, data, header.dataLength)) {
            return result;
        }
    }
    return FrameResult::kNoAnswer;
}

bool CT60::SkipEcho(const uint8_t* frame, uint32_t length) {
    std::vector<uint8_t> window(length);
    if (port_->Read(window.data(), length) != length) return false;
    // Bytes of an abandoned exchange may come before the echo: slide on until it shows.
    for (uint32_t extra = 0; extra < kMaxStaleFrames * kMaxFrameLength; ++extra) {
        if (std::equal(window.begin(), window.end(), frame)) return true;
        std::rotate(window.begin(), window.begin() + 1, window.end());
        if (!port_->ReadByte(&window.back())) return false;
    }
    return false;
}

void CT60::AwaitQuietLine() {
    platform::IClock& clock = platform::Clock();
    const uint32_t start = clock.TickMs();
    for (;;) {
        // The tick counts whole milliseconds: once it has moved on since the answer, less than
        // a tick more may have passed, so P3min is sure only one tick later.
        const uint32_t quiet = platform::ElapsedMs(lastAnswerTick_, clock.TickMs());
        const uint32_t due = quiet == 0 ? interRequestMs_ : interRequestMs_ + 1;
        if (quiet < due) clock.SleepMs(due - quiet, nullptr);
        if (port_->GetQueueCount(kReceiveQueue) == 0) return;
        port_->Purge(CV24Comm::kPurgeRxClear);
        lastAnswerTick_ = clock.TickMs();
        if (platform::ElapsedMs(start, lastAnswerTick_) >= kMaxQuietWaitMs) return;
    }
}

CT60::FrameResult CT60::Exchange(const uint8_t* frame, uint32_t length, Header& header,
                                 uint8_t* data, uint32_t capacity) {
    AwaitQuietLine();
    port_->Purge(CV24Comm::kPurgeRxClear);
    if (!port_->Write(frame, length)) return FrameResult::kNoAnswer;
    if (noEcho_ == 0 && !SkipEcho(frame, length)) return FrameResult::kNoAnswer;
    return ReadAnswer(header, data, capacity);
}

void CT60::CountFailedAttempt() {
    ++errorCount_;
    lastError_ = kNoAnswer;
    platform::Clock().SleepMs(kRetryPauseMs, nullptr);
    port_->GetQueueCount(kReceiveQueue);
}

int32_t CT60::Settle(FrameResult result, const Header& header) {
    switch (result) {
        case FrameResult::kOk:
            lastError_ = kOk;
            return static_cast<int32_t>(header.dataLength);
        case FrameResult::kBadChecksum:
            lastError_ = kBadChecksum;
            return 0;
        case FrameResult::kNoAnswer:
            break;
    }
    lastError_ = kNoAnswer;
    return 0;
}

int32_t CT60::SendCommand(const uint8_t* data, uint32_t count, uint8_t* response,
                          uint32_t capacity) {
    if (port_ == nullptr || response == nullptr) return 0;
    std::array<uint8_t, kMaxFrameLength> frame{};
    const uint32_t length =
        BuildFrame(ecuAddress_, testerAddress_, data, count, frame.data(), frame.size());
    if (length == 0) return 0;
    Expect(data, count);
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        Header header;
        const FrameResult result = Exchange(frame.data(), length, header, response, capacity);
        if (result != FrameResult::kNoAnswer) return Settle(result, header);
        CountFailedAttempt();
    }
    return 0;
}

int32_t CT60::ReceiveResponse(uint8_t* buffer, uint32_t capacity) {
    if (port_ == nullptr || buffer == nullptr) return 0;
    Header header;
    return Settle(ReadAnswer(header, buffer, capacity), header);
}

int32_t CT60::TransferFrame(uint8_t* frame, uint32_t count, uint32_t capacity) {
    if (port_ == nullptr || frame == nullptr || count == 0 || count > kMaxFrameLength) return 0;
    const uint32_t headerLength =
        (frame[0] & kFormatLengthMask) == 0 ? kLongHeaderLength : kShortHeaderLength;
    if (count <= headerLength + 1) return 0;
    Expect(frame + headerLength, count - headerLength - 1);
    std::array<uint8_t, kMaxDataLength + 1> data{};
    Header header;
    const int32_t dataLength =
        Settle(Exchange(frame, count, header, data.data(), data.size()), header);
    if (dataLength == 0) return 0;
    const uint32_t total = header.length + header.dataLength + 1;
    if (total > capacity) {
        lastError_ = kNoAnswer;
        return 0;
    }
    std::copy_n(header.bytes.data(), header.length, frame);
    std::copy_n(data.data(), header.dataLength + 1, frame + header.length);
    return static_cast<int32_t>(total);
}

void CT60::StopCommunication() {
    if (port_ == nullptr || portOpen_ == 0) return;
    const uint8_t service = kStopCommunication;
    std::array<uint8_t, kShortHeaderLength + 2> request{};
    const uint32_t length =
        BuildFrame(ecuAddress_, testerAddress_, &service, 1, request.data(), request.size());
    // A request like any other: one that comes before P3min may go unheard.
    AwaitQuietLine();
    port_->Write(request.data(), length);
    platform::Clock().SleepMs(kStopCommunicationPauseMs, nullptr);
}

bool CT60::ProbeSkyLink(CV24Comm& comm, uint8_t& version) {
    comm.Purge(kPurgeBoth);
    std::array<uint8_t, sizeof(kSkyLinkIdentCommand)> command{};
    std::copy_n(kSkyLinkIdentCommand, command.size() - 1, command.data());
    command.back() = kCarriageReturn;
    if (!comm.Write(command.data(), command.size())) return false;
    platform::Clock().SleepMs(kSkyLinkAnswerWaitMs, nullptr);
    const uint32_t waiting = std::min(comm.GetQueueCount(kReceiveQueue), kSkyLinkMaxAnswer);
    if (waiting < kSkyLinkMinAnswer) return false;
    std::array<uint8_t, kSkyLinkMaxAnswer> answer{};
    if (comm.Read(answer.data(), waiting) != waiting) return false;
    version = answer[0];
    return true;
}

std::string CT60::DescribePort(int32_t port, int32_t baud, int32_t isSkyLink) {
    char text[64];
    if (isSkyLink != 1) {
        std::snprintf(text, sizeof text, "RS232 at Port: %d", port);
        return text;
    }
    const std::string unavailable = "SkyLink not available";
    if (port < 0 || port > UINT8_MAX) return unavailable;
    CV24Comm* comm = port_.get();
    std::unique_ptr<CV24Comm> own;
    if (comm == nullptr || !comm->IsOpen() || comm->IsSkyLink() != 1 || comm->Port() != port) {
        own = std::make_unique<CV24Comm>(static_cast<uint8_t>(port), baud, 1);
        if (own->Open(kSkyLinkProbeTimeoutMs) != 1) return unavailable;
        comm = own.get();
    }
    uint8_t version = 0;
    if (!ProbeSkyLink(*comm, version)) return unavailable;
    std::snprintf(text, sizeof text, "SkyLinkV%d.%d at Port: %d", version / 10, version % 10, port);
    return text;
}

}  // namespace diagbridge
