#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "can/CCanObj.h"
#include "drivers/xl/XlSource.h"
#include "platform/Clock.h"

namespace diagbridge {

// Timing and limits of the ISO-TP exchange. Defaults are the component's behaviour; tests and
// benchmarks may shorten them.
struct IsoTpOptions {
    static constexpr uint32_t kDefaultFrameTimeoutMs = 1000;
    static constexpr uint32_t kDefaultPendingTimeoutMs = 5000;  // P2*
    static constexpr uint32_t kDefaultPendingTotalMs = 60000;
    static constexpr uint32_t kDefaultMaxFlowControlWaits = 255;
    static constexpr uint32_t kDefaultKeepAlivePeriodMs = 2000;
    static constexpr uint32_t kDefaultSilentAnswerMs = 200;  // P2 of the tester, with margin

    // Wait for a flow control, and for each response frame, in ms (1..60000).
    uint32_t frameTimeoutMs = kDefaultFrameTimeoutMs;
    // Wait for the next frame after each response-pending answer (7F xx 78), in ms (1..60000).
    uint32_t pendingTimeoutMs = kDefaultPendingTimeoutMs;
    // Longest time an ECU may keep answering response pending, from the first one, in ms
    // (1..600000).
    uint32_t pendingTotalMs = kDefaultPendingTotalMs;
    // Flow controls with status wait accepted in a row before the send is given up (0..1000).
    uint32_t maxFlowControlWaits = kDefaultMaxFlowControlWaits;
    // Period of the keep-alive tester present, in ms (10..60000); read when the channel opens.
    uint32_t keepAlivePeriodMs = kDefaultKeepAlivePeriodMs;
    // Wait for a possible negative answer to a request that may stay unanswered (suppressed
    // positive response), in ms (1..60000).
    uint32_t silentAnswerMs = kDefaultSilentAnswerMs;

    // These options with every value brought into its range.
    IsoTpOptions Clamped() const;
};

// Decides whether a message answers request; start holds the message's first bytes as far as
// its first frame shows them (startLength >= 1).
using IsoTpAnswerMatcher = bool (*)(const uint8_t* request, size_t requestLength,
                                    const uint8_t* start, size_t startLength);

// How an exchange recognises its answer.
struct IsoTpAnswerRules {
    // Null takes any message. Otherwise messages that do not answer the request are dropped
    // (they belong to an earlier, abandoned exchange), and only a response pending for the
    // request's service extends the wait.
    IsoTpAnswerMatcher matches = nullptr;
    // The ECU may rightly stay silent: silence for silentAnswerMs is the answer.
    bool maySuppress = false;
};

// One CAN channel of the XL driver with ISO 15765-2 (normal fixed 29-bit addressing) on top:
// open with a bit rate or bit-rate detection, single frames in and out, segmented request and
// response exchange, and an optional keep-alive tester present from a thread of its own.
class CIsoTp {
  public:
    // Results of the message operations (frame operations answer 1 or 0).
    static constexpr int32_t kErrCommunication = -1;  // refused frame, wrong frame, sequence
    static constexpr int32_t kErrBadParameter = -3;   // empty or too long message, no buffer
    static constexpr int32_t kErrTimedOut = -5;       // a frame did not come in time
    static constexpr int32_t kErrAbandoned = -6;      // the cancel flag was set

    static constexpr int32_t kNoAnswer = 0;  // a request that may stay unanswered was not answered
    static constexpr int32_t kMaxMessageLength = 4095;  // 12-bit length of a first frame
    static constexpr int64_t kAnyIdentifier = -1;
    // Name of the keep-alive thread, as thread listings show it.
    static constexpr const char* kKeepAliveThreadName = "dbr-keepalive";

    enum KeepAliveMode : int32_t {
        kKeepAliveNone = 0,
        kKeepAlivePhysical = 1,
        kKeepAliveFunctional = 2
    };

    // Loads the driver source named by DIAGBRIDGE_XL; a source that cannot be loaded is
    // reported as "Load Error: <what>" and leaves the channel unable to open.
    CIsoTp();
    // Uses source; null leaves the channel unloaded (no message).
    explicit CIsoTp(std::shared_ptr<xl::XlSource> source);
    ~CIsoTp();
    CIsoTp(const CIsoTp&) = delete;
    CIsoTp& operator=(const CIsoTp&) = delete;

    bool IsLoaded() const { return source_ != nullptr; }
    bool IsOpen() const { return open_; }
    bool IsBusy() const { return busy_.load(); }

    // Opens the first channel. rateKbit 0 detects 667, 250, 500 kbit/s (silent pass, then a
    // normal pass); other values come from the bit-timing table, unknown ones run at 125 kbit/s.
    // keepAliveMode is one of KeepAliveMode. Result 1 open, 0 failed.
    int32_t Open(uint16_t rateKbit, uint8_t ecuAddress, uint8_t testerAddress,
                 int32_t keepAliveMode);
    // Ends the keep-alive thread and releases channel, port and driver; harmless when closed.
    void Close();

    // Sends one frame under the transmit lock of its driver source (with the vendor library:
    // process-wide); 1 accepted, 0 refused.
    int32_t TransmitFrame(const CCanObj& frame);
    // Takes the next received frame with identifier wanted (kAnyIdentifier for any), blocking
    // up to timeoutMs; 1 taken, 0 time-out, cancel or error. A time-out of 0 polls once.
    int32_t ReceiveFrame(CCanObj& frame, int64_t wanted, uint32_t timeoutMs);
    // Listens 150 ms at rateKbit and returns the number of frames seen.
    int32_t ProbeBitRate(uint16_t rateKbit);

    // Sends payload as one ISO-TP message (1..4095 bytes) on the transmit identifier.
    // Result 1 sent, or one of the kErr codes.
    int32_t TransmitMessage(const uint8_t* payload, int32_t length);
    // Receives one ISO-TP message from the receive identifier into buffer (capacity bytes),
    // waiting through response-pending answers. Result the length (>= 1) or a kErr code.
    int32_t ReceiveMessage(uint8_t* buffer, size_t capacity);
    // Request then its answer under rules, the busy flag held throughout; the response length
    // is also stored in *responseLength (0 on failure). Frames that do not start an answer
    // (left over from an abandoned exchange) are dropped. Result the response length,
    // kNoAnswer when the rules allow silence and the ECU stayed silent, or a kErr code (a
    // response pending followed by silence is kErrTimedOut).
    int32_t Transfer(const uint8_t* request, int32_t requestLength, uint8_t* response,
                     size_t capacity, int32_t* responseLength, const IsoTpAnswerRules& rules = {});

    // Waits and exchanges end with kErrAbandoned / 0 once cancel is set; null for none.
    void SetCancelFlag(platform::CancelFlag* cancel) { cancel_ = cancel; }
    // Takes options, each value brought into its documented range.
    void SetOptions(const IsoTpOptions& options) { options_ = options.Clamped(); }
    const IsoTpOptions& Options() const { return options_; }

    uint32_t TransmitId() const { return transmitId_; }
    uint32_t ReceiveId() const { return receiveId_; }
    uint32_t FunctionalId() const { return functionalId_; }
    const xl::XLchipParams& ChipParams() const { return chipParams_; }

    // The chip parameters the channel sets for a requested rate in kbit/s.
    static xl::XLchipParams ChipParamsFor(uint16_t rateKbit);
    // Identifiers of normal fixed addressing (bit 31 set): ECU<-tester, tester<-ECU, functional.
    static uint32_t PhysicalId(uint8_t target, uint8_t source);
    static uint32_t FunctionalTesterPresentId(uint8_t tester);
    // Separation time of a flow control in microseconds (reserved values count as 127 ms).
    static uint32_t SeparationTimeUs(uint8_t st);

  private:
    // Channel.
    bool OpenPort();
    bool SetRateOrDetect(uint16_t rateKbit);
    bool DetectBitRate();
    bool DetectionPass();
    void ReleasePort();
    void ActivateChannel();
    bool TakeEvent(const xl::XLevent& event, int64_t wanted, CCanObj& frame);
    void WaitForQueue(uint32_t ms, uint32_t& waitedMs);
    bool Cancelled() const { return cancel_ != nullptr && cancel_->IsSet(); }
    void StartKeepAlive();
    void StopKeepAlive();
    void KeepAliveLoop(CCanObj frame, uint32_t periodMs);
    int32_t SendLocked(const CCanObj& frame);
    void SetBusy(bool busy);

    // ISO-TP.
    class ExchangeGuard;
    int32_t SendSingleFrame(const uint8_t* payload, int32_t length);
    int32_t SendSegmented(const uint8_t* payload, int32_t length);
    int32_t SendBlock(const uint8_t* payload, int32_t length, int32_t& offset, uint8_t& sequence,
                      uint8_t blockSize, uint8_t st);
    int32_t WaitFrame(CCanObj& frame, uint32_t timeoutMs);
    int32_t ReceiveAnswer(const uint8_t* request, size_t requestLength, uint8_t* buffer,
                          size_t capacity, const IsoTpAnswerRules& rules);
    int32_t WaitFirstAnswerFrame(const uint8_t* request, size_t requestLength,
                                 const IsoTpAnswerRules& rules, CCanObj& frame);
    int32_t OnSingleFrame(const CCanObj& frame, uint8_t* buffer, size_t capacity);
    int32_t OnFirstFrame(const CCanObj& frame, uint8_t* buffer, size_t capacity);
    int32_t ReceiveConsecutiveFrames(uint8_t* buffer, size_t total);
    int32_t SendFlowControl(uint8_t status);
    void WaitSeparation(uint8_t st);

    std::shared_ptr<xl::XlSource> source_;
    std::shared_ptr<std::mutex> transmitLock_;  // shared by the channels of one source
    IsoTpOptions options_;
    platform::CancelFlag* cancel_ = nullptr;

    std::atomic<bool> alive_{false};
    std::atomic<bool> busy_{true};
    bool open_ = false;
    int32_t keepAliveMode_ = kKeepAliveNone;
    uint8_t ecuAddress_ = 0;
    uint8_t testerAddress_ = 0;
    uint32_t transmitId_ = 0;
    uint32_t receiveId_ = 0;
    uint32_t functionalId_ = 0;
    xl::XLchipParams chipParams_{};
    xl::XLaccess accessMask_ = 1;
    xl::XLportHandle port_ = xl::kInvalidPort;
    platform::CancelFlag keepAliveStop_;
    std::thread keepAlive_;
};

}  // namespace diagbridge
