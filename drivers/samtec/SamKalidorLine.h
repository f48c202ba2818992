#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "drivers/samtec/SamDiaXSubstitute.h"
#include "platform/SerialPort.h"

namespace diagbridge::samtec {

// The adapter's Kalidor line at 9600 baud 8N1, chosen by parameter 1030.
// Quick ("25"): Start wakes the controller by a break; request 07 goes out as 07 80, and its
// answer 55 79 83 06 K1 K2 80 gives 83 06 K1 K2 once the adapter has sent the hand-shake
// 83 06 K1 K2 80; a request starting with 06 then gives 0 bytes, untouched; any other request
// goes out with the terminator 0x80 and gives the payload of 55 79 80 <payload> 80 (0 bytes
// for an answer too short). Stop sends 0F 80 to a woken controller.
// Free run ("16"): any request gives the next complete frame the controller sends by itself,
// header 55 79 80 included, within 2000 ms; frames fitting neither length rule are dropped.
class SamKalidorLine final : public ISamLine {
  public:
    static constexpr uint32_t kBaud = 9600;
    static constexpr uint32_t kBreakMs = 200;
    static constexpr uint32_t kRestMs = 1000;  // after the break, before the first request
    static constexpr uint32_t kAnswerTimeoutMs = 400;
    static constexpr uint32_t kFrameTimeoutMs = 2000;

    explicit SamKalidorLine(std::string device) : device_(std::move(device)) {}

    // True when parameter 1030 chooses a Kalidor mode.
    static bool Chosen(const std::map<int32_t, std::string>& parameters);

    bool Present() override;
    bool Start(const std::map<int32_t, std::string>& parameters,
               const std::map<int32_t, std::string>& settings, SamError& error) override;
    void Stop() override;
    bool IsRunning() const override { return running_; }
    int32_t Exchange(const uint8_t* request, size_t length, uint8_t* response, size_t capacity,
                     SamError& error) override;

  private:
    bool Open();
    bool Send(const uint8_t* data, size_t length);
    // Reads until quiet after a terminator; the count read, 0 when nothing came in waitMs.
    size_t ReadAnswer(uint8_t* answer, size_t capacity, uint32_t waitMs);
    int32_t WakeUp(uint8_t* response, size_t capacity, SamError& error);
    bool HandShake(uint8_t key1, uint8_t key2, SamError& error);
    int32_t Confirm(SamError& error);
    int32_t Command(const uint8_t* request, size_t length, uint8_t* response, size_t capacity,
                    SamError& error);
    int32_t ReceiveFrame(uint8_t* response, size_t capacity, SamError& error);

    const std::string device_;
    std::unique_ptr<platform::ISerialPort> port_;
    bool freeRun_ = false;
    bool running_ = false;
    bool woken_ = false;
};

}  // namespace diagbridge::samtec
