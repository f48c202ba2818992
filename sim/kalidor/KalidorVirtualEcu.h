#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/t40/PtyEndpoint.h"

namespace diagbridge::sim {

struct KalidorEcuOptions {
    bool freeRun = false;          // sends frames by itself; else quick (woken, questioned)
    uint32_t framePeriodMs = 500;  // free run: one frame this often
    uint32_t answerDelayMs = 20;   // quick: wait before an answer
};

struct KalidorFaults {
    bool silent = false;        // answers nothing and sends nothing
    uint32_t badFrames = 0;     // free run: the next frames fit neither length rule
    uint32_t shortAnswers = 0;  // quick: the next answers are only 4 bytes
};

// A virtual Kalidor retarder controller on a pseudo-terminal. Quick: answers 07 80 with
// 55 79 83 06 K1 K2 80, expects 83 06 K1 K2 80, then answers each 0x80-terminated command
// with 55 79 80, a payload and 80 (0F 80 ends the session). Free run: sends frames
// 55 79 80, nine data bytes, a count k and 2k bytes (t = 2k + 13) every period.
class KalidorVirtualEcu {
  public:
    static constexpr uint8_t kHandShakeKey1 = 0x5A;
    static constexpr uint8_t kHandShakeKey2 = 0x3C;

    explicit KalidorVirtualEcu(KalidorEcuOptions options);
    ~KalidorVirtualEcu();
    KalidorVirtualEcu(const KalidorVirtualEcu&) = delete;
    KalidorVirtualEcu& operator=(const KalidorVirtualEcu&) = delete;

    bool Start();
    void Stop();
    std::string DevicePath() const { return line_.DevicePath(); }
    void InjectFaults(const KalidorFaults& faults);

    // The bytes of free-run frame number n (from 0), header included.
    static std::vector<uint8_t> FreeRunFrame(uint32_t n);
    // The payload the controller answers to a command.
    static std::vector<uint8_t> CommandPayload(const std::vector<uint8_t>& command);

    bool Awake() const { return awake_.load(); }
    uint32_t FramesSent() const { return framesSent_.load(); }
    uint32_t CommandsAnswered() const { return commandsAnswered_.load(); }

  private:
    using Bytes = std::vector<uint8_t>;
    void Run();
    void RunFreeRun();
    void HandleCommand(const Bytes& command);
    bool TakeCount(uint32_t KalidorFaults::*counter);
    bool Silent();

    const KalidorEcuOptions options_;
    PtyEndpoint line_;
    std::thread thread_;
    std::mutex mutex_;
    KalidorFaults faults_;
    std::atomic<bool> awake_{false};
    bool handShaking_ = false;
    std::atomic<uint32_t> framesSent_{0};
    std::atomic<uint32_t> commandsAnswered_{0};
};

}  // namespace diagbridge::sim
