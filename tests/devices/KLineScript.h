#pragma once
// Line-level timing scripts for the K-line tester (CT60): each step is an edge of the line, a
// frame the tester writes or bytes the ECU sends, with a time window on the manual clock. A
// scripted serial port plays the ECU's bytes at their times (and the wired adapter's echo at
// once) and checks what the tester does and when; time moves only while the tester sleeps or
// waits for bytes, so the scripts never depend on the machine's speed.
#include <cstdint>
#include <string>
#include <vector>

#include "support/TimingWindow.h"

namespace diagbridge::linetest {

using testing::TimingWindow;

enum class LineActor {
    kTesterLow,    // the tester pulls the line low (break on)
    kTesterHigh,   // the tester releases the line (break off)
    kTesterWrite,  // the tester writes these bytes
    kEcuBytes,     // the ECU's bytes arrive window.minMs after the reference step
    kReturn,       // the tester's call returns
};

struct LineStep {
    LineActor actor = LineActor::kTesterWrite;
    std::vector<uint8_t> bytes;
    TimingWindow window;
};

enum class LineOperation {
    kConnect,            // CT60::Connect; result 1 or 0
    kSendCommand,        // CT60::SendCommand of request; result the data count, response the data
    kStopCommunication,  // CT60::StopCommunication; result 0
    kTransfer,           // the serial KWP2000 container's DevTransferData of request, which waits
                // through response-pending answers and repeats busy ones; its result and text
};

struct LineCall {
    LineOperation operation = LineOperation::kSendCommand;
    std::vector<uint8_t> request;
    std::vector<LineStep> steps;  // up to and including the call's kReturn
    int32_t result = 0;
    std::vector<uint8_t> response;  // data bytes, without the checksum
    int32_t lastError = 0;          // of the device after the call
};

struct KLineScript {
    std::string name;
    bool wired = true;            // the adapter echoes every byte written
    uint32_t p3MinMs = 0;         // inter-request time put on the device; 0 leaves its default
    int32_t timeoutMs = 1000;     // the port's read time-out: how long the tester waits for bytes
    std::vector<LineCall> calls;  // one after the other on one open device
};

LineStep Low(TimingWindow window);
LineStep High(TimingWindow window);
LineStep Writes(std::vector<uint8_t> bytes, TimingWindow window);
LineStep EcuSends(uint32_t ms, std::vector<uint8_t> bytes);
LineStep Returns(TimingWindow window);

// Runs script on a freshly opened CT60 (inside the serial KWP2000 container); every departure from
// it (a line event or write not in the script, a step out of its window, a step that never came, a
// wrong result, response or LastError) is one line of the result, which is empty when the tester
// kept to the script.
std::vector<std::string> PlayKLineScript(const KLineScript& script);

}  // namespace diagbridge::linetest
