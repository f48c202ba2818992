#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/t40/PtyEndpoint.h"

namespace diagbridge::sim {

struct T40EcuOptions {
    bool h5 = false;  // H5 kind ("H5" hardware, "H5 READY" boot loader); else H4
    // Sync byte this long after the 5-baud address (a pseudo-terminal carries the address
    // at once; the tester waits 2100 ms before it listens).
    uint32_t wakeDelayMs = 2300;
    // Hardware version text of 03 07 00 02 08; empty: "H5" or "0.0" by kind.
    std::string hardwareText;
    std::string serialNumber = "SN004711";  // 8 characters, ident bytes 83..90
    uint16_t dataSetLength = 0x0400;
    bool answersWakeUp = true;  // false: a controller that only its boot loader answers
};

// Line faults; each count is used up by the answers it acts on.
struct T40Faults {
    uint32_t ignoredWakeUps = 0;  // 5-baud addresses left unanswered
    uint32_t silent = 0;          // requests left unanswered
    uint32_t badChecksum = 0;     // answers with a wrong checksum
    uint32_t lengthFF = 0;        // answers that are only the length byte 0xFF
    uint32_t missingBytes = 0;    // answers cut short by two bytes
    uint32_t eraseBusy = 0;       // flash writes (5A) answered "erase in progress"
    uint32_t refuse = 0;          // requests refused with a status answer
    uint32_t checksumBusy = 0;    // checksum requests (1B) answered "busy"
    bool wrongDataSetChecksum = false;
};

// A virtual T40 transmission controller on a pseudo-terminal: the 5-baud wake-up (address
// 0x26, sync 55 20 80, acknowledge 79), length-prefixed frames with an additive checksum,
// the identification, event memory, memory reads, login (CRC of the serial number), data-set
// writes with part number and checksum, and the boot loader (entry code, IAMREADY / H5 READY,
// flash ident, speed change, flash records, reset) that keeps the programmed image.
class T40VirtualEcu {
  public:
    static constexpr uint8_t kAddress = 0x26;

    explicit T40VirtualEcu(T40EcuOptions options);
    ~T40VirtualEcu();
    T40VirtualEcu(const T40VirtualEcu&) = delete;
    T40VirtualEcu& operator=(const T40VirtualEcu&) = delete;

    bool Start();
    void Stop();
    std::string DevicePath() const { return line_.DevicePath(); }
    void InjectFaults(const T40Faults& faults);

    // The flash image written through the boot loader and the data-set memory (address ->
    // byte), the part number written last, the speed asked for last.
    std::map<uint32_t, uint8_t> Flash() const;
    std::map<uint32_t, uint8_t> DataSet() const;
    std::string PartNumber() const;
    int32_t RequestedBaud() const { return requestedBaud_.load(); }
    bool LoggedIn() const { return loggedIn_.load(); }
    uint32_t FramesReceived() const { return framesReceived_.load(); }
    uint32_t Wakeups() const { return wakeups_.load(); }
    bool InBootLoader() const { return state_.load() == State::kBootLoader; }

  private:
    enum class State { kAsleep, kWaking, kAwaitAcknowledge, kAwake, kBootLoader };
    using Bytes = std::vector<uint8_t>;
    using Clock = std::chrono::steady_clock;

    void Run();
    void Feed(uint8_t byte);
    bool CheckEntryCode(uint8_t byte);
    void FeedFrame(uint8_t byte);
    void HandleRequest(const Bytes& request);
    bool Answer(const Bytes& request, Bytes& answer);
    bool AnswerBootLoader(const Bytes& request, Bytes& answer);
    void SendAnswer(const Bytes& payload);
    Bytes IdentBlock() const;
    Bytes ReadMemory(uint32_t address, uint32_t count) const;
    Bytes Status(uint8_t code) const;
    uint16_t DataSetSum() const;
    bool TakeFault(uint32_t T40Faults::*counter);
    int TimeoutMs() const;

    const T40EcuOptions options_;
    PtyEndpoint line_;
    std::thread thread_;
    mutable std::mutex mutex_;
    T40Faults faults_;
    std::map<uint32_t, uint8_t> flash_;
    std::map<uint32_t, uint8_t> dataSet_;
    std::string partNumber_;
    std::atomic<State> state_{State::kAsleep};
    Clock::time_point syncDue_;
    Clock::time_point lastByte_;
    Bytes frame_;
    std::string codeWindow_;
    std::atomic<int32_t> requestedBaud_{9600};
    std::atomic<bool> loggedIn_{false};
    std::atomic<uint32_t> framesReceived_{0};
    std::atomic<uint32_t> wakeups_{0};
};

}  // namespace diagbridge::sim
