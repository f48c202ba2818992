#pragma once
// Frame-level timing scripts for the ISO-TP tester: each step is a frame with a time window on
// the manual clock. A scripted XL source plays the ECU's frames at their times and checks the
// tester's frames, their bytes and their times; time moves only when the tester waits, so a
// script of seconds runs in no time and never depends on the machine's speed.
#include <cstdint>
#include <string>
#include <vector>

#include "CanTestSupport.h"
#include "can/CIsoTp.h"
#include "support/TimingWindow.h"

namespace diagbridge::cantest {

using testing::TimingWindow;

enum class Actor {
    kTesterFrame,  // a frame the tester must send within the window
    kEcuFrame,     // a frame the script puts on the bus window.minMs after its reference step
    kReturn,       // the tester's call returns within the window
};

struct ScriptStep {
    Actor actor = Actor::kTesterFrame;
    uint32_t id = 0;
    std::vector<uint8_t> bytes;
    TimingWindow window;
    // Tester frames: at least this many microseconds of real time after the previous tester
    // frame (separation times below the clock's millisecond).
    uint32_t minGapUs = 0;
};

// One Transfer of request: the steps up to and including its kReturn, and what it gives.
struct ScriptCall {
    std::vector<uint8_t> request;
    std::vector<ScriptStep> steps;
    int32_t result = 0;
    std::vector<uint8_t> response;
    size_t capacity = 4096;
};

struct IsoTpScript {
    std::string name;
    IsoTpOptions options;
    std::vector<ScriptCall> calls;  // run one after the other on one open channel
};

// A tester frame on the request identifier, bytes as sent (padding included).
ScriptStep TesterFrame(std::vector<uint8_t> bytes, TimingWindow window);
// A tester frame that must also keep minGapUs of real time after the previous tester frame.
ScriptStep TesterFrameAfterUs(std::vector<uint8_t> bytes, TimingWindow window, uint32_t minGapUs);
// An ECU frame on the response identifier, ms after the previous step.
ScriptStep EcuFrame(uint32_t ms, std::vector<uint8_t> bytes);
// An ECU frame on another identifier.
ScriptStep EcuFrameOn(uint32_t id, uint32_t ms, std::vector<uint8_t> bytes);
ScriptStep Returns(TimingWindow window);

// Runs script on a fresh channel on the manual clock; every departure from it (a frame not in
// the script, a step out of its window, a step that never came, a wrong result or response)
// is one line of the result, which is empty when the tester kept to the script.
std::vector<std::string> PlayIsoTpScript(const IsoTpScript& script);

}  // namespace diagbridge::cantest
