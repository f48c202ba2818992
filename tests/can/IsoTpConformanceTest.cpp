// ISO-TP exchanges as exact frame sequences between the tester and a scripted ECU.
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>

#include "CanTestSupport.h"
#include "uds/UdsRequest.h"

namespace diagbridge::cantest {
namespace {

using Bytes = std::vector<uint8_t>;
using Step = ScriptedEcu::Step;

Bytes Counting(size_t count, uint8_t first = 1) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

Frame Tx(Bytes bytes) {
    return {kRequestId, std::move(bytes)};
}
Frame Rx(Bytes bytes) {
    return {kResponseId, std::move(bytes)};
}

const Frame kFlowControlFromTester = Tx({0x30, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
const Frame kContinueAll = Rx({0x30, 0x00, 0x00, 0, 0, 0, 0, 0});

// The frames of a segmented response of payload from the ECU: first frame, then consecutive
// frames, each padded to 8 bytes with 0xAA.
std::vector<Frame> ResponseFrames(const Bytes& payload) {
    std::vector<Frame> frames;
    Bytes first = {static_cast<uint8_t>(0x10 | (payload.size() >> 8)),
                   static_cast<uint8_t>(payload.size() & 0xFF)};
    first.insert(first.end(), payload.begin(), payload.begin() + 6);
    frames.push_back(Rx(first));
    uint8_t sequence = 1;
    for (size_t offset = 6; offset < payload.size(); offset += 7, ++sequence) {
        Bytes next = {static_cast<uint8_t>(0x20 | (sequence & 0x0F))};
        const size_t count = std::min<size_t>(7, payload.size() - offset);
        next.insert(next.end(), payload.begin() + offset, payload.begin() + offset + count);
        next.resize(8, 0xAA);
        frames.push_back(Rx(next));
    }
    return frames;
}

// The tester's frames of a segmented request of payload, the ECU letting all consecutive
// frames come at once and answering the last one with answer.
std::vector<ScriptedEcu::Step> RequestScript(const Bytes& payload, std::vector<Frame> answer) {
    Bytes first = {static_cast<uint8_t>(0x10 | (payload.size() >> 8)),
                   static_cast<uint8_t>(payload.size() & 0xFF)};
    first.insert(first.end(), payload.begin(), payload.begin() + 6);
    std::vector<ScriptedEcu::Step> script = {{Tx(first), {kContinueAll}}};
    uint8_t sequence = 1;
    for (size_t offset = 6; offset < payload.size(); offset += 7, ++sequence) {
        Bytes next = {static_cast<uint8_t>(0x20 | (sequence & 0x0F))};
        const size_t count = std::min<size_t>(7, payload.size() - offset);
        next.insert(next.end(), payload.begin() + offset, payload.begin() + offset + count);
        next.resize(8, 0x00);
        script.push_back({Tx(next), {}});
    }
    script.back().reply = std::move(answer);
    return script;
}

struct Exchange {
    int32_t result;
    Bytes response;
};

class IsoTpConformanceTest : public ::testing::Test {
  protected:
    // Runs request against script on a fresh channel.
    Exchange Run(const Bytes& request, std::vector<Step> script, size_t capacity = 4096) {
        bus_ = std::make_unique<VirtualChannel>();
        ecu_ = std::make_unique<ScriptedEcu>(bus_->bus, 500000, std::move(script));
        bus_->channel.SetOptions(options_);
        EXPECT_EQ(bus_->channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
        Bytes response(4096, 0xEE);
        int32_t length = -1;
        const int32_t result =
            bus_->channel.Transfer(request.data(), static_cast<int32_t>(request.size()),
                                   response.data(), capacity, &length, rules_);
        EXPECT_EQ(length, result > 0 ? result : 0);
        EXPECT_TRUE(ecu_->Unexpected().empty()) << ecu_->Unexpected().front();
        response.resize(result > 0 ? static_cast<size_t>(result) : 0);
        return {result, response};
    }
    std::vector<Frame> Conversation() const { return ecu_->Frames(); }
    std::vector<ScriptedEcu::Logged> Log() const { return ecu_->Log(); }

    IsoTpOptions options_;
    IsoTpAnswerRules rules_;
    std::unique_ptr<VirtualChannel> bus_;
    std::unique_ptr<ScriptedEcu> ecu_;
};

TEST_F(IsoTpConformanceTest, SingleFramesBothWays) {
    const std::vector<Step> script = {
        {Tx({0x03, 0x22, 0xF1, 0x90, 0x00, 0x00, 0x00, 0x00}),
         {Rx({0x05, 0x62, 0xF1, 0x90, 0x41, 0x42, 0xCC, 0xCC})}},
    };
    const Exchange result = Run({0x22, 0xF1, 0x90}, script);
    EXPECT_EQ(result.result, 5);
    EXPECT_EQ(result.response, (Bytes{0x62, 0xF1, 0x90, 0x41, 0x42}));
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(script));
}

TEST_F(IsoTpConformanceTest, SevenBytesAreOneSingleFrameEightAreSegmented) {
    const std::vector<Step> seven = {
        {Tx({0x07, 1, 2, 3, 4, 5, 6, 7}), {Rx({0x02, 0x7E, 0x00})}},
    };
    EXPECT_EQ(Run(Counting(7), seven).result, 2);
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(seven));

    const std::vector<Step> eight = {
        {Tx({0x10, 0x08, 1, 2, 3, 4, 5, 6}), {kContinueAll}},
        {Tx({0x21, 7, 8, 0, 0, 0, 0, 0}), {Rx({0x02, 0x7E, 0x00})}},
    };
    EXPECT_EQ(Run(Counting(8), eight).result, 2);
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(eight));
}

TEST_F(IsoTpConformanceTest, SegmentedResponseGetsAFlowControlPaddedWithFF) {
    const Bytes payload = Counting(20, 0x40);
    std::vector<Frame> response = ResponseFrames(payload);
    const std::vector<Step> script = {
        {Tx({0x03, 0x22, 0xF1, 0x90, 0, 0, 0, 0}), {response[0]}},
        {kFlowControlFromTester, {response.begin() + 1, response.end()}},
    };
    const Exchange result = Run({0x22, 0xF1, 0x90}, script);
    EXPECT_EQ(result.result, 20);
    EXPECT_EQ(result.response, payload);
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(script));
}

TEST_F(IsoTpConformanceTest, SequenceNumbersWrapFrom15To0) {
    const Bytes payload = Counting(6 + 7 * 18);  // consecutive frames 1..15, 0, 1, 2
    std::vector<Frame> response = ResponseFrames(payload);
    ASSERT_EQ(response[15].bytes[0], 0x2F);
    ASSERT_EQ(response[16].bytes[0], 0x20);
    ASSERT_EQ(response[17].bytes[0], 0x21);
    const std::vector<Step> script = {
        {Tx({0x01, 0x19, 0, 0, 0, 0, 0, 0}), {response[0]}},
        {kFlowControlFromTester, {response.begin() + 1, response.end()}},
    };
    const Exchange result = Run({0x19}, script);
    EXPECT_EQ(result.result, static_cast<int32_t>(payload.size()));
    EXPECT_EQ(result.response, payload);

    // The request side wraps the same way.
    const Bytes big = Counting(126);
    const std::vector<Step> request = RequestScript(big, {Rx({0x01, 0x7E})});
    ASSERT_EQ(request[16].expect.bytes[0], 0x20);
    ASSERT_EQ(request.back().expect.bytes, (Bytes{0x22, 126, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Run(big, request).result, 1);
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(request));
}

TEST_F(IsoTpConformanceTest, LastConsecutiveFrameIsPaddedWithZeros) {
    const std::vector<Step> script = {
        {Tx({0x10, 0x09, 1, 2, 3, 4, 5, 6}), {kContinueAll}},
        {Tx({0x21, 7, 8, 9, 0, 0, 0, 0}), {Rx({0x01, 0x7E})}},
    };
    EXPECT_EQ(Run(Counting(9), script).result, 1);
    EXPECT_TRUE(ecu_->ScriptDone());
}

TEST_F(IsoTpConformanceTest, BlockSizeAndSeparationTimeAreObeyed) {
    platform::ManualClock clock(1000);
    platform::ScopedClock scoped(clock);
    const Bytes request = Counting(6 + 7 * 4);
    const std::vector<Step> script = {
        {Tx({0x10, 34, 1, 2, 3, 4, 5, 6}), {Rx({0x30, 0x02, 0x0A})}},
        {Tx({0x21, 7, 8, 9, 10, 11, 12, 13}), {}},
        {Tx({0x22, 14, 15, 16, 17, 18, 19, 20}), {Rx({0x30, 0x02, 0x0A})}},
        {Tx({0x23, 21, 22, 23, 24, 25, 26, 27}), {}},
        {Tx({0x24, 28, 29, 30, 31, 32, 33, 34}), {Rx({0x01, 0x7E})}},
    };
    EXPECT_EQ(Run(request, script).result, 1);
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(script));
    const auto log = Log();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[3].tick - log[2].tick, 10u);  // 21 -> 22
    EXPECT_EQ(log[6].tick - log[5].tick, 10u);  // 23 -> 24
}

TEST_F(IsoTpConformanceTest, SeparationTimeEncoding) {
    struct Case {
        uint8_t st;
        uint32_t us;
    };
    const Case cases[] = {{0x00, 0},      {0x01, 1000},   {0x0A, 10000}, {0x7F, 127000},
                          {0x80, 127000}, {0xF0, 127000}, {0xF1, 100},   {0xF5, 500},
                          {0xF9, 900},    {0xFA, 127000}, {0xFF, 127000}};
    for (const Case& c : cases) EXPECT_EQ(CIsoTp::SeparationTimeUs(c.st), c.us) << int{c.st};
}

TEST(IsoTpOptionsTest, ValuesOutOfRangeAreBroughtIntoRange) {
    IsoTpOptions wild;
    wild.frameTimeoutMs = 0;
    wild.pendingTimeoutMs = 1000000;
    wild.pendingTotalMs = 0;
    wild.maxFlowControlWaits = 99999;
    wild.keepAlivePeriodMs = 0;
    wild.silentAnswerMs = 0;
    CIsoTp channel(nullptr);
    channel.SetOptions(wild);
    EXPECT_EQ(channel.Options().frameTimeoutMs, 1u);
    EXPECT_EQ(channel.Options().pendingTimeoutMs, 60000u);
    EXPECT_EQ(channel.Options().pendingTotalMs, 1u);
    EXPECT_EQ(channel.Options().maxFlowControlWaits, 1000u);
    EXPECT_EQ(channel.Options().keepAlivePeriodMs, 10u);
    EXPECT_EQ(channel.Options().silentAnswerMs, 1u);
    const IsoTpOptions defaults;
    channel.SetOptions(defaults);
    EXPECT_EQ(channel.Options().frameTimeoutMs, 1000u);
    EXPECT_EQ(channel.Options().pendingTimeoutMs, 5000u);
    EXPECT_EQ(channel.Options().pendingTotalMs, 60000u);
    EXPECT_EQ(channel.Options().keepAlivePeriodMs, 2000u);
    EXPECT_EQ(channel.Options().silentAnswerMs, 200u);
}

TEST_F(IsoTpConformanceTest, FlowControlWaitThenContinue) {
    const std::vector<Step> script = {
        {Tx({0x10, 0x08, 1, 2, 3, 4, 5, 6}), {Rx({0x31, 0, 0}), Rx({0x31, 0, 0}), kContinueAll}},
        {Tx({0x21, 7, 8, 0, 0, 0, 0, 0}), {Rx({0x01, 0x7E})}},
    };
    EXPECT_EQ(Run(Counting(8), script).result, 1);
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(script));
}

TEST_F(IsoTpConformanceTest, FlowControlFailures) {
    struct Case {
        const char* what;
        std::vector<Frame> flowControls;
        int32_t result;
    };
    options_.frameTimeoutMs = 20;
    options_.maxFlowControlWaits = 2;
    const Case cases[] = {
        {"overflow aborts at once", {Rx({0x32, 0, 0})}, CIsoTp::kErrCommunication},
        {"invalid flow status", {Rx({0x37, 0, 0})}, CIsoTp::kErrCommunication},
        {"not a flow control", {Rx({0x21, 0, 0})}, CIsoTp::kErrCommunication},
        {"flow control too short", {Rx({0x30, 0})}, CIsoTp::kErrCommunication},
        {"too many waits", {Rx({0x31}), Rx({0x31}), Rx({0x31})}, CIsoTp::kErrCommunication},
        {"no flow control", {}, CIsoTp::kErrTimedOut},
        {"wait, then silence", {Rx({0x31, 0, 0})}, CIsoTp::kErrTimedOut},
    };
    for (const Case& c : cases) {
        const std::vector<Step> script = {{Tx({0x10, 0x08, 1, 2, 3, 4, 5, 6}), c.flowControls}};
        EXPECT_EQ(Run(Counting(8), script).result, c.result) << c.what;
        // No consecutive frame went out.
        EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(script)) << c.what;
    }
}

TEST_F(IsoTpConformanceTest, ResponseFailures) {
    struct Case {
        const char* what;
        std::vector<Frame> frames;  // the ECU's answer to the request
        std::vector<Frame> afterFlowControl;
        int32_t result;
    };
    options_.frameTimeoutMs = 20;
    const Bytes payload = Counting(27);
    const std::vector<Frame> good = ResponseFrames(payload);
    const Case cases[] = {
        {"silence", {}, {}, CIsoTp::kErrTimedOut},
        {"skipped sequence number", {good[0]}, {good[1], good[3]}, CIsoTp::kErrCommunication},
        {"repeated sequence number", {good[0]}, {good[1], good[1]}, CIsoTp::kErrCommunication},
        {"missing last frame", {good[0]}, {good[1], good[2]}, CIsoTp::kErrTimedOut},
        {"complete", {good[0]}, {good[1], good[2], good[3]}, 27},
        // Frames that cannot start an answer are left over from an abandoned exchange.
        {"consecutive frame first", {good[1]}, {}, CIsoTp::kErrTimedOut},
        {"flow control as response", {Rx({0x30, 0, 0})}, {}, CIsoTp::kErrTimedOut},
        {"single frame of length 0", {Rx({0x00, 0x7E})}, {}, CIsoTp::kErrCommunication},
        {"single frame of length 8",
         {Rx({0x08, 1, 2, 3, 4, 5, 6, 7})},
         {},
         CIsoTp::kErrCommunication},
        {"single frame shorter than its length", {Rx({0x05, 1, 2})}, {}, CIsoTp::kErrCommunication},
        {"first frame of 7 bytes",
         {Rx({0x10, 0x07, 1, 2, 3, 4, 5, 6})},
         {},
         CIsoTp::kErrCommunication},
        {"short consecutive frame",
         {good[0]},
         {good[1], Rx({0x22, 1, 2})},
         CIsoTp::kErrCommunication},
    };
    for (const Case& c : cases) {
        std::vector<Step> script = {{Tx({0x01, 0x19, 0, 0, 0, 0, 0, 0}), c.frames}};
        if (!c.afterFlowControl.empty())
            script.push_back({kFlowControlFromTester, c.afterFlowControl});
        EXPECT_EQ(Run({0x19}, script).result, c.result) << c.what;
    }
}

TEST_F(IsoTpConformanceTest, FramesOfOtherEcusAreIgnored) {
    const std::vector<Step> script = {
        {Tx({0x01, 0x3E, 0, 0, 0, 0, 0, 0}),
         {{0x18DAF144u | kExt, {0x02, 0x7E, 0x00}},  // another ECU
          {0x18DA33F1u | kExt, {0x02, 0x7E, 0x00}},  // another tester's request
          {0x7E8, {0x02, 0x7E, 0x00}},               // standard identifier
          Rx({0x02, 0x7E, 0x01})}},
    };
    const Exchange result = Run({0x3E}, script);
    EXPECT_EQ(result.result, 2);
    EXPECT_EQ(result.response, (Bytes{0x7E, 0x01}));
}

TEST_F(IsoTpConformanceTest, ResponsePendingIsWaitedThrough) {
    const std::vector<Step> script = {
        {Tx({0x02, 0x31, 0x01, 0, 0, 0, 0, 0}),
         {Rx({0x03, 0x7F, 0x31, 0x78, 0, 0, 0, 0}), Rx({0x03, 0x7F, 0x31, 0x78}),
          Rx({0x02, 0x71, 0x01})}},
    };
    const Exchange result = Run({0x31, 0x01}, script);
    EXPECT_EQ(result.result, 2);
    EXPECT_EQ(result.response, (Bytes{0x71, 0x01}));
}

// The late answer of an abandoned "22 F1 90" must not become the answer of "22 F1 8C".
TEST_F(IsoTpConformanceTest, FramesThatDoNotAnswerTheRequestAreDropped) {
    rules_.matches = &AnswersRequest;
    const Bytes late = {0x62, 0xF1, 0x90, 'W', 'D', 'B', '9', '0', '6', '2', '3'};
    const std::vector<Frame> lateFrames = ResponseFrames(late);
    const std::vector<Step> script = {
        {Tx({0x03, 0x22, 0xF1, 0x8C, 0, 0, 0, 0}),
         {Rx({0x03, 0x7F, 0x22, 0x78}),  // pending: the same service, waited through
          lateFrames[0], lateFrames[1],  // the older request's answer
          Rx({0x03, 0x7F, 0x19, 0x31}),  // another service's refusal
          Rx({0x03, 0x7F, 0x19, 0x78}),  // another service's pending
          Rx({0x07, 0x62, 0xF1, 0x8C, 0x00, 0x12, 0xD6, 0x87})}},
    };
    const Exchange result = Run({0x22, 0xF1, 0x8C}, script);
    EXPECT_EQ(result.result, 7);
    EXPECT_EQ(result.response, (Bytes{0x62, 0xF1, 0x8C, 0x00, 0x12, 0xD6, 0x87}));
    // The late first frame got no flow control.
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(script));
}

TEST_F(IsoTpConformanceTest, AnswerMatching) {
    struct Case {
        Bytes request;
        Bytes answer;
        bool matches;
    };
    const Case cases[] = {
        {{0x22, 0xF1, 0x8C}, {0x62, 0xF1, 0x8C, 0x01}, true},
        {{0x22, 0xF1, 0x8C}, {0x62, 0xF1, 0x90, 0x01}, false},
        {{0x22, 0xF1, 0x8C}, {0x7F, 0x22, 0x31}, true},
        {{0x22, 0xF1, 0x8C}, {0x7F, 0x2E, 0x31}, false},
        {{0x22, 0xF1, 0x8C}, {0x6E, 0xF1, 0x8C}, false},
        {{0x10, 0x83}, {0x50, 0x03, 0x00, 0x32}, true},  // sub-function without the suppress bit
        {{0x10, 0x03}, {0x50, 0x02, 0x00, 0x32}, false},
        {{0x31, 0x01, 0xFF, 0x01}, {0x71, 0x01, 0xFF, 0x01, 0x00}, true},
        {{0x31, 0x01, 0xFF, 0x01}, {0x71, 0x01, 0xFF, 0x00, 0x00}, false},
        {{0x36, 0x02, 0xAA}, {0x76, 0x01}, false},
        {{0x36, 0x02, 0xAA}, {0x76, 0x02}, true},
        {{0x34, 0x00, 0x33}, {0x74, 0x20, 0x0C, 0x00}, true},
        {{0x2E, 0xFE, 0xFF, 0x01}, {0x6E, 0xFE, 0xFF}, true},
        {{0x2E, 0xFE, 0xFF, 0x01}, {0x6E, 0xFE, 0xFE}, false},
        {{0x19, 0x02, 0xFF}, {0x59, 0x01, 0xFF}, false},
        {{0x3E, 0x00}, {0x7E}, true},  // shorter than its echo: taken, the service checks it
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            AnswersRequest(c.request.data(), c.request.size(), c.answer.data(), c.answer.size()),
            c.matches)
            << Frame{0, c.request} << " <- " << Frame{0, c.answer};
    }
}

// A request that suppresses its positive response: silence within the short wait is the
// answer; a negative answer still comes; response pending obliges the ECU to answer.
TEST_F(IsoTpConformanceTest, SuppressedPositiveResponse) {
    struct Case {
        const char* what;
        std::vector<Frame> answer;
        int32_t result;
        Bytes response;
    };
    options_.silentAnswerMs = 50;
    options_.pendingTimeoutMs = 50;
    rules_.matches = &AnswersRequest;
    rules_.maySuppress = true;
    const Case cases[] = {
        {"silence", {}, CIsoTp::kNoAnswer, {}},
        {"negative", {Rx({0x03, 0x7F, 0x85, 0x22})}, 3, {0x7F, 0x85, 0x22}},
        {"pending then silence", {Rx({0x03, 0x7F, 0x85, 0x78})}, CIsoTp::kErrTimedOut, {}},
        {"pending then positive",
         {Rx({0x03, 0x7F, 0x85, 0x78}), Rx({0x02, 0xC5, 0x02})},
         2,
         {0xC5, 0x02}},
        {"another request's answer, then silence", {Rx({0x02, 0x7E, 0x00})}, CIsoTp::kNoAnswer, {}},
    };
    for (const Case& c : cases) {
        const std::vector<Step> script = {{Tx({0x02, 0x85, 0x82, 0, 0, 0, 0, 0}), c.answer}};
        const Exchange result = Run({0x85, 0x82}, script);
        EXPECT_EQ(result.result, c.result) << c.what;
        EXPECT_EQ(result.response, c.response) << c.what;
        EXPECT_FALSE(bus_->channel.IsBusy()) << c.what;
    }
}

TEST_F(IsoTpConformanceTest, ThreeBytePositiveResponseEndingIn78IsAnAnswer) {
    const std::vector<Step> script = {
        {Tx({0x04, 0x2E, 0xF1, 0x78, 0x01, 0, 0, 0}), {Rx({0x03, 0x6E, 0xF1, 0x78})}},
    };
    const Exchange result = Run({0x2E, 0xF1, 0x78, 0x01}, script);
    EXPECT_EQ(result.result, 3);
    EXPECT_EQ(result.response, (Bytes{0x6E, 0xF1, 0x78}));
}

TEST_F(IsoTpConformanceTest, ResponsePendingGivesTheEcuP2StarNotTheFrameTimeout) {
    options_.frameTimeoutMs = 20;
    options_.pendingTimeoutMs = 10000;
    const Frame request = Tx({0x02, 0x31, 0x01, 0, 0, 0, 0, 0});
    const std::vector<Step> script = {{request, {Rx({0x03, 0x7F, 0x31, 0x78})}}};
    bus_ = std::make_unique<VirtualChannel>();
    ecu_ = std::make_unique<ScriptedEcu>(bus_->bus, 500000, script);
    bus_->channel.SetOptions(options_);
    ASSERT_EQ(bus_->channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    std::thread late([&] {
        ASSERT_TRUE(ecu_->WaitForFrames(1, [&](const Frame& f) { return f == request; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ecu_->Send(Rx({0x02, 0x71, 0x01}));
    });
    uint8_t response[8];
    int32_t length = 0;
    const uint8_t bytes[] = {0x31, 0x01};
    EXPECT_EQ(bus_->channel.Transfer(bytes, 2, response, sizeof(response), &length), 2);
    late.join();
}

TEST_F(IsoTpConformanceTest, BabblingEcuIsCutOffByTheTotalPendingCap) {
    options_.pendingTotalMs = 200;
    bus_ = std::make_unique<VirtualChannel>();
    ecu_ = std::make_unique<ScriptedEcu>(bus_->bus, 500000);
    bus_->channel.SetOptions(options_);
    ASSERT_EQ(bus_->channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    std::atomic<bool> stop{false};
    std::thread babbler([&] {
        while (!stop) {
            ecu_->Send(Rx({0x03, 0x7F, 0x31, 0x78}));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    uint8_t response[8];
    int32_t length = 0;
    const uint8_t bytes[] = {0x31, 0x01};
    EXPECT_EQ(bus_->channel.Transfer(bytes, 2, response, sizeof(response), &length),
              CIsoTp::kErrTimedOut);
    EXPECT_EQ(length, 0);
    stop = true;
    babbler.join();
}

TEST_F(IsoTpConformanceTest, MessageLengthLimits) {
    // 4095 bytes is the largest message: first frame 1F FF.
    const Bytes largest = Counting(4095);
    const std::vector<Step> script = RequestScript(largest, {Rx({0x01, 0x7E})});
    ASSERT_EQ(script[0].expect.bytes[0], 0x1F);
    ASSERT_EQ(script[0].expect.bytes[1], 0xFF);
    EXPECT_EQ(Run(largest, script).result, 1);
    EXPECT_EQ(Conversation(), ScriptedEcu::Conversation(script));

    // Larger ones fail at once with nothing on the bus.
    for (const size_t size : {4096, 5000}) {
        EXPECT_EQ(Run(Counting(size), {}).result, CIsoTp::kErrBadParameter);
        EXPECT_TRUE(Conversation().empty());
    }
    EXPECT_EQ(Run({}, {}).result, CIsoTp::kErrBadParameter);
}

TEST_F(IsoTpConformanceTest, ResponseLargerThanTheBufferIsRefusedWithOverflow) {
    const std::vector<Frame> response = ResponseFrames(Counting(40));
    const std::vector<Step> script = {
        {Tx({0x01, 0x19, 0, 0, 0, 0, 0, 0}), {response[0]}},
        {Tx({0x32, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), {}},
    };
    EXPECT_EQ(Run({0x19}, script, 32).result, CIsoTp::kErrCommunication);
    EXPECT_TRUE(ecu_->ScriptDone());
}

TEST_F(IsoTpConformanceTest, CancelledExchangeSendsNothing) {
    platform::CancelFlag cancel;
    cancel.Set();
    bus_ = std::make_unique<VirtualChannel>();
    ecu_ = std::make_unique<ScriptedEcu>(bus_->bus, 500000);
    bus_->channel.SetCancelFlag(&cancel);
    ASSERT_EQ(bus_->channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    uint8_t response[8];
    int32_t length = 0;
    const uint8_t bytes[] = {0x3E, 0x00};
    EXPECT_EQ(bus_->channel.Transfer(bytes, 2, response, sizeof(response), &length),
              CIsoTp::kErrAbandoned);
    EXPECT_TRUE(ecu_->Frames().empty());
}

TEST_F(IsoTpConformanceTest, ClosedChannelRefusesExchanges) {
    VirtualChannel v;
    uint8_t response[8];
    int32_t length = 0;
    const uint8_t bytes[] = {0x3E, 0x00};
    EXPECT_EQ(v.channel.Transfer(bytes, 2, response, sizeof(response), &length),
              CIsoTp::kErrCommunication);
    EXPECT_EQ(v.channel.Transfer(bytes, 2, nullptr, 0, &length), CIsoTp::kErrBadParameter);
}

}  // namespace
}  // namespace diagbridge::cantest
