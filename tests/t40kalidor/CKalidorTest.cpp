// The Kalidor line protocol on the recording seam: break wake-up and hand-shake, commands,
// and the frames the controller sends by itself with their two length rules.
#include <gtest/gtest.h>

#include "ScriptedLine.h"
#include "devices/CKalidor.h"

namespace diagbridge {
namespace {

using platform::SerialEvent;
using testfakes::Bytes;

class CKalidorTest : public ::testing::Test, protected testfakes::ScriptedLineFixture {
  protected:
    CKalidor device_{4, 0, 0};
};

// Frame with t = 2 * B[12] + 13: nine data bytes, count 2, four bytes.
const Bytes kRuleTwoFrame = {0x55, 0x79, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 2, 0xA, 0xB, 0xC, 0xD};
// Frame with t = B[11] + 2 * B[12 + B[11]] + 13: B[11] = 1, B[13] = 1, two bytes after it.
const Bytes kRuleOneFrame = {0x55, 0x79, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 1, 9, 1, 0xA, 0xB};

TEST_F(CKalidorTest, FrameLengthRules) {
    EXPECT_TRUE(CKalidor::FrameComplete(kRuleTwoFrame.data(), 17));
    EXPECT_TRUE(CKalidor::FrameComplete(kRuleOneFrame.data(), 16));
    EXPECT_FALSE(CKalidor::FrameComplete(kRuleTwoFrame.data(), 16));
    EXPECT_FALSE(CKalidor::FrameComplete(kRuleOneFrame.data(), 12));
}

TEST_F(CKalidorTest, OpensItsPortWhenMade) {
    EXPECT_TRUE(device_.IsPortOpen());
    EXPECT_EQ(device_.GetLastError(), 0);
    EXPECT_EQ(device_.NoEcho(), 0);
}

TEST_F(CKalidorTest, WakeUpBreaksThenHandShakesWithTheReplyKey) {
    line.Queue({});                                          // after 07
    line.Queue({0x55, 0x79, 0x83, 0x06, 0x5A, 0x3C, 0x80});  // after 80
    const uint32_t start = clock.TickMs();
    ASSERT_EQ(device_.WakeUp(), 1);
    const auto breakOn = log.Events(SerialEvent::Kind::BreakOn);
    ASSERT_EQ(breakOn.size(), 1u);
    EXPECT_EQ(breakOn[0].tickMs, start);
    EXPECT_EQ(log.Events(SerialEvent::Kind::BreakOff).front().tickMs, start + 200);
    const auto writes = log.Events(SerialEvent::Kind::Write);
    ASSERT_EQ(writes.size(), 7u);
    EXPECT_EQ(writes[0].tickMs, start + 1200);
    EXPECT_EQ(Writes(),
              (std::vector<Bytes>{{0x07}, {0x80}, {0x83}, {0x06}, {0x5A}, {0x3C}, {0x80}}));
    EXPECT_EQ(writes[2].tickMs, start + 1400);
}

TEST_F(CKalidorTest, WakeUpGivesUpAfterFiveTries) {
    for (int i = 0; i < 5; ++i) {
        line.Queue({});
        line.Queue({0x55, 0x79, 0x84, 0x06, 0x5A, 0x3C, 0x80});  // not 83
    }
    EXPECT_EQ(device_.WakeUp(), 0);
    EXPECT_EQ(Writes().size(), 10u);
}

TEST_F(CKalidorTest, CommandsAreTerminatedAndAnswersStrippedOfHeaderAndTrailer) {
    const uint8_t command[] = {0x02, 0x11};
    uint8_t response[256] = {};
    line.Queue({});
    line.Queue({0x55, 0x79, 0x80, 0x42, 0x11, 0x33, 0x80});
    EXPECT_EQ(device_.SendCommand(command, 2, response, sizeof(response)), 3);
    EXPECT_EQ(Bytes(response, response + 3), (Bytes{0x42, 0x11, 0x33}));
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{0x02}, {0x11}, {0x80}}));

    line.Queue({0x55, 0x79, 0x80, 0x80});  // four bytes: no payload
    EXPECT_EQ(device_.SendCommand(command, 0, response, sizeof(response)), 0);
}

TEST_F(CKalidorTest, CommandWithoutPortObject) {
    CKalidor closed{-1, 0, 0};
    uint8_t response[8] = {};
    EXPECT_EQ(closed.GetLastError(), CD5Device::kPortNotOpened);
    EXPECT_EQ(closed.SendCommand(response, 1, response, sizeof(response)), -7);
}

TEST_F(CKalidorTest, ReceivesFramesOfEitherRuleAfterNoise) {
    for (const Bytes& frame : {kRuleTwoFrame, kRuleOneFrame}) {
        line.received.clear();
        line.Arrive({0x12, 0x55, 0x33});  // noise and a false start
        line.Arrive(frame);
        uint8_t buffer[256] = {};
        ASSERT_EQ(device_.ReceiveFrame(buffer, sizeof(buffer)), static_cast<int32_t>(frame.size()));
        EXPECT_EQ(Bytes(buffer, buffer + frame.size()), frame);
        EXPECT_EQ(device_.GetLastError(), 0);
    }
}

TEST_F(CKalidorTest, FrameFittingNeitherRuleEndsWithStatusTwoAfterTwoSeconds) {
    Bytes bad = kRuleTwoFrame;
    bad.push_back(0x44);
    line.Arrive(bad);
    uint8_t buffer[256] = {};
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(device_.ReceiveFrame(buffer, sizeof(buffer)), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kNoAnswer);
    const uint32_t spent = clock.TickMs() - start;
    EXPECT_GT(spent, 2000u);
    EXPECT_LE(spent, 2000u + CKalidor::kPortTimeoutMs + 200u);
}

TEST_F(CKalidorTest, IdentTexts) {
    std::vector<std::string> texts;
    std::vector<uint8_t> bytes;
    device_.SetIdentBytes({0xAB, 0xCD, 0xEF});
    EXPECT_EQ(device_.GetIdent(&texts, &bytes), 1);
    ASSERT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts[0], "RetarderKL");
    EXPECT_EQ(texts[8], "Kalidor");
    EXPECT_EQ(texts[11], "0");
    EXPECT_EQ(bytes, (Bytes{0x00, 0x03, 0xAB, 0xCD, 0xEF}));
}

TEST_F(CKalidorTest, StopWritesStopAndTerminator) {
    device_.StopCommunication();
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{0x0F}, {0x80}}));
}

}  // namespace
}  // namespace diagbridge
