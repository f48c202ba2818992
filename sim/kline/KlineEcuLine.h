#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/kline/IKlineResponder.h"
#include "sim/kline/KlineFrameParser.h"
#include "sim/kline/KlineLineModel.h"
#include "sim/kline/PseudoTerminal.h"

namespace diagbridge::sim {

struct KlineLineOptions {
    // Echo every received byte, as a wired K-line adapter does.
    bool wired = false;
    // The ECU answers only frames addressed to it.
    uint8_t ecuAddress = 0x18;
    // Wait between the end of a request and the response (P2), milliseconds.
    uint32_t responseDelayMs = 25;
    // A longer silence inside a frame drops the part received, milliseconds.
    uint32_t interByteGapMs = 50;
    // Ignore every request before StartCommunication, as an ECU that is not awake.
    bool requireStartCommunication = true;
    // The tester addresses the ECU answers; empty: any.
    std::vector<uint8_t> testerAddresses;
    // P3min: a request that begins earlier than this after the end of the last answer is
    // ignored, milliseconds (0: every request is heard).
    uint32_t minRequestGapMs = 0;
    // The line model: bytes in both directions take their wire time at the baud rate the
    // controller keeps (10400, or the session's); a request counts as complete when its last
    // byte has crossed the wire; P2 is at least P2min and requests earlier than P3min after an
    // answer are ignored, both of the timing in force. Off: bytes move at memory speed.
    bool lineModel = false;
};

// Line-level faults; each count is used up by the frames it acts on.
struct KlineFaults {
    uint32_t silentRequests = 0;        // the next requests get no answer at all
    uint32_t badChecksumResponses = 0;  // the next responses carry a wrong checksum
    uint32_t leadingZeroBytes = 0;      // the next sends (echo or response) begin with a 0
                                        // byte, like the remains of a break
};

// The line side of a virtual K-line ECU on a pseudo-terminal: frames, checksum, address,
// echo of a wired adapter, StartCommunication (C1 6B 8F; accepted without a break, which a
// pseudo-terminal cannot carry) and StopCommunication; every other request goes to the
// responder. Runs on a thread of its own from Start to Stop.
class KlineEcuLine {
  public:
    static constexpr uint8_t kKeyByte1 = 0x6B;
    static constexpr uint8_t kKeyByte2 = 0x8F;

    KlineEcuLine(IKlineResponder& responder, KlineLineOptions options);
    ~KlineEcuLine();
    KlineEcuLine(const KlineEcuLine&) = delete;
    KlineEcuLine& operator=(const KlineEcuLine&) = delete;

    // Creates the pseudo-terminal and starts the line; false when no terminal is left.
    bool Start();
    // Ends the line thread and closes the terminal.
    void Stop();
    // The serial device for the program under test (DIAGBRIDGE_COM<N>).
    std::string DevicePath() const { return terminal_.SlavePath(); }

    // Replaces the pending faults.
    void InjectFaults(const KlineFaults& faults);
    void SetResponseDelay(uint32_t ms);

    // Frames addressed to the ECU with a good checksum, and frames dropped for their checksum.
    uint32_t FramesReceived() const { return framesReceived_.load(); }
    uint32_t ChecksumErrors() const { return checksumErrors_.load(); }
    // Requests ignored for coming earlier than P3min after an answer.
    uint32_t EarlyRequests() const { return earlyRequests_.load(); }
    bool SessionStarted() const { return started_.load(); }

  private:
    using TimePoint = KlineLineModel::TimePoint;

    void Run();
    // Takes the bytes read from the terminal at arrived, each once it has crossed the wire.
    bool Receive(const uint8_t* bytes, size_t count, TimePoint arrived);
    // Feeds one byte that was on the wire in span to the parser.
    void Take(uint8_t byte, KlineLineModel::Span span);
    void HandleFrame(const KlineFrameParser::Frame& frame);
    bool TesterAccepted(uint8_t tester) const;
    // The answer to StartCommunication / StopCommunication, or the responder's frames.
    bool Answer(const KlineFrameParser::Frame& frame, std::vector<std::vector<uint8_t>>& responses);
    // Sends the frame from ready on; false when Stop came meanwhile.
    bool SendResponse(uint8_t tester, const std::vector<uint8_t>& data, TimePoint ready);
    // Writes bytes to the line, with a 0 byte first while that fault is pending.
    void Send(const uint8_t* bytes, size_t count);
    // Writes each byte once it has crossed the paced wire, from ready on; false when Stop came.
    bool SendPaced(const uint8_t* bytes, size_t count, TimePoint ready);
    void Write(const uint8_t* bytes, size_t count);
    // The least gap before a request and the delay before an answer, as the line keeps them.
    KlineLineModel::Duration RequestGap() const;
    KlineLineModel::Duration ResponseDelay();
    // Takes up the speed and timing of the controller for the next exchange.
    void RefreshTiming();
    // False when Stop was requested before until.
    bool PauseUntil(TimePoint until);
    bool TakeFault(uint32_t KlineFaults::*counter);

    IKlineResponder& responder_;
    const KlineLineOptions options_;
    PseudoTerminal terminal_;
    KlineFrameParser parser_;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mutex_;
    KlineFaults faults_;
    uint32_t responseDelayMs_;
    std::atomic<uint32_t> framesReceived_{0};
    std::atomic<uint32_t> checksumErrors_{0};
    std::atomic<uint32_t> earlyRequests_{0};
    // Line thread only: the wire, the timing in force, the end of the last answer sent, the
    // start of the frame being read and the end of its last byte.
    KlineLineModel wire_;
    KlineTiming timing_;
    TimePoint answeredAt_;
    TimePoint frameStartedAt_;
    TimePoint frameEndedAt_;
    std::atomic<bool> started_{false};
};

}  // namespace diagbridge::sim
