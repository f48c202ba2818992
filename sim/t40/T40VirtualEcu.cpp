#include "sim/t40/T40VirtualEcu.h"

#include <algorithm>

#include "sim/t40/T40Crc.h"

namespace diagbridge::sim {

namespace {
constexpr uint8_t kSync = 0x55;
constexpr uint8_t kKeyByte1 = 0x20;
constexpr uint8_t kKeyByte2 = 0x80;
constexpr uint8_t kAcknowledge = 0x79;
constexpr uint8_t kPositive = 0x40;  // answer code = command + 0x40
constexpr uint8_t kBootLoaderRuns = 0x0A;
constexpr uint8_t kStatusAnswer = 0xF9;
constexpr uint8_t kStatusRefused = 0x22;
constexpr uint8_t kStatusUnknown = 0x12;
constexpr uint8_t kStatusBusy = 0x31;
constexpr uint8_t kStatusErasing = 0x40;
constexpr const char* kEntryCode = "KQZB&RUA";
constexpr std::size_t kEntryCodeLength = 8;
constexpr uint32_t kFrameGapMs = 50;
// A lone 0x26 followed by this much silence is the 5-baud address, not a length byte.
constexpr uint32_t kAddressSilenceMs = 500;
constexpr int kPollMs = 50;
constexpr std::size_t kIdentLength = 209;
constexpr std::size_t kSerialOffset = 83;
constexpr std::size_t kSerialKeyLength = 7;
constexpr std::size_t kDataSetLengthOffset = 45;
constexpr uint32_t kMemoryBlock = 0x80;
constexpr uint16_t kAxleRatio = 4100;
constexpr uint16_t kDynamicRadius = 512;
constexpr uint32_t kPartNumberAddress = 0x37F7;
constexpr uint32_t kPartNumberLength = 8;
constexpr std::size_t kWriteHeader = 5;  // command, length, memory/bank, address high, low

void Put(std::vector<uint8_t>& block, std::size_t offset, const std::string& text) {
    for (std::size_t i = 0; i < text.size() && offset + i < block.size(); ++i) {
        block[offset + i] = static_cast<uint8_t>(text[i]);
    }
}

uint8_t Sum(const std::vector<uint8_t>& bytes, std::size_t count) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
    return static_cast<uint8_t>(sum);
}
}  // namespace

T40VirtualEcu::T40VirtualEcu(T40EcuOptions options) : options_(std::move(options)) {}

T40VirtualEcu::~T40VirtualEcu() {
    Stop();
}

bool T40VirtualEcu::Start() {
    Stop();
    if (!line_.Open()) return false;
    thread_ = std::thread(&T40VirtualEcu::Run, this);
    return true;
}

void T40VirtualEcu::Stop() {
    if (thread_.joinable()) {
        line_.RequestStop();
        thread_.join();
    }
    line_.Close();
}

void T40VirtualEcu::InjectFaults(const T40Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

std::map<uint32_t, uint8_t> T40VirtualEcu::Flash() const {
    std::lock_guard lock(mutex_);
    return flash_;
}

std::map<uint32_t, uint8_t> T40VirtualEcu::DataSet() const {
    std::lock_guard lock(mutex_);
    return dataSet_;
}

std::string T40VirtualEcu::PartNumber() const {
    std::lock_guard lock(mutex_);
    return partNumber_;
}

bool T40VirtualEcu::TakeFault(uint32_t T40Faults::*counter) {
    std::lock_guard lock(mutex_);
    if (faults_.*counter == 0) return false;
    --(faults_.*counter);
    return true;
}

int T40VirtualEcu::TimeoutMs() const {
    if (state_.load() != State::kWaking) return kPollMs;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(syncDue_ - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 1, kPollMs));
}

void T40VirtualEcu::Run() {
    for (;;) {
        Bytes bytes;
        const PtyEndpoint::ReadResult result = line_.Read(bytes, TimeoutMs());
        if (result == PtyEndpoint::ReadResult::kStopped) return;
        const Clock::time_point now = Clock::now();
        const State state = state_.load();
        if (state == State::kWaking && now >= syncDue_) {
            line_.Send({kSync, kKeyByte1, kKeyByte2});
            state_ = State::kAwaitAcknowledge;
        }
        const bool lone = frame_.size() == 1 && frame_[0] == kAddress;
        if (lone && state == State::kAwake &&
            now - lastByte_ > std::chrono::milliseconds(kAddressSilenceMs)) {
            frame_.clear();
            ++wakeups_;
            state_ = State::kWaking;
            syncDue_ = lastByte_ + std::chrono::milliseconds(options_.wakeDelayMs);
        }
        for (uint8_t byte : bytes) {
            if (!frame_.empty() && now - lastByte_ > std::chrono::milliseconds(kFrameGapMs)) {
                frame_.clear();
            }
            lastByte_ = now;
            Feed(byte);
        }
    }
}

bool T40VirtualEcu::CheckEntryCode(uint8_t byte) {
    codeWindow_ += static_cast<char>(byte);
    if (codeWindow_.size() > kEntryCodeLength) codeWindow_.erase(0, 1);
    if (codeWindow_ != kEntryCode) return false;
    codeWindow_.clear();
    frame_.clear();
    if (state_.load() == State::kBootLoader) return true;
    // The user has switched the controller off and on: its boot loader saw the code.
    state_ = State::kBootLoader;
    const std::string ready = options_.h5 ? "H5 READY" : "IAMREADY";
    line_.Send(Bytes(ready.begin(), ready.end()));
    return true;
}

void T40VirtualEcu::Feed(uint8_t byte) {
    if (CheckEntryCode(byte)) return;
    switch (state_.load()) {
        case State::kAsleep:
        case State::kAwaitAcknowledge:
            if (byte == kAcknowledge && state_.load() == State::kAwaitAcknowledge) {
                state_ = State::kAwake;
                frame_.clear();
            } else if (byte == kAddress && options_.answersWakeUp &&
                       !TakeFault(&T40Faults::ignoredWakeUps)) {
                ++wakeups_;
                state_ = State::kWaking;
                syncDue_ = Clock::now() + std::chrono::milliseconds(options_.wakeDelayMs);
            }
            return;
        case State::kWaking:
            return;
        case State::kAwake:
        case State::kBootLoader:
            FeedFrame(byte);
            return;
    }
}

void T40VirtualEcu::FeedFrame(uint8_t byte) {
    frame_.push_back(byte);
    const uint8_t length = frame_[0];
    if (length == 0 || length == 0xFF) {
        frame_.clear();
        return;
    }
    if (frame_.size() < static_cast<std::size_t>(length) + 1) return;
    const Bytes frame = std::move(frame_);
    frame_.clear();
    if (frame.back() != Sum(frame, length)) return;  // a damaged request gets no answer
    ++framesReceived_;
    HandleRequest(Bytes(frame.begin() + 1, frame.end() - 1));
}

void T40VirtualEcu::HandleRequest(const Bytes& request) {
    if (request.empty() || TakeFault(&T40Faults::silent)) return;
    Bytes answer;
    const bool bootLoader = state_.load() == State::kBootLoader;
    if (TakeFault(&T40Faults::refuse)) {
        answer = Status(kStatusRefused);
    } else if (!(bootLoader ? AnswerBootLoader(request, answer) : Answer(request, answer))) {
        return;
    }
    SendAnswer(answer);
    const uint8_t command = request[0];
    if (command == 0x06 || (bootLoader && command == 0x46)) {
        state_ = State::kAsleep;
        loggedIn_ = false;
    }
}

void T40VirtualEcu::SendAnswer(const Bytes& payload) {
    if (TakeFault(&T40Faults::lengthFF)) {
        line_.Send({0xFF});
        return;
    }
    Bytes frame(payload.size() + 2);
    frame[0] = static_cast<uint8_t>(payload.size() + 1);
    std::copy(payload.begin(), payload.end(), frame.begin() + 1);
    frame.back() = Sum(frame, frame.size() - 1);
    if (TakeFault(&T40Faults::badChecksum)) frame.back() = static_cast<uint8_t>(frame.back() + 1);
    if (TakeFault(&T40Faults::missingBytes)) frame.resize(frame.size() - 2);
    line_.Send(frame);
}

T40VirtualEcu::Bytes T40VirtualEcu::Status(uint8_t code) const {
    return {kStatusAnswer, 0, 0, 0, 0, code};
}

T40VirtualEcu::Bytes T40VirtualEcu::IdentBlock() const {
    Bytes block(kIdentLength, 0);
    block[0] = kPositive;
    Put(block, 1, "60091234");
    Put(block, 9, "T40DIAG1");
    Put(block, 17, options_.h5 ? "ECOLIFE H5" : "ECOLIFE H4");
    Put(block, 37, "V01.07.0");
    block[kDataSetLengthOffset] = static_cast<uint8_t>(options_.dataSetLength >> 8);
    block[kDataSetLengthOffset + 1] = static_cast<uint8_t>(options_.dataSetLength);
    Put(block, 57, "4181054011");
    Put(block, 75, "HF123456");
    Put(block, kSerialOffset, options_.serialNumber);
    Put(block, 101, "EC000815");
    Put(block, 109, "DS000042");
    Put(block, 117, "DS000042");
    Put(block, 125, "DS000041");
    return block;
}

T40VirtualEcu::Bytes T40VirtualEcu::ReadMemory(uint32_t address, uint32_t count) const {
    Bytes bytes;
    for (uint32_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>((address + i) * 7));
    return bytes;
}

uint16_t T40VirtualEcu::DataSetSum() const {
    std::lock_guard lock(mutex_);
    uint32_t sum = 0;
    for (const auto& [address, byte] : dataSet_) {
        if (address < kPartNumberAddress || address >= kPartNumberAddress + kPartNumberLength + 1) {
            sum += byte;
        }
    }
    return static_cast<uint16_t>(sum);
}

bool T40VirtualEcu::Answer(const Bytes& request, Bytes& answer) {
    const uint8_t command = request[0];
    const auto positive = [&answer, command](const Bytes& data) {
        answer = {static_cast<uint8_t>(command + kPositive)};
        answer.insert(answer.end(), data.begin(), data.end());
    };
    switch (command) {
        case 0x09:
        case 0x06:
            positive({});
            return true;
        case 0x03: {
            const std::string text = !options_.hardwareText.empty() ? options_.hardwareText
                                                                    : (options_.h5 ? "H5" : "0.0");
            positive(Bytes(text.begin(), text.end()));
            return true;
        }
        case 0x00:
            answer = IdentBlock();
            return true;
        case 0x07:
            positive({0x00, 0x11, 0x02, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,
                      0xEE, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39,
                      0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9});
            return true;
        case 0x18: {
            const Bytes block = IdentBlock();
            const uint16_t key = T40LoginCrc(block.data() + kSerialOffset, kSerialKeyLength);
            const bool good =
                request.size() == 3 && request[1] == (key >> 8) && request[2] == (key & 0xFF);
            loggedIn_ = good;
            if (good) {
                positive({});
            } else {
                answer = Status(kStatusRefused);
            }
            return true;
        }
        case 0x19:
        case 0x01: {
            if (request.size() < 5) break;
            if (command == 0x19 && request[1] == 0x04) {
                const uint32_t value = (static_cast<uint32_t>(kDynamicRadius) << 16) | kAxleRatio;
                positive({static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
                return true;
            }
            if (request[1] != kMemoryBlock || (command == 0x19) != options_.h5) break;
            const uint32_t address = (static_cast<uint32_t>(request[2]) << 16) |
                                     (static_cast<uint32_t>(request[3]) << 8) | request[4];
            positive(ReadMemory(address, kMemoryBlock));
            return true;
        }
        case 0x1A: {
            if (!loggedIn_ || request.size() < kWriteHeader ||
                request.size() != kWriteHeader + request[1]) {
                answer = Status(kStatusRefused);
                return true;
            }
            const uint32_t address = (static_cast<uint32_t>(request[3]) << 8) | request[4];
            std::lock_guard lock(mutex_);
            for (std::size_t i = kWriteHeader; i < request.size(); ++i) {
                dataSet_[address + static_cast<uint32_t>(i - kWriteHeader)] = request[i];
            }
            if (address == kPartNumberAddress) {
                partNumber_.assign(request.begin() + kWriteHeader,
                                   request.begin() + kWriteHeader + kPartNumberLength);
            }
            positive({});
            return true;
        }
        case 0x1B: {
            if (TakeFault(&T40Faults::checksumBusy)) {
                answer = Status(kStatusBusy);
                return true;
            }
            const uint16_t sum = DataSetSum();
            bool wrong = false;
            {
                std::lock_guard lock(mutex_);
                wrong = faults_.wrongDataSetChecksum;
            }
            const uint16_t stored = wrong ? static_cast<uint16_t>(sum ^ 0xFFFF) : sum;
            positive({static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum),
                      static_cast<uint8_t>(stored >> 8), static_cast<uint8_t>(stored)});
            return true;
        }
        default:
            break;
    }
    answer = Status(kStatusUnknown);
    return true;
}

bool T40VirtualEcu::AnswerBootLoader(const Bytes& request, Bytes& answer) {
    const uint8_t command = request[0];
    answer = {static_cast<uint8_t>(command + kPositive)};
    switch (command) {
        case 0x40:
            answer.push_back(options_.h5 ? 0x05 : 0x04);
            return true;
        case 0x41:
            if (request.size() < 4) break;
            requestedBaud_ = (static_cast<int32_t>(request[2]) << 8) | request[3];
            return true;
        case 0x5A: {
            if (TakeFault(&T40Faults::eraseBusy)) {
                answer = Status(kStatusErasing);
                return true;
            }
            if (request.size() < kWriteHeader || request.size() != kWriteHeader + request[1]) {
                answer = Status(kStatusRefused);
                return true;
            }
            const uint32_t address = (static_cast<uint32_t>(request[2]) << 16) |
                                     (static_cast<uint32_t>(request[3]) << 8) | request[4];
            std::lock_guard lock(mutex_);
            for (std::size_t i = kWriteHeader; i < request.size(); ++i) {
                flash_[address + static_cast<uint32_t>(i - kWriteHeader)] = request[i];
            }
            return true;
        }
        case 0x46:
            return true;
        default:
            break;
    }
    answer = {kBootLoaderRuns};
    return true;
}

}  // namespace diagbridge::sim
