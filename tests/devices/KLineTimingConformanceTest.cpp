// Timing conformance of the K-line tester: line-level scripts with time windows on the manual
// clock (ISO 14230-2 fast initialisation, P2 as far as the tester waits, P3min before every
// request).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "KLineScript.h"
#include "devices/CD5Device.h"
#include "devices/CDCOrlanComKwp2000.h"

namespace diagbridge::linetest {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Within;
using testing::WithinSince;

constexpr uint8_t kEcu = 0x18;
constexpr uint8_t kTester = 0xFA;

// Fast initialisation: the line low for TiniL, the whole wake-up pattern TWuP, each +-1 ms.
constexpr uint32_t kTiniLMinMs = 24;
constexpr uint32_t kTiniLMaxMs = 26;
constexpr uint32_t kTWuPMinMs = 49;
constexpr uint32_t kTWuPMaxMs = 51;
// The tester's own idle time before the pattern (the line is high from the purge on).
constexpr uint32_t kIdleBeforeWakeUpMs = 100;
// Standard timing: the ECU answers P2 after a request; the tester waits at least P3min after
// the last byte of an answer and at most P3max before its next request.
constexpr uint32_t kP2Ms = 25;
constexpr uint32_t kP3MinMs = 55;
constexpr uint32_t kP3MaxMs = 5000;
// The device's read time-out in these scripts: how long the tester waits for an answer.
constexpr int32_t kReadTimeoutMs = 1000;
// The tester's pause before it repeats an unanswered request.
constexpr uint32_t kRetryPauseMs = 100;
// Extended P2 after a response pending.
constexpr uint32_t kP2StarMs = 5000;
// The tester's pause after StopCommunication, which is not answered.
constexpr uint32_t kStopPauseMs = 100;

// A frame with format byte, target, source, data and the sum of all bytes before it.
Bytes KwpFrame(uint8_t target, uint8_t source, const Bytes& data) {
    Bytes frame = {static_cast<uint8_t>(0x80 + data.size()), target, source};
    frame.insert(frame.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t byte : frame) sum = static_cast<uint8_t>(sum + byte);
    frame.push_back(sum);
    return frame;
}
Bytes Request(const Bytes& data) {
    return KwpFrame(kEcu, kTester, data);
}
Bytes Answer(const Bytes& data) {
    return KwpFrame(kTester, kEcu, data);
}

const Bytes kStartCommunication = {0x81, kEcu, kTester, 0x81, 0x14};  // written by hand
const Bytes kStartAnswer = {0x83, kTester, kEcu, 0xC1, 0x6B, 0x8F, 0x50};

// Fast initialisation on a wired line, answered after P2.
LineCall WiredConnect() {
    return {LineOperation::kConnect,
            {},
            {Low(Within(kIdleBeforeWakeUpMs, kIdleBeforeWakeUpMs)),
             High(Within(kTiniLMinMs, kTiniLMaxMs)),
             Writes(kStartCommunication, WithinSince(2, kTWuPMinMs, kTWuPMaxMs)),
             EcuSends(kP2Ms, kStartAnswer), Returns(Within(0, 0))},
            1,
            {},
            0};
}

// data sent no earlier than p3Min after the step before, answered after P2 with answer.
LineCall Exchange(const Bytes& data, const Bytes& answer, uint32_t p3Min = kP3MinMs) {
    return {LineOperation::kSendCommand,
            data,
            {Writes(Request(data), Within(p3Min, kP3MaxMs)), EcuSends(kP2Ms, Answer(answer)),
             Returns(Within(0, 0))},
            static_cast<int32_t>(answer.size()),
            answer,
            0};
}

void ExpectConformant(const std::vector<KLineScript>& scripts) {
    for (const KLineScript& script : scripts) {
        EXPECT_THAT(PlayKLineScript(script), ::testing::IsEmpty()) << script.name;
    }
}

// TiniL and TWuP on the line before StartCommunication; SkyLink has no line to pull.
TEST(KLineTimingConformance, FastInitialisation) {
    LineCall silent = WiredConnect();
    silent.steps.pop_back();
    silent.steps.pop_back();
    silent.steps.push_back(Returns(Within(kReadTimeoutMs, kReadTimeoutMs)));
    silent.result = 0;
    ExpectConformant({
        {"wired", true, 0, kReadTimeoutMs, {WiredConnect()}},
        {"no answer: the tester gives up after its read time-out",
         true,
         0,
         kReadTimeoutMs,
         {silent}},
        {"SkyLink: no break, StartCommunication after the same pause",
         false,
         0,
         kReadTimeoutMs,
         {{LineOperation::kConnect,
           {},
           {Writes(kStartCommunication,
                   Within(kIdleBeforeWakeUpMs + kTWuPMinMs, kIdleBeforeWakeUpMs + kTWuPMaxMs)),
            EcuSends(kP2Ms, kStartAnswer), Returns(Within(0, 0))},
           1,
           {},
           0}}},
    });
}

// P3min after the last byte of every answer (StartCommunication's included), whatever time
// is in force: the standard 55 ms or one agreed with AccessTimingParameters.
TEST(KLineTimingConformance, InterRequestTimeBeforeEveryRequest) {
    const Bytes present = {0x3E};
    const Bytes presentAnswer = {0x7E};
    const Bytes ident = {0x1A, 0x9B};
    const Bytes identAnswer = {0x5A, 0x9B, 'T', '6', '0'};
    std::vector<KLineScript> scripts;
    for (const uint32_t p3Min : {kP3MinMs, 5u, 20u, 200u}) {
        scripts.push_back(
            {"P3min " + std::to_string(p3Min) + " ms",
             true,
             p3Min,
             kReadTimeoutMs,
             {WiredConnect(), Exchange(present, presentAnswer, p3Min),
              Exchange(ident, identAnswer, p3Min), Exchange(present, presentAnswer, p3Min)}});
    }
    // An ECU slow to answer: P3min still counts from its answer, not from the request.
    LineCall slow = Exchange(present, presentAnswer);
    slow.steps[1] = EcuSends(400, Answer(presentAnswer));
    // Bytes that come while the tester waits (a late answer to something else) are not an
    // answer it may start after: the quiet time begins again.
    LineCall stray = Exchange(ident, identAnswer);
    stray.steps.insert(stray.steps.begin(), EcuSends(30, Answer({0x7F, 0x21, 0x10})));
    scripts.push_back({"slow ECU",
                       true,
                       0,
                       kReadTimeoutMs,
                       {WiredConnect(), slow, Exchange(ident, identAnswer)}});
    scripts.push_back({"stray bytes before the request",
                       true,
                       0,
                       kReadTimeoutMs,
                       {WiredConnect(), Exchange(present, presentAnswer), stray}});
    scripts.push_back({"SkyLink",
                       false,
                       0,
                       kReadTimeoutMs,
                       {{LineOperation::kConnect,
                         {},
                         {Writes(kStartCommunication, Within(0, 1000)),
                          EcuSends(kP2Ms, kStartAnswer), Returns(Within(0, 0))},
                         1,
                         {},
                         0},
                        Exchange(present, presentAnswer),
                        Exchange(ident, identAnswer)}});
    ExpectConformant(scripts);
}

// StopCommunication is a request like any other, though nothing answers it.
TEST(KLineTimingConformance, StopCommunicationKeepsTheInterRequestTime) {
    const LineCall stop = {LineOperation::kStopCommunication,
                           {},
                           {Writes(Request({0x82}), Within(kP3MinMs, kP3MaxMs)),
                            Returns(Within(kStopPauseMs, kStopPauseMs))},
                           0,
                           {},
                           0};
    ExpectConformant({
        {"after the start answer", true, 0, kReadTimeoutMs, {WiredConnect(), stop}},
        {"after an exchange",
         true,
         0,
         kReadTimeoutMs,
         {WiredConnect(), Exchange({0x3E}, {0x7E}), stop}},
    });
}

// The tester waits for an answer as long as its read time-out (far beyond P2max, for slow
// adapters); an unanswered request is repeated once after its pause, a late answer is dropped
// and the repeat keeps P3min after it.
TEST(KLineTimingConformance, AnswerWaitAndRepeat) {
    const Bytes data = {0x21, 0x01};
    const Bytes answer = {0x61, 0x01, 0x12, 0x34};
    const Bytes request = Request(data);
    LineCall lastMoment = Exchange(data, answer);
    lastMoment.steps[1] = EcuSends(kReadTimeoutMs - 1, Answer(answer));
    const LineCall silent = {
        LineOperation::kSendCommand,
        data,
        {Writes(request, Within(kP3MinMs, kP3MaxMs)),
         Writes(request, Within(kReadTimeoutMs + kRetryPauseMs, kReadTimeoutMs + kRetryPauseMs)),
         Returns(Within(kReadTimeoutMs + kRetryPauseMs, kReadTimeoutMs + kRetryPauseMs))},
        0,
        {},
        CD5Device::kNoAnswer};
    const LineCall late = {
        LineOperation::kSendCommand,
        data,
        {Writes(request, Within(kP3MinMs, kP3MaxMs)), EcuSends(kReadTimeoutMs + 1, Answer(answer)),
         Writes(request, Within(kP3MinMs, kP3MaxMs)), EcuSends(kP2Ms, Answer(answer)),
         Returns(Within(0, 0))},
        static_cast<int32_t>(answer.size()),
        answer,
        0};
    ExpectConformant({
        {"answer at the end of the wait", true, 0, kReadTimeoutMs, {WiredConnect(), lastMoment}},
        {"no answer", true, 0, kReadTimeoutMs, {WiredConnect(), silent}},
        {"late answer", true, 0, kReadTimeoutMs, {WiredConnect(), late}},
    });
}

// The container's waits: after a response pending the ECU has P2* (5000 ms) for the next
// frame, which the tester notices within one pause and read; a busy answer is repeated after
// a pause that keeps P3min.
TEST(KLineTimingConformance, ResponsePendingAndBusyRepeat) {
    const Bytes data = {0x31, 0x01};
    const Bytes answer = {0x71, 0x01};
    const Bytes request = Request(data);
    const Bytes pending = Answer({0x7F, 0x31, 0x78});
    const auto transfer = [&](std::vector<LineStep> steps, int32_t result, Bytes response,
                              int32_t lastError) {
        steps.insert(steps.begin(), Writes(request, Within(kP3MinMs, kP3MaxMs)));
        return LineCall{LineOperation::kTransfer, data, steps, result, response, lastError};
    };
    const uint32_t noticedMs = CDCOrlanComKwp2000::kPendingPauseMs + kReadTimeoutMs;
    ExpectConformant({
        {"pending, then the answer",
         true,
         0,
         kReadTimeoutMs,
         {WiredConnect(), transfer({EcuSends(kP2Ms, pending), EcuSends(3000, Answer(answer)),
                                    Returns(Within(0, CDCOrlanComKwp2000::kPendingPauseMs))},
                                   2, answer, 0)}},
        {"pending, then silence",
         true,
         0,
         kReadTimeoutMs,
         {WiredConnect(),
          transfer({EcuSends(kP2Ms, pending), Returns(Within(kP2StarMs, kP2StarMs + noticedMs))},
                   -1, {}, CD5Device::kNoAnswer)}},
        {"busy, repeated",
         true,
         0,
         kReadTimeoutMs,
         {WiredConnect(), transfer({EcuSends(kP2Ms, Answer({0x7F, 0x31, 0x21})),
                                    Writes(request, Within(kP3MinMs, kP3MaxMs)),
                                    EcuSends(kP2Ms, Answer(answer)), Returns(Within(0, 0))},
                                   2, answer, 0)}},
    });
}

// The player itself: each kind of departure from a script is reported.
TEST(KLineTimingConformance, DeparturesAreReported) {
    struct Case {
        KLineScript script;
        std::vector<std::string> faults;
    };
    LineCall shortLow = WiredConnect();
    shortLow.steps[1] = High(Within(kTiniLMinMs + 2, kTiniLMaxMs + 2));
    LineCall noBreak = WiredConnect();
    noBreak.steps.erase(noBreak.steps.begin(), noBreak.steps.begin() + 2);
    LineCall wrongAnswer = Exchange({0x3E}, {0x7F, 0x3E, 0x12});
    wrongAnswer.steps[1] = EcuSends(kP2Ms, Answer({0x7E}));
    LineCall silentEcu = Exchange({0x3E}, {0x7E});
    silentEcu.steps.erase(silentEcu.steps.begin() + 1);
    const Case cases[] = {
        {{"pulse not as scripted", true, 0, kReadTimeoutMs, {shortLow}},
         {"step 2 came 25 ms after step 1, window 26..28 ms"}},
        {{"break not in the script", true, 0, kReadTimeoutMs, {noBreak}},
         {"step 1: tester did line low, script has write 81 18 FA 81 14",
          "call 1: result 0, script has 1"}},
        {{"answer not as scripted", true, 0, kReadTimeoutMs, {WiredConnect(), wrongAnswer}},
         {"call 2: result 1, script has 3", "call 2: response 7E, script has 7F 3E 12"}},
        {{"no answer where the script has one",
          true,
          0,
          kReadTimeoutMs,
          {WiredConnect(), silentEcu}},
         {"step 7: tester did write 81 18 FA 3E D1, script has return",
          "call 2: result 0, script has 1", "call 2: response (none), script has 7E",
          "call 2: LastError 2, script has 0"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlayKLineScript(c.script), c.faults) << c.script.name;
    }
}

}  // namespace
}  // namespace diagbridge::linetest
