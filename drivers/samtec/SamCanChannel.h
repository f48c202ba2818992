#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drivers/samtec/SamError.h"
#include "drivers/xl/XlSource.h"
#include "platform/Clock.h"

namespace diagbridge::samtec {

// What the adapter's CAN side is told through its parameters before communication starts.
struct SamCanSettings {
    static constexpr uint32_t kDefaultResponseTimeoutMs = 400;

    uint32_t bitRate = 500000;  // bit/s
    uint32_t requestId = 0;     // 29-bit identifier of the requests in use (physical or functional)
    uint32_t responseId = 0;    // 29-bit identifier of the ECU's responses
    bool functional = false;    // requests are functional: single frames only
    bool useFill = false;       // pad every frame to 8 bytes; else a frame carries only its bytes
    uint8_t fill = 0xFF;
    int32_t keepAliveMode = 0;  // 0 none, 1 physical, 2 functional tester present
    uint32_t keepAliveId = 0;   // identifier the tester present goes out on
    std::vector<uint8_t> keepAlive = {0x3E, 0x80};
    uint32_t responseTimeoutMs = kDefaultResponseTimeoutMs;  // first response frame (1..60000)
};

// The adapter's own ISO 15765-2 on one channel of an XL driver source: requests out (single or
// segmented, obeying the ECU's flow control), responses in (with flow control), response
// pending waited through, answers matched to their request, and a tester present every
// kKeepAlivePeriodMs between exchanges when a keep-alive mode is set.
class SamCanChannel {
  public:
    static constexpr uint32_t kKeepAlivePeriodMs = 2000;
    static constexpr uint32_t kFrameTimeoutMs = 1000;    // N_Bs, N_Cr
    static constexpr uint32_t kPendingTimeoutMs = 5000;  // P2* after each 7F xx 78
    static constexpr uint32_t kPendingTotalMs = 60000;
    static constexpr uint32_t kSuppressedAnswerMs = 100;  // a P2 for a possible negative answer
    static constexpr size_t kMaxMessage = 4095;

    explicit SamCanChannel(std::string selector) : selector_(std::move(selector)) {}
    ~SamCanChannel();
    SamCanChannel(const SamCanChannel&) = delete;
    SamCanChannel& operator=(const SamCanChannel&) = delete;

    // True when the driver source loads and a channel opens (detection).
    bool Present();
    // Opens the channel at the settings' bit rate and starts the keep-alive; false with error.
    bool Start(const SamCanSettings& settings, SamError& error);
    // Stops the keep-alive and closes the channel; harmless when stopped.
    void Stop();
    bool IsRunning() const { return port_ != xl::kInvalidPort; }
    uint32_t BitRate() const { return settings_.bitRate; }
    // Changes the addressing of a running channel (identifiers, fill, keep-alive).
    void Apply(const SamCanSettings& settings);

    // One request and its answer. Result: the response length (0: a suppressed positive
    // response that stayed away), or -1 with error set.
    int32_t Exchange(const uint8_t* request, size_t length, uint8_t* response, size_t capacity,
                     SamError& error);

  private:
    bool Transmit(const uint8_t* data, size_t length, uint32_t id);
    bool SendMessage(const uint8_t* data, size_t length, SamError& error);
    bool SendConsecutive(const uint8_t* data, size_t length, SamError& error);
    bool AwaitFlowControl(uint8_t& blockSize, uint8_t& separation, SamError& error);
    int32_t ReceiveAnswer(const uint8_t* request, size_t length, uint8_t* response, size_t capacity,
                          SamError& error);
    int32_t ReceiveMessage(uint8_t* buffer, size_t capacity, uint32_t waitMs, SamError& error);
    int32_t ReceiveSegmented(const uint8_t (&first)[8], uint8_t dlc, uint8_t* buffer,
                             size_t capacity, SamError& error);
    bool NextFrame(uint8_t (&data)[8], uint8_t& dlc, uint32_t waitMs);
    void Drain();
    void KeepAliveLoop();

    const std::string selector_;
    std::shared_ptr<xl::XlSource> source_;
    xl::XLportHandle port_ = xl::kInvalidPort;
    SamCanSettings settings_;
    std::mutex exchange_;  // one exchange or one keep-alive frame at a time
    platform::CancelFlag stopKeepAlive_;
    std::thread keepAlive_;
};

}  // namespace diagbridge::samtec
