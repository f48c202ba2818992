// Timing conformance of the ISO-TP tester: frame-level scripts with time windows on the manual
// clock (ISO 15765-2 N_Bs, N_Cr, STmin, block size, flow control wait and overflow, sequence
// numbers and the 12-bit message length).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "IsoTpScript.h"

namespace diagbridge::cantest {
namespace {

using Bytes = std::vector<uint8_t>;
using Steps = std::vector<ScriptStep>;
using testing::Within;
using testing::WithinSince;

// The tester's time-out for a flow control (N_Bs) and for a consecutive frame (N_Cr); it
// must not end a wait before it, and is allowed a tenth more to notice it.
constexpr uint32_t kTimeoutMs = 1000;
constexpr uint32_t kTimeoutNoticedMs = 1100;
// What the peer's 1000 ms time-outs leave the tester for its own next frame (N_Br + N_Ar,
// N_Cs + N_As < 0.9 x 1000 ms).
constexpr uint32_t kPerformanceMs = 900;
// The ECU answers a request after this long.
constexpr uint32_t kEcuAnswerMs = 20;

constexpr uint8_t kContinue = 0x30;
constexpr uint8_t kWait = 0x31;
constexpr uint8_t kOverflow = 0x32;
constexpr uint8_t kEcuFill = 0xAA;

Bytes Counting(size_t count, uint8_t first) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

Bytes Padded(Bytes bytes, uint8_t fill) {
    bytes.resize(8, fill);
    return bytes;
}

size_t ConsecutiveCount(const Bytes& payload) {
    return (payload.size() - 6 + 6) / 7;
}

Bytes FirstFrame(const Bytes& payload) {
    Bytes frame = {static_cast<uint8_t>(0x10 | (payload.size() >> 8)),
                   static_cast<uint8_t>(payload.size() & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.begin() + 6);
    return frame;
}

// Consecutive frame number index (1-based) of payload with sequence number sequence (index
// mod 16 when right).
Bytes Consecutive(const Bytes& payload, size_t index, uint8_t fill, size_t sequence) {
    const size_t offset = 6 + (index - 1) * 7;
    const size_t count = std::min<size_t>(7, payload.size() - offset);
    Bytes frame = {static_cast<uint8_t>(0x20 | (sequence & 0x0F))};
    frame.insert(frame.end(), payload.begin() + offset, payload.begin() + offset + count);
    return Padded(frame, fill);
}

Bytes Consecutive(const Bytes& payload, size_t index, uint8_t fill) {
    return Consecutive(payload, index, fill, index);
}

Bytes EcuFlowControl(uint8_t status, uint8_t blockSize = 0, uint8_t st = 0) {
    return Padded({status, blockSize, st}, kEcuFill);
}

const Bytes kTesterFlowControl = {0x30, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const Bytes kTesterOverflow = {0x32, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// A write of length bytes (2E F1 90 and data) and its positive answer.
Bytes WriteRequest(size_t length) {
    Bytes request = {0x2E, 0xF1, 0x90};
    const Bytes data = Counting(length - 3, 0x41);
    request.insert(request.end(), data.begin(), data.end());
    return request;
}
const Bytes kWriteAnswer = {0x6E, 0xF1, 0x90};
const Bytes kWriteAnswerFrame = {0x03, 0x6E, 0xF1, 0x90, 0x00, 0x00, 0x00, 0x00};

// The tester's consecutive frames first..last of payload: the first within firstWindow, each
// further one within gap of the one before and minGapUs of real time after it.
void AppendConsecutive(Steps& steps, const Bytes& payload, size_t first, size_t last,
                       TimingWindow firstWindow, TimingWindow gap, uint32_t minGapUs = 0) {
    for (size_t index = first; index <= last; ++index) {
        const Bytes frame = Consecutive(payload, index, 0x00);
        steps.push_back(index == first ? TesterFrame(frame, firstWindow)
                                       : TesterFrameAfterUs(frame, gap, minGapUs));
    }
}

// A segmented write that the ECU lets through with one flow control (block size 0, st) after
// flowControlMs, answered at once; the tester's frames keep st between them.
ScriptCall SegmentedWrite(size_t length, uint8_t st, uint32_t stMs, uint32_t stUs,
                          uint32_t flowControlMs = kEcuAnswerMs) {
    const Bytes request = WriteRequest(length);
    Steps steps = {TesterFrame(FirstFrame(request), Within(0, 0)),
                   EcuFrame(flowControlMs, EcuFlowControl(kContinue, 0, st))};
    AppendConsecutive(steps, request, 1, ConsecutiveCount(request), Within(0, kPerformanceMs),
                      Within(stMs, kPerformanceMs), stUs);
    steps.push_back(EcuFrame(kEcuAnswerMs, kWriteAnswerFrame));
    steps.push_back(Returns(Within(0, 0)));
    return {request, steps, 3, kWriteAnswer};
}

// A read of 22 F1 90 answered by payload in a first frame and its consecutive frames; the
// steps up to and including the tester's flow control.
const Bytes kReadRequest = {0x22, 0xF1, 0x90};
const Bytes kReadRequestFrame = {0x03, 0x22, 0xF1, 0x90, 0x00, 0x00, 0x00, 0x00};

Steps ReadUpToFlowControl(const Bytes& payload) {
    return {TesterFrame(kReadRequestFrame, Within(0, 0)),
            EcuFrame(kEcuAnswerMs, FirstFrame(payload)),
            TesterFrame(kTesterFlowControl, Within(0, kPerformanceMs))};
}

Bytes ReadAnswer(size_t length) {
    Bytes answer = {0x62, 0xF1, 0x90};
    const Bytes data = Counting(length - 3, 0x30);
    answer.insert(answer.end(), data.begin(), data.end());
    return answer;
}

// A tester present that follows a failed exchange: answered only by 7E 00, whatever of the
// failed exchange the ECU still sends.
ScriptCall TesterPresentAfter(Steps staleFrames) {
    Steps steps = {TesterFrame({0x02, 0x3E, 0x00, 0, 0, 0, 0, 0}, Within(0, 0))};
    steps.insert(steps.end(), staleFrames.begin(), staleFrames.end());
    steps.push_back(EcuFrame(kEcuAnswerMs, {0x02, 0x7E, 0x00, 0, 0, 0, 0, 0}));
    steps.push_back(Returns(Within(0, 0)));
    return {{0x3E, 0x00}, steps, 2, {0x7E, 0x00}};
}

void ExpectConformant(const std::vector<IsoTpScript>& scripts) {
    for (const IsoTpScript& script : scripts) {
        EXPECT_THAT(PlayIsoTpScript(script), ::testing::IsEmpty()) << script.name;
    }
}

TEST(IsoTpTimingConformance, FlowControlTimeoutAndWait) {
    const Bytes request = WriteRequest(20);
    const Bytes first = FirstFrame(request);
    const Bytes cf1 = Consecutive(request, 1, 0x00);
    const Bytes cf2 = Consecutive(request, 2, 0x00);
    IsoTpOptions twoWaits;
    twoWaits.maxFlowControlWaits = 2;
    ExpectConformant({
        {"no flow control: the sender gives up after N_Bs",
         {},
         {{request,
           {TesterFrame(first, Within(0, 0)), Returns(Within(kTimeoutMs, kTimeoutNoticedMs))},
           CIsoTp::kErrTimedOut,
           {}}}},
        {"flow control at the end of N_Bs is taken",
         {},
         {{request,
           {TesterFrame(first, Within(0, 0)), EcuFrame(kTimeoutMs - 1, EcuFlowControl(kContinue)),
            TesterFrame(cf1, Within(0, kPerformanceMs)),
            TesterFrame(cf2, Within(0, kPerformanceMs)), EcuFrame(kEcuAnswerMs, kWriteAnswerFrame),
            Returns(Within(0, 0))},
           3,
           kWriteAnswer}}},
        {"flow control after N_Bs comes too late",
         {},
         {{request,
           {TesterFrame(first, Within(0, 0)), EcuFrame(kTimeoutMs + 1, EcuFlowControl(kContinue)),
            Returns(WithinSince(2, kTimeoutMs, kTimeoutMs))},
           CIsoTp::kErrTimedOut,
           {}}}},
        // Each wait gives the ECU N_Bs again: 2.7 s in all, far beyond one N_Bs.
        {"wait restarts N_Bs",
         {},
         {{request,
           {TesterFrame(first, Within(0, 0)), EcuFrame(900, EcuFlowControl(kWait)),
            EcuFrame(900, EcuFlowControl(kWait)), EcuFrame(900, EcuFlowControl(kContinue)),
            TesterFrame(cf1, Within(0, kPerformanceMs)),
            TesterFrame(cf2, Within(0, kPerformanceMs)), EcuFrame(kEcuAnswerMs, kWriteAnswerFrame),
            Returns(Within(0, 0))},
           3,
           kWriteAnswer}}},
        {"wait, then silence: N_Bs from the wait",
         {},
         {{request,
           {TesterFrame(first, Within(0, 0)), EcuFrame(900, EcuFlowControl(kWait)),
            Returns(Within(kTimeoutMs, kTimeoutNoticedMs))},
           CIsoTp::kErrTimedOut,
           {}}}},
        {"waits beyond the limit end the send at once, nothing more sent",
         twoWaits,
         {{request,
           {TesterFrame(first, Within(0, 0)), EcuFrame(10, EcuFlowControl(kWait)),
            EcuFrame(10, EcuFlowControl(kWait)), EcuFrame(10, EcuFlowControl(kWait)),
            Returns(Within(0, 0))},
           CIsoTp::kErrCommunication,
           {}}}},
        {"overflow ends the send at once, nothing more sent",
         {},
         {{request,
           {TesterFrame(first, Within(0, 0)), EcuFrame(kEcuAnswerMs, EcuFlowControl(kOverflow)),
            Returns(Within(0, 0))},
           CIsoTp::kErrCommunication,
           {}}}},
    });
}

// The limit of waits in a row by default, and that a continue starts the count anew.
TEST(IsoTpTimingConformance, DefaultWaitLimit) {
    const Bytes request = WriteRequest(20);
    const auto script = [&](size_t waits) {
        Steps steps = {TesterFrame(FirstFrame(request), Within(0, 0))};
        for (size_t wait = 0; wait < waits; ++wait) {
            steps.push_back(EcuFrame(1, EcuFlowControl(kWait)));
        }
        return steps;
    };
    const uint32_t limit = IsoTpOptions::kDefaultMaxFlowControlWaits;
    Steps accepted = script(limit);
    accepted.push_back(EcuFrame(1, EcuFlowControl(kContinue)));
    AppendConsecutive(accepted, request, 1, 2, Within(0, kPerformanceMs),
                      Within(0, kPerformanceMs));
    accepted.push_back(EcuFrame(kEcuAnswerMs, kWriteAnswerFrame));
    accepted.push_back(Returns(Within(0, 0)));
    Steps refused = script(limit + 1);
    refused.push_back(Returns(Within(0, 0)));
    ExpectConformant({
        {"as many waits as allowed", {}, {{request, accepted, 3, kWriteAnswer}}},
        {"one wait more", {}, {{request, refused, CIsoTp::kErrCommunication, {}}}},
    });
}

// STmin is a lower bound between consecutive frames: ms values on the clock, the 100..900 us
// values in real time (a lower bound holds however loaded the machine is); reserved values
// count as 127 ms.
TEST(IsoTpTimingConformance, SeparationTimeIsALowerBound) {
    struct Case {
        uint8_t st;
        uint32_t ms;
        uint32_t us;
    };
    const Case cases[] = {{0x00, 0, 0},   {0x01, 1, 0},   {0x0A, 10, 0},  {0x7F, 127, 0},
                          {0x80, 127, 0}, {0xF0, 127, 0}, {0xF1, 0, 100}, {0xF5, 0, 500},
                          {0xF9, 0, 900}, {0xFA, 127, 0}, {0xFF, 127, 0}};
    std::vector<IsoTpScript> scripts;
    for (const Case& c : cases) {
        char name[32];
        std::snprintf(name, sizeof(name), "STmin %02X", c.st);
        scripts.push_back({name, {}, {SegmentedWrite(6 + 7 * 4, c.st, c.ms, c.us)}});
    }
    ExpectConformant(scripts);
}

// Block size: after BS frames the tester waits for the next flow control (with N_Bs again)
// and sends nothing before it.
TEST(IsoTpTimingConformance, BlockSize) {
    const Bytes request = WriteRequest(6 + 7 * 5);
    const Bytes first = FirstFrame(request);
    const auto blocks = [&](uint8_t blockSize, uint8_t st, uint32_t stMs) {
        Steps steps = {TesterFrame(first, Within(0, 0))};
        for (size_t index = 1; index <= 5; index += blockSize) {
            steps.push_back(EcuFrame(kTimeoutMs - 1, EcuFlowControl(kContinue, blockSize, st)));
            AppendConsecutive(steps, request, index, std::min<size_t>(index + blockSize - 1, 5),
                              Within(0, kPerformanceMs), Within(stMs, kPerformanceMs));
        }
        steps.push_back(EcuFrame(kEcuAnswerMs, kWriteAnswerFrame));
        steps.push_back(Returns(Within(0, 0)));
        return ScriptCall{request, steps, 3, kWriteAnswer};
    };
    Steps silentAfterBlock = {TesterFrame(first, Within(0, 0)),
                              EcuFrame(kEcuAnswerMs, EcuFlowControl(kContinue, 2, 0))};
    AppendConsecutive(silentAfterBlock, request, 1, 2, Within(0, kPerformanceMs),
                      Within(0, kPerformanceMs));
    silentAfterBlock.push_back(Returns(Within(kTimeoutMs, kTimeoutNoticedMs)));
    ExpectConformant({
        {"block size 1", {}, {blocks(1, 0, 0)}},
        {"block size 2, STmin 10 ms", {}, {blocks(2, 0x0A, 10)}},
        {"block size 4", {}, {blocks(4, 0, 0)}},
        {"no flow control after a block",
         {},
         {{request, silentAfterBlock, CIsoTp::kErrTimedOut, {}}}},
    });
}

// N_Cr: the receiving tester waits 1000 ms for each consecutive frame; a missing one ends the
// reception with a time-out and its late frames never reach the next exchange.
TEST(IsoTpTimingConformance, ConsecutiveFrameTimeout) {
    const Bytes answer = ReadAnswer(20);
    const Bytes cf1 = Consecutive(answer, 1, kEcuFill);
    const Bytes cf2 = Consecutive(answer, 2, kEcuFill);
    const auto read = [&](uint32_t firstGap, uint32_t secondGap) {
        Steps steps = ReadUpToFlowControl(answer);
        steps.push_back(EcuFrame(firstGap, cf1));
        steps.push_back(EcuFrame(secondGap, cf2));
        return steps;
    };
    Steps inTime = read(kTimeoutMs - 1, kTimeoutMs - 1);
    inTime.push_back(Returns(Within(0, 0)));
    Steps lateSecond = read(10, kTimeoutMs + 1);
    lateSecond.push_back(Returns(WithinSince(2, kTimeoutMs, kTimeoutNoticedMs)));
    Steps missingFirst = ReadUpToFlowControl(answer);
    missingFirst.push_back(Returns(Within(kTimeoutMs, kTimeoutNoticedMs)));
    ExpectConformant({
        {"frames at the end of N_Cr are taken", {}, {{kReadRequest, inTime, 20, answer}}},
        {"second frame after N_Cr",
         {},
         {{kReadRequest, lateSecond, CIsoTp::kErrTimedOut, {}}, TesterPresentAfter({})}},
        {"no consecutive frame at all",
         {},
         {{kReadRequest, missingFirst, CIsoTp::kErrTimedOut, {}},
          TesterPresentAfter({EcuFrame(1, cf1), EcuFrame(1, cf2)})}},
    });
}

// A wrong sequence number aborts the reception at once; the rest of that message is dropped
// and the next exchange gets only its own answer.
TEST(IsoTpTimingConformance, SequenceErrors) {
    const Bytes answer = ReadAnswer(6 + 7 * 4);
    // The frames carry the answer's data in order with these sequence numbers.
    const auto broken = [&](const std::vector<size_t>& sequences) {
        Steps steps = ReadUpToFlowControl(answer);
        for (size_t index = 1; index <= sequences.size(); ++index) {
            steps.push_back(
                EcuFrame(1, Consecutive(answer, index, kEcuFill, sequences[index - 1])));
        }
        steps.push_back(Returns(Within(0, 0)));
        return steps;
    };
    const auto rest = [&](size_t from) {
        Steps frames;
        for (size_t index = from; index <= 4; ++index) {
            frames.push_back(EcuFrame(1, Consecutive(answer, index, kEcuFill)));
        }
        return frames;
    };
    const std::vector<std::pair<std::string, std::vector<size_t>>> cases = {
        {"skipped", {1, 3}}, {"repeated", {1, 1}}, {"zero first", {0}}, {"backwards", {1, 2, 1}}};
    std::vector<IsoTpScript> scripts;
    for (const auto& [name, sequences] : cases) {
        scripts.push_back({"sequence number " + name,
                           {},
                           {{kReadRequest, broken(sequences), CIsoTp::kErrCommunication, {}},
                            TesterPresentAfter(rest(sequences.size() + 1))}});
    }
    ExpectConformant(scripts);
}

// The 12-bit length: 4095 bytes go both ways; 4096 is refused before anything is sent, and an
// announced length beyond 12 bits is not received.
TEST(IsoTpTimingConformance, MessageLengthLimits) {
    const Bytes longest = WriteRequest(4095);
    const Bytes longestAnswer = ReadAnswer(4095);
    ASSERT_EQ(FirstFrame(longest)[0], 0x1F);
    ASSERT_EQ(FirstFrame(longest)[1], 0xFF);
    Steps received = ReadUpToFlowControl(longestAnswer);
    for (size_t index = 1; index <= ConsecutiveCount(longestAnswer); ++index) {
        received.push_back(EcuFrame(0, Consecutive(longestAnswer, index, kEcuFill)));
    }
    received.push_back(Returns(Within(0, 0)));
    const Bytes escapeFirstFrame = {0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x62, 0xF1};
    ExpectConformant({
        {"4095 bytes sent", {}, {SegmentedWrite(4095, 0, 0, 0)}},
        {"4095 bytes received", {}, {{kReadRequest, received, 4095, longestAnswer}}},
        {"4096 bytes are not sent",
         {},
         {{WriteRequest(4096), {Returns(Within(0, 0))}, CIsoTp::kErrBadParameter, {}}}},
        {"a first frame announcing 4096 bytes is refused without flow control",
         {},
         {{kReadRequest,
           {TesterFrame(kReadRequestFrame, Within(0, 0)), EcuFrame(kEcuAnswerMs, escapeFirstFrame),
            Returns(Within(0, 0))},
           CIsoTp::kErrCommunication,
           {}}}},
        {"an answer larger than the buffer gets an overflow",
         {},
         {{kReadRequest,
           {TesterFrame(kReadRequestFrame, Within(0, 0)),
            EcuFrame(kEcuAnswerMs, FirstFrame(ReadAnswer(40))),
            TesterFrame(kTesterOverflow, Within(0, kPerformanceMs)), Returns(Within(0, 0))},
           CIsoTp::kErrCommunication,
           {},
           32}}},
    });
}

// The player itself: each kind of departure from a script is reported, so that a conformant
// run means something.
TEST(IsoTpTimingConformance, DeparturesAreReported) {
    struct Case {
        IsoTpScript script;
        std::vector<std::string> faults;
    };
    const Bytes answerFrame = {0x02, 0x7E, 0x00, 0, 0, 0, 0, 0};
    const Bytes presentFrame = {0x02, 0x3E, 0x00, 0, 0, 0, 0, 0};
    const Bytes present = {0x3E, 0x00};
    const Bytes answer = {0x7E, 0x00};
    const Case cases[] = {
        {{"early frame",
          {},
          {{present,
            {TesterFrame(presentFrame, Within(5, 10)), EcuFrame(kEcuAnswerMs, answerFrame),
             Returns(Within(0, 0))},
            2,
            answer}}},
         {"step 1 came 0 ms after step 0, window 5..10 ms"}},
        {{"late return",
          {},
          {{present,
            {TesterFrame(presentFrame, Within(0, 0)), EcuFrame(kEcuAnswerMs, answerFrame),
             Returns(WithinSince(2, 0, kEcuAnswerMs - 1))},
            2,
            answer}}},
         {"step 3 came 20 ms after step 1, window 0..19 ms"}},
        {{"other bytes",
          {},
          {{present, {TesterFrame({0x02, 0x3E, 0x80, 0, 0, 0, 0, 0}, Within(0, 0))}, 0, {}}}},
         {"step 1: tester sent 98DA33F1: 02 3E 00 00 00 00 00 00, script has 98DA33F1: 02 3E 80 "
          "00 00 00 00 00",
          "call 1: result -5, script has 0"}},
        {{"missing frame",
          {},
          {{present,
            {TesterFrame(presentFrame, Within(0, 0)), TesterFrame(presentFrame, Within(0, 0)),
             Returns(Within(0, 0))},
            CIsoTp::kErrTimedOut,
            {}}}},
         {"call 1 returned early: step 2 never came"}},
        {{"wrong result and response",
          {},
          {{present,
            {TesterFrame(presentFrame, Within(0, 0)), EcuFrame(kEcuAnswerMs, answerFrame),
             Returns(Within(0, 0))},
            1,
            {0x7E}}}},
         {"call 1: result 2, script has 1",
          "call 1: response 00000000: 7E 00, script has 00000000: 7E"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlayIsoTpScript(c.script), c.faults) << c.script.name;
    }
}

}  // namespace
}  // namespace diagbridge::cantest
