#include "sim/kalidor/KalidorVirtualEcu.h"

#include <chrono>

namespace diagbridge::sim {

namespace {
constexpr uint8_t kTerminator = 0x80;
constexpr uint8_t kWakeUp = 0x07;
constexpr uint8_t kHandShake = 0x83;
constexpr uint8_t kHandShakeCommand = 0x06;
constexpr uint8_t kStop = 0x0F;
constexpr uint8_t kHeader[] = {0x55, 0x79, 0x80};
constexpr uint8_t kPairs = 4;
constexpr uint8_t kUnknownCommand = 0x7F;
constexpr int kIdlePollMs = 100;
}  // namespace

KalidorVirtualEcu::KalidorVirtualEcu(KalidorEcuOptions options) : options_(options) {}

KalidorVirtualEcu::~KalidorVirtualEcu() {
    Stop();
}

bool KalidorVirtualEcu::Start() {
    Stop();
    if (!line_.Open()) return false;
    thread_ = std::thread(
        options_.freeRun ? &KalidorVirtualEcu::RunFreeRun : &KalidorVirtualEcu::Run, this);
    return true;
}

void KalidorVirtualEcu::Stop() {
    if (thread_.joinable()) {
        line_.RequestStop();
        thread_.join();
    }
    line_.Close();
}

void KalidorVirtualEcu::InjectFaults(const KalidorFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

bool KalidorVirtualEcu::TakeCount(uint32_t KalidorFaults::*counter) {
    std::lock_guard lock(mutex_);
    if (faults_.*counter == 0) return false;
    --(faults_.*counter);
    return true;
}

bool KalidorVirtualEcu::Silent() {
    std::lock_guard lock(mutex_);
    return faults_.silent;
}

std::vector<uint8_t> KalidorVirtualEcu::FreeRunFrame(uint32_t n) {
    Bytes frame(std::begin(kHeader), std::end(kHeader));
    for (uint8_t i = 0; i < 9; ++i) frame.push_back(static_cast<uint8_t>(0x10 + i + (n & 0x0F)));
    frame.push_back(kPairs);
    for (uint8_t i = 0; i < 2 * kPairs; ++i) frame.push_back(static_cast<uint8_t>(0x30 + i));
    return frame;
}

std::vector<uint8_t> KalidorVirtualEcu::CommandPayload(const std::vector<uint8_t>& command) {
    if (command.size() == 1 && command[0] == 0x01) return {0x41, 'K', 'A', 'L', '1'};
    if (command.size() == 2 && command[0] == 0x02) {
        return {0x42, command[1], static_cast<uint8_t>(command[1] * 3)};
    }
    return {kUnknownCommand, command.empty() ? uint8_t{0} : command[0]};
}

void KalidorVirtualEcu::RunFreeRun() {
    for (uint32_t n = 0;; ++n) {
        if (!line_.Pause(options_.framePeriodMs)) return;
        if (Silent()) continue;
        Bytes frame = FreeRunFrame(n);
        // Five more bytes: t = 26 fits neither 2k + 13 = 21 nor B[11] + 2 * B[12 + B[11]] + 13.
        if (TakeCount(&KalidorFaults::badFrames)) frame.insert(frame.end(), 5, 0x44);
        line_.Send(frame);
        ++framesSent_;
    }
}

void KalidorVirtualEcu::Run() {
    Bytes command;
    for (;;) {
        Bytes bytes;
        const PtyEndpoint::ReadResult result = line_.Read(bytes, kIdlePollMs);
        if (result == PtyEndpoint::ReadResult::kStopped) return;
        for (uint8_t byte : bytes) {
            if (byte != kTerminator) {
                command.push_back(byte);
                continue;
            }
            HandleCommand(command);
            command.clear();
        }
    }
}

void KalidorVirtualEcu::HandleCommand(const Bytes& command) {
    if (command.empty() || Silent()) return;
    if (command.size() == 1 && command[0] == kWakeUp) {
        awake_ = false;
        handShaking_ = true;
        if (!line_.Pause(options_.answerDelayMs)) return;
        line_.Send({kHeader[0], kHeader[1], kHandShake, kHandShakeCommand, kHandShakeKey1,
                    kHandShakeKey2, kTerminator});
        return;
    }
    if (handShaking_) {
        handShaking_ = false;
        awake_ = command == Bytes{kHandShake, kHandShakeCommand, kHandShakeKey1, kHandShakeKey2};
        return;
    }
    if (!awake_) return;
    if (command.size() == 1 && command[0] == kStop) {
        awake_ = false;
        return;
    }
    if (!line_.Pause(options_.answerDelayMs)) return;
    Bytes answer(std::begin(kHeader), std::end(kHeader));
    if (!TakeCount(&KalidorFaults::shortAnswers)) {
        const Bytes payload = CommandPayload(command);
        answer.insert(answer.end(), payload.begin(), payload.end());
    }
    answer.push_back(kTerminator);
    line_.Send(answer);
    ++commandsAnswered_;
}

}  // namespace diagbridge::sim
