#include "sim/kline/KlineLineModel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "sim/kline/KwpServiceResponder.h"
#include "tests/sim/KwpTestSupport.h"

namespace diagbridge::sim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using TimePoint = KlineLineModel::TimePoint;

// An arbitrary origin: the model takes every time from its caller.
const TimePoint kOrigin = TimePoint() + std::chrono::seconds(100);

TEST(KlineLineModelTest, ByteTakesTenBitTimes) {
    const struct {
        size_t bytes;
        uint32_t baud;
        nanoseconds wire;
    } cases[] = {
        {1, 10400, nanoseconds(961'538)},  // 10 bits / 10400 bit/s = 961.538 us
        {5, 10400, nanoseconds(4'807'692)},
        {260, 10400, nanoseconds(250'000'000)},  // the longest frame: a quarter second
        {1, 9600, nanoseconds(1'041'666)},
        {1, 38400, nanoseconds(260'416)},
        {1, 115200, nanoseconds(86'805)},
        {7, 0, nanoseconds(0)},  // unpaced
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KlineLineModel::WireTime(c.bytes, c.baud), c.wire) << c.bytes << " @ " << c.baud;
    }
}

// The pseudo-terminal hands a request over at once; on the wire its bytes follow one another.
TEST(KlineLineModelTest, BurstIsSpreadOverTheWire) {
    KlineLineModel wire;
    wire.SetBaudRate(10400);
    const std::vector<nanoseconds> ends = {nanoseconds(961'538), nanoseconds(1'923'076),
                                           nanoseconds(2'884'615), nanoseconds(3'846'153),
                                           nanoseconds(4'807'692)};
    nanoseconds start(0);
    for (const nanoseconds end : ends) {
        const KlineLineModel::Span span = wire.Occupy(kOrigin);
        EXPECT_EQ(span.start, kOrigin + start);
        EXPECT_EQ(span.end, kOrigin + end);
        start = end;
    }
    EXPECT_EQ(wire.FreeAt(), kOrigin + ends.back());
}

TEST(KlineLineModelTest, ByteStartsWhenReadyAndTheWireIsFree) {
    KlineLineModel wire;
    wire.SetBaudRate(10400);
    const nanoseconds byte(961'538);
    wire.Occupy(kOrigin);
    // An answer due while the request's byte is still on the wire waits for it.
    const KlineLineModel::Span queued = wire.Occupy(kOrigin + microseconds(100));
    EXPECT_EQ(queued.start, kOrigin + byte);
    EXPECT_EQ(queued.end, kOrigin + nanoseconds(1'923'076));
    // After a silence the next byte starts as it comes.
    const TimePoint later = kOrigin + milliseconds(30);
    EXPECT_EQ(wire.Occupy(later).end, later + byte);
}

// The session's speed holds from the end of the bytes on the wire (the answer that agreed it).
TEST(KlineLineModelTest, NewBaudRateAppliesAfterTheBytesOnTheWire) {
    KlineLineModel wire;
    wire.SetBaudRate(10400);
    wire.Occupy(kOrigin);
    wire.SetBaudRate(38400);
    EXPECT_EQ(wire.BaudRate(), 38400u);
    const KlineLineModel::Span span = wire.Occupy(kOrigin);
    EXPECT_EQ(span.start, kOrigin + nanoseconds(961'538));
    EXPECT_EQ(span.end, kOrigin + nanoseconds(961'538 + 260'416));
}

TEST(KlineLineModelTest, UnpacedLineTakesNoTime) {
    KlineLineModel wire;
    EXPECT_FALSE(wire.Paced());
    const KlineLineModel::Span span = wire.Occupy(kOrigin);
    EXPECT_EQ(span.start, kOrigin);
    EXPECT_EQ(span.end, kOrigin);
}

TEST(KlineLineModelTest, AnswerWaitsAtLeastPTwoMin) {
    KlineTiming timing;  // standard: P2 25..50 ms
    const struct {
        microseconds configured;
        microseconds delay;
    } cases[] = {
        {milliseconds(0), milliseconds(25)},
        {milliseconds(30), milliseconds(30)},
        {milliseconds(80), milliseconds(80)},  // a late controller stays late
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnswerDelay(c.configured, timing), c.delay) << c.configured.count();
    }
    timing.p2Min = microseconds(500);
    EXPECT_EQ(AnswerDelay(milliseconds(0), timing), microseconds(500));
}

TEST(KlineLineModelTest, RequestBeforePThreeMinIsTooEarly) {
    const milliseconds p3Min(55);
    const struct {
        const char* what;
        nanoseconds afterAnswer;  // from the end of the answer to the start of the request
        bool early;
    } cases[] = {
        {"just short of P3min", microseconds(54'999), true},
        {"at P3min", milliseconds(55), false},
        {"later", milliseconds(200), false},
        {"over the answer", -microseconds(500), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TooEarly(kOrigin + c.afterAnswer, kOrigin, p3Min), c.early) << c.what;
    }
    EXPECT_FALSE(TooEarly(kOrigin, kOrigin, milliseconds(0)));
}

// The controller keeps the session's speed and the timing agreed by 83 03, from the codes.
TEST(KwpServiceResponderLineTimingTest, FollowsSessionAndAgreedTiming) {
    KwpServiceResponder responder(*FindKwpEcuModel("T60"), {});
    KlineTiming timing = responder.LineTiming();
    EXPECT_EQ(timing.baudRate, 10400u);
    EXPECT_EQ(timing.p2Min, milliseconds(25));  // code 32: 50 x 0.5 ms
    EXPECT_EQ(timing.p2Max, milliseconds(50));  // code 02: 2 x 25 ms
    EXPECT_EQ(timing.p3Min, milliseconds(55));  // code 6E: 110 x 0.5 ms

    ASSERT_EQ(test::Ask(responder, {0x10, 0x86, 0x03}), (test::Bytes{0x50, 0x86}));
    ASSERT_EQ(test::Ask(responder, {0x83, 0x03, 0x0B, 0x28, 0x01, 0x14, 0x00}),
              (test::Bytes{0xC3, 0x03}));
    timing = responder.LineTiming();
    EXPECT_EQ(timing.baudRate, 38400u);
    EXPECT_EQ(timing.p2Min, microseconds(5'500));  // 11 x 0.5 ms
    EXPECT_EQ(timing.p2Max, milliseconds(1000));   // 40 x 25 ms
    EXPECT_EQ(timing.p3Min, microseconds(500));

    // A new StartCommunication starts at 10400 baud again.
    responder.CommunicationChanged(true);
    EXPECT_EQ(responder.LineTiming().baudRate, 10400u);
}

}  // namespace
}  // namespace diagbridge::sim
