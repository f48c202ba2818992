#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "drivers/samtec/SamDiaXSubstitute.h"
#include "platform/SerialPort.h"

namespace diagbridge::samtec {

// The adapter's KWP2000 on a K-line (ISO 14230): fast initialisation with StartCommunication,
// frames with format byte, target, source and checksum, the timing of parameters 20101
// (P2min), 20001 (P2max), 20102 (P3min), 20002 (P3max), 20103 (P4min), in ms, and the
// addresses of settings 5 (ECU) and 38 (tester). The adapter's own echo is taken off the line.
class SamKlineLine final : public ISamLine {
  public:
    static constexpr uint32_t kBaud = 10400;
    static constexpr uint32_t kWakeLowMs = 25;   // TiniL
    static constexpr uint32_t kWakeHighMs = 25;  // TWuP - TiniL
    static constexpr uint32_t kPendingTimeoutMs = 5000;

    explicit SamKlineLine(std::string device) : device_(std::move(device)) {}

    bool Present() override;
    bool Start(const std::map<int32_t, std::string>& parameters,
               const std::map<int32_t, std::string>& settings, SamError& error) override;
    void Stop() override;
    bool IsRunning() const override { return running_; }
    int32_t Exchange(const uint8_t* request, size_t length, uint8_t* response, size_t capacity,
                     SamError& error) override;

  private:
    struct Timing {
        uint32_t p2max = 50;
        uint32_t p3min = 55;
        uint32_t p4min = 5;
    };

    bool Open();
    bool SendFrame(const uint8_t* data, size_t length);
    // The data of the next frame addressed to the tester; -1 none within waitMs, -2 bad checksum.
    int32_t ReadFrame(uint8_t* data, size_t capacity, uint32_t waitMs, bool skipEcho);
    void KeepP3Min();

    const std::string device_;
    std::unique_ptr<platform::ISerialPort> port_;
    Timing timing_;
    uint8_t ecu_ = 0x18;
    uint8_t tester_ = 0xF1;
    bool running_ = false;
    std::chrono::steady_clock::time_point lastAnswer_{};
    uint8_t lastSent_[264] = {};
    size_t lastSentLength_ = 0;
};

}  // namespace diagbridge::samtec
