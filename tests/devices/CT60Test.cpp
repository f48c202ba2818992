#include "devices/CT60.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "FakeSerialPort.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"
#include "platform/SerialRecorder.h"

namespace diagbridge {
namespace {

using platform::SerialEvent;
using testfakes::FakeLine;
using testfakes::FakePortFactory;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kEcu = 0x18;
constexpr uint8_t kTester = 0xFA;

Bytes Filled(size_t count, uint8_t value) {
    return Bytes(count, value);
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(CT60FrameTest, LayoutFollowsTheDataLength) {
    const struct {
        size_t count;
        Bytes header;
        uint8_t checksum;
    } cases[] = {
        {1, {0x81, kEcu, kTester}, 0xD1},  // 3E
        {63, {0xBF, kEcu, kTester}, 0x10},
        {64, {0x80, kEcu, kTester, 0x40}, 0x12},
        {255, {0x80, kEcu, kTester, 0xFF}, 0x90},
    };
    for (const auto& c : cases) {
        const Bytes data = c.count == 1 ? Bytes{0x3E} : Filled(c.count, 0x01);
        std::array<uint8_t, CT60::kMaxFrameLength> frame{};
        const uint32_t length =
            CT60::BuildFrame(kEcu, kTester, data.data(), c.count, frame.data(), frame.size());
        ASSERT_EQ(length, c.header.size() + c.count + 1) << c.count;
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + c.header.size()), c.header) << c.count;
        EXPECT_EQ(Bytes(frame.begin() + c.header.size(), frame.begin() + length - 1), data);
        EXPECT_EQ(frame[length - 1], c.checksum) << c.count;
    }
}

TEST(CT60FrameTest, RefusesWhatDoesNotFit) {
    const Bytes data = Filled(256, 0x01);
    std::array<uint8_t, CT60::kMaxFrameLength> frame{};
    EXPECT_EQ(CT60::BuildFrame(kEcu, kTester, data.data(), 0, frame.data(), frame.size()), 0u);
    EXPECT_EQ(CT60::BuildFrame(kEcu, kTester, data.data(), 256, frame.data(), frame.size()), 0u);
    EXPECT_EQ(CT60::BuildFrame(kEcu, kTester, data.data(), 2, frame.data(), 5), 0u);
    EXPECT_EQ(CT60::BuildFrame(kEcu, kTester, data.data(), 2, frame.data(), 6), 6u);
}

TEST(CD5DeviceTest, BaseSendCommandTellsTheUser) {
    std::vector<std::string> shown;
    platform::ScopedNotifier notifier([&](const std::string& text) { shown.push_back(text); });
    CD5Device device;
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(device.SendCommand(buffer.data(), 1, buffer.data(), buffer.size()), 0);
    EXPECT_EQ(shown, (std::vector<std::string>{"SendMessage"}));
    EXPECT_EQ(device.GetDeviceInfo(), "No Info ");
}

// A T60 device on a scripted line, on the manual clock.
class CT60Test : public ::testing::Test {
  protected:
    void Open(bool wired) {
        line_.echo = wired;
        ASSERT_EQ(device_.Open(kPort, 0, 10400, 1000, wired ? 0 : 1), CD5Device::kOk);
        log_.Clear();
    }
    // A response frame from the ECU to the tester.
    static Bytes Response(const Bytes& data) {
        std::array<uint8_t, CT60::kMaxFrameLength> frame{};
        const uint32_t length =
            CT60::BuildFrame(kTester, kEcu, data.data(), static_cast<uint32_t>(data.size()),
                             frame.data(), frame.size());
        return Bytes(frame.begin(), frame.begin() + length);
    }
    int32_t Send(const Bytes& request) {
        response_.fill(0);
        return device_.SendCommand(request.data(), static_cast<uint32_t>(request.size()),
                                   response_.data(), kCapacity);
    }
    Bytes Answer(size_t count) const { return Bytes(response_.begin(), response_.begin() + count); }
    std::vector<Bytes> Writes() const {
        std::vector<Bytes> writes;
        for (const auto& event : log_.Events(SerialEvent::Kind::Write))
            writes.push_back(event.bytes);
        return writes;
    }

    static constexpr int32_t kPort = 3;
    static constexpr uint32_t kCapacity = 300;
    platform::ManualClock clock_{5000};
    platform::ScopedClock scopedClock_{clock_};
    FakeLine line_;
    platform::SerialLog log_;
    platform::ScopedSerialPortFactory factory_{FakePortFactory(line_, log_)};
    CT60 device_{0, 0, 0};
    std::array<uint8_t, kCapacity + 8> response_{};
};

TEST_F(CT60Test, ExchangeOnWiredAndSkyLinkLines) {
    for (const bool wired : {true, false}) {
        Open(wired);
        line_.Queue(Response({0x5A, 0x93, 0x41, 0x42}));
        ASSERT_EQ(Send({0x1A, 0x93}), 4) << "wired " << wired;
        EXPECT_EQ(Answer(5),
                  (Bytes{0x5A, 0x93, 0x41, 0x42, Response({0x5A, 0x93, 0x41, 0x42}).back()}));
        EXPECT_EQ(Writes(), (std::vector<Bytes>{{0x82, kEcu, kTester, 0x1A, 0x93, 0x41}}));
        EXPECT_EQ(device_.GetLastError(), CD5Device::kOk);
        EXPECT_TRUE(line_.received.empty()) << "wired " << wired;
    }
}

// Answers to an abandoned request that arrive late (pending answers, then its positive
// answer) are read and dropped; only the answer to this request counts.
TEST_F(CT60Test, LateAnswersToAnOlderRequestAreDropped) {
    const Bytes otherService =
        Concat(Concat(Response({0x7F, 0x22, 0x78}), Response({0x7F, 0x22, 0x78})),
               Response({0x62, 0xF1, 0x90, 0x57, 0x44}));
    const Bytes optionEightC = Response({0x5A, 0x8C, 0x31, 0x32});
    const struct {
        const char* name;
        Bytes request;
        Bytes late;  // what an abandoned request still brings
        Bytes answer;
        int32_t count;
        Bytes data;
    } cases[] = {
        {"positive", {0x1A, 0x8C}, otherService, optionEightC, 4, {0x5A, 0x8C, 0x31, 0x32}},
        {"negative",
         {0x1A, 0x8C},
         otherService,
         Response({0x7F, 0x1A, 0x31}),
         3,
         {0x7F, 0x1A, 0x31}},
        {"none of its own", {0x1A, 0x8C}, otherService, {}, 0, {}},
        {"same service, other option",
         {0x1A, 0x93},
         optionEightC,
         Response({0x5A, 0x93, 0x41}),
         3,
         {0x5A, 0x93, 0x41}},
        {"same service, negative",
         {0x1A, 0x93},
         optionEightC,
         Response({0x7F, 0x1A, 0x12}),
         3,
         {0x7F, 0x1A, 0x12}},
        {"same service, none of its own", {0x1A, 0x93}, optionEightC, {}, 0, {}},
        {"other local identifier",
         {0x21, 0x03},
         Response({0x61, 0x01, 0x40, 0x01, 0x80}),
         Response({0x61, 0x03, 0x02, 0x64}),
         4,
         {0x61, 0x03, 0x02, 0x64}},
        {"other access mode",
         {0x27, 0xFE, 0x12, 0x34},
         Response({0x67, 0xFD, 0x12, 0x34}),
         Response({0x67, 0xFE, 0x34}),
         3,
         {0x67, 0xFE, 0x34}},
        {"other timing parameter",
         {0x83, 0x02},
         Response({0xC3, 0x00, 1, 2, 3, 4, 5}),
         Response({0xC3, 0x02, 6, 7, 8, 9, 10}),
         7,
         {0xC3, 0x02, 6, 7, 8, 9, 10}},
        {"bare positive answer", {0x1A, 0x93}, optionEightC, Response({0x5A}), 1, {0x5A}},
        // A memory read answers with data only; nothing of the request is there to compare.
        {"service without a repeated byte",
         {0x23, 0x40, 0x01, 0x80, 0x02},
         {},
         Response({0x63, 0x12, 0x34}),
         3,
         {0x63, 0x12, 0x34}},
    };
    for (const bool wired : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (wired ? " wired" : " SkyLink"));
            Open(wired);
            line_.replies.clear();
            line_.Queue(Concat(c.late, c.answer));
            line_.Queue(c.late);
            EXPECT_EQ(Send(c.request), c.count);
            EXPECT_EQ(Answer(c.data.size()), c.data);
            const int32_t expected = c.count > 0 ? CD5Device::kOk : CD5Device::kNoAnswer;
            EXPECT_EQ(device_.GetLastError(), expected);
        }
    }
}

// On a wired line the bytes of a late answer may come before the echo of the request.
TEST_F(CT60Test, LateBytesBeforeTheEchoAreSkipped) {
    Open(true);
    const Bytes late = Response({0x7F, 0x21, 0x78});
    line_.leading = Bytes(late.begin() + 2, late.end());  // the tail of a late answer
    line_.Queue(Response({0x5A, 0x8C, 0x31}));
    ASSERT_EQ(Send({0x1A, 0x8C}), 3);
    EXPECT_EQ(Answer(3), (Bytes{0x5A, 0x8C, 0x31}));
    EXPECT_EQ(device_.GetErrorCount(), 0);
}

// After a pending answer the next frame read must answer the same request.
TEST_F(CT60Test, ReceiveResponseDropsAnswersToOtherRequests) {
    Open(false);
    line_.Queue(Response({0x7F, 0x31, 0x78}));
    ASSERT_EQ(Send({0x31, 0x01}), 3);
    line_.received.clear();
    const Bytes other = Response({0x62, 0xF1, 0x90});
    const Bytes own = Response({0x71, 0x01});
    line_.received.assign(other.begin(), other.end());
    line_.received.insert(line_.received.end(), own.begin(), own.end());
    EXPECT_EQ(device_.ReceiveResponse(response_.data(), kCapacity), 2);
    EXPECT_EQ(Answer(2), (Bytes{0x71, 0x01}));
}

// A request goes out no earlier than P3min after the end of the last answer, and what
// arrives before it is dropped with a fresh wait.
TEST_F(CT60Test, RequestWaitsForPThreeMinAfterTheLastAnswer) {
    const struct {
        uint32_t p3Min;
        uint32_t afterAnswer;  // time already passed since the answer
        uint32_t gap;          // answer to the next write
    } cases[] = {{CT60::kStandardP3MinMs, 0, 55},
                 // The tick moved on since the answer, which may have ended late in its
                 // millisecond: one tick more makes sure a whole P3min has passed.
                 {CT60::kStandardP3MinMs, 1, 56},
                 {CT60::kStandardP3MinMs, 30, 56},
                 {CT60::kStandardP3MinMs, 80, 80},
                 {20, 0, 20},
                 {0, 0, 0}};
    for (const auto& c : cases) {
        Open(false);
        device_.SetInterRequestTime(c.p3Min);
        line_.Queue(Response({0x7E}));
        ASSERT_EQ(Send({0x3E}), 1);
        const uint32_t answered = clock_.TickMs();
        clock_.Advance(c.afterAnswer);
        line_.Queue(Response({0x7E}));
        ASSERT_EQ(Send({0x3E}), 1);
        const auto writes = log_.Events(SerialEvent::Kind::Write);
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[1].tickMs - answered, c.gap) << c.p3Min << " " << c.afterAnswer;
    }
    EXPECT_EQ(CT60(0, 0, 0).InterRequestTime(), 55u);
}

TEST_F(CT60Test, BytesArrivingBeforeTheRequestRestartTheQuietTime) {
    Open(false);
    line_.Queue(Response({0x7E}));
    ASSERT_EQ(Send({0x3E}), 1);
    const uint32_t answered = clock_.TickMs();
    line_.received.assign({0x62, 0xF1});  // the tail of a late answer
    line_.Queue(Response({0x7E}));
    ASSERT_EQ(Send({0x3E}), 1);
    EXPECT_EQ(Answer(1), Bytes{0x7E});
    const auto writes = log_.Events(SerialEvent::Kind::Write);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].tickMs - answered, 2 * CT60::kStandardP3MinMs);
}

TEST_F(CT60Test, LongRequestAndResponseCarryALengthByte) {
    Open(true);
    const Bytes request = Concat({0x36}, Filled(99, 0x55));
    const Bytes answer = Concat({0x76, 0x01}, Filled(98, 0xAA));
    line_.Queue(Response(answer));
    ASSERT_EQ(Send(request), 100);
    EXPECT_EQ(Answer(100), answer);
    const Bytes written = Writes().at(0);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 4), (Bytes{0x80, kEcu, kTester, 100}));
}

TEST_F(CT60Test, NoValidAnswerIsTriedOnceMore) {
    const Bytes good = Response({0x7E});
    const struct {
        const char* name;
        Bytes first;
        uint32_t gap;  // between the two writes: the retry pause, and P3min again when
                       // bytes of the bad answer were still queued
    } cases[] = {
        {"silence", {}, 100},
        {"functional mode bits", {0xC1, kTester, kEcu, 0x7E, 0x51}, 155},
        {"no address bytes", {0x01, 0x7E, 0x7F}, 100},
        {"header only", {0x81, kTester, kEcu}, 100},
        {"length byte 0", {0x80, kTester, kEcu, 0x00, 0x92}, 155},
    };
    for (const auto& c : cases) {
        Open(false);
        line_.Queue(c.first);
        line_.Queue(good);
        EXPECT_EQ(Send({0x3E}), 1) << c.name;
        EXPECT_EQ(response_[0], 0x7E) << c.name;
        const auto writes = log_.Events(SerialEvent::Kind::Write);
        ASSERT_EQ(writes.size(), 2u) << c.name;
        EXPECT_EQ(device_.GetErrorCount(), 1) << c.name;
        EXPECT_EQ(device_.GetLastError(), CD5Device::kOk) << c.name;
        EXPECT_EQ(writes[1].tickMs - writes[0].tickMs, c.gap) << c.name;
    }
}

TEST_F(CT60Test, TwoFailedAttemptsGiveNothing) {
    Open(true);
    line_.Queue({0x81, kTester});  // a header that breaks off
    EXPECT_EQ(Send({0x3E}), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kNoAnswer);
    EXPECT_EQ(device_.GetErrorCount(), 2);
    EXPECT_EQ(Writes().size(), 2u);
}

TEST_F(CT60Test, WrongChecksumIsReportedAndNotRetried) {
    Open(false);
    Bytes bad = Response({0x7E});
    ++bad.back();
    line_.Queue(bad);
    line_.Queue(Response({0x7E}));
    EXPECT_EQ(Send({0x3E}), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kBadChecksum);
    EXPECT_EQ(Writes().size(), 1u);
}

TEST_F(CT60Test, ResponseLargerThanTheBufferIsNotStored) {
    Open(false);
    line_.Queue(Response(Filled(200, 0x11)));
    line_.Queue(Response(Filled(200, 0x11)));
    std::array<uint8_t, 64> small{};
    small.fill(0xEE);
    const uint8_t request = 0x21;
    EXPECT_EQ(device_.SendCommand(&request, 1, small.data(), 50), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kNoAnswer);
    for (size_t i = 0; i < small.size(); ++i) ASSERT_EQ(small[i], 0xEE) << i;
}

TEST_F(CT60Test, RequestsOutsideOneToTwoHundredFiftyFiveBytesAreNotSent) {
    Open(false);
    EXPECT_EQ(Send({}), 0);
    EXPECT_EQ(Send(Filled(256, 0x01)), 0);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(CT60Test, ClosedDeviceDoesNothing) {
    EXPECT_EQ(Send({0x3E}), 0);
    EXPECT_EQ(device_.WakeUp(), 0);
    EXPECT_EQ(device_.Connect(), 0);
    EXPECT_EQ(device_.ReceiveResponse(response_.data(), kCapacity), 0);
    device_.StopCommunication();
    EXPECT_TRUE(log_.Events().empty());
}

TEST_F(CT60Test, ReceiveResponseReadsWithoutSending) {
    Open(true);
    line_.Queue(Response({0x7F, 0x22, 0x78}));
    ASSERT_EQ(Send({0x22, 0xF1, 0x90}), 3);
    log_.Clear();
    line_.received.assign({0x83, kTester, kEcu, 0x7F, 0x22, 0x78, 0xAE});
    EXPECT_EQ(device_.ReceiveResponse(response_.data(), kCapacity), 3);
    EXPECT_EQ(Answer(3), (Bytes{0x7F, 0x22, 0x78}));
    EXPECT_TRUE(Writes().empty());
    line_.received.assign({0x83, kTester, kEcu, 0x7F, 0x22, 0x78, 0xAF});
    EXPECT_EQ(device_.ReceiveResponse(response_.data(), kCapacity), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kBadChecksum);
    EXPECT_EQ(device_.ReceiveResponse(response_.data(), kCapacity), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kNoAnswer);
}

TEST_F(CT60Test, TransferFrameReturnsTheWholeAnswerFrame) {
    Open(true);
    const Bytes answer = Response({0x7E});
    line_.Queue(answer);
    std::array<uint8_t, 16> frame{0x81, kEcu, kTester, 0x3E, 0xD1};
    ASSERT_EQ(device_.TransferFrame(frame.data(), 5, frame.size()), 5);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 5), answer);
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{0x81, kEcu, kTester, 0x3E, 0xD1}}));
}

TEST_F(CT60Test, WakeUpPatternIsTimedToTheMillisecond) {
    Open(true);
    line_.Queue(Response({0xC1, 0x6B, 0x8F}));
    const uint32_t start = clock_.TickMs();
    ASSERT_EQ(device_.WakeUp(), 1);
    std::vector<std::pair<SerialEvent::Kind, uint32_t>> pattern;
    for (const auto& event : log_.Events()) {
        if (event.kind == SerialEvent::Kind::BreakOn || event.kind == SerialEvent::Kind::BreakOff ||
            event.kind == SerialEvent::Kind::Write) {
            pattern.emplace_back(event.kind, event.tickMs - start);
        }
    }
    using K = SerialEvent::Kind;
    // Purge ends any break; then idle 100 ms, 25 ms low, 24 ms high, StartCommunication,
    // and the purge after the pulse releases the line once more.
    EXPECT_EQ(pattern, (std::vector<std::pair<K, uint32_t>>{{K::BreakOff, 0},
                                                            {K::BreakOff, 0},
                                                            {K::BreakOn, 100},
                                                            {K::BreakOff, 125},
                                                            {K::BreakOff, 149},
                                                            {K::Write, 149}}));
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{0x81, kEcu, kTester, 0x81, 0x14}}));
}

TEST_F(CT60Test, WakeUpJudgesTheKeyBytes) {
    const Bytes good = Response({0xC1, 0x6B, 0x8F});
    const struct {
        const char* name;
        Bytes leading;
        Bytes answer;
        int32_t expected;
    } cases[] = {
        {"positive", {}, good, 1},
        {"after a break byte", {0x00}, good, 1},
        {"other key bytes", {}, Response({0xC1, 0xEF, 0x8F}), 0},
        {"negative", {}, Response({0x7F, 0x81, 0x10}), 0},
        {"cut short", {}, Bytes(good.begin(), good.begin() + 5), 0},
        {"silence", {}, {}, 0},
    };
    for (const bool wired : {true, false}) {
        for (const auto& c : cases) {
            Open(wired);
            line_.leading = c.leading;
            line_.Queue(c.answer);
            EXPECT_EQ(device_.WakeUp(), c.expected) << c.name << " wired " << wired;
            EXPECT_TRUE(line_.received.empty() || c.expected == 0) << c.name;
        }
    }
}

TEST_F(CT60Test, SkyLinkWakeUpHasNoBreak) {
    Open(false);
    line_.Queue(Response({0xC1, 0x6B, 0x8F}));
    ASSERT_EQ(device_.WakeUp(), 1);
    EXPECT_TRUE(log_.Events(SerialEvent::Kind::BreakOn).empty());
    EXPECT_EQ(Writes().size(), 1u);
}

TEST_F(CT60Test, ConnectSetsTheKLineSpeedAndWakesTheEcu) {
    Open(true);
    line_.Queue(Response({0xC1, 0x6B, 0x8F}));
    ASSERT_EQ(device_.Connect(), 1);
    EXPECT_EQ(device_.IsConnected(), 1);
    EXPECT_EQ(log_.Events(SerialEvent::Kind::SetLine).at(0).baud, 10400u);
    EXPECT_EQ(device_.Connect(), 0);  // no answer this time
    EXPECT_EQ(device_.IsConnected(), 0);
}

TEST_F(CT60Test, OpenReportsThePortAndRestoresAddresses) {
    line_.failingOpens = 1;
    EXPECT_EQ(device_.Open(kPort, 0, 10400, 1000, 0), CD5Device::kPortNotOpened);
    EXPECT_FALSE(device_.IsPortOpen());
    EXPECT_EQ(line_.lastPath, "/dev/ttyS2");

    device_.SetAddresses(0x00, 0x10);
    EXPECT_EQ(device_.Open(kPort, 7, 10400, 1000, 1), CD5Device::kOk);
    EXPECT_TRUE(device_.IsPortOpen());
    EXPECT_EQ(device_.NoEcho(), 1);
    EXPECT_EQ(device_.EcuAddress(), 0x18);
    EXPECT_EQ(device_.TesterAddress(), 0xFA);

    device_.SetAddresses(0xF1, 0x10);
    EXPECT_EQ(device_.Open(kPort, 7, 10400, 1000, 0), CD5Device::kOk);
    EXPECT_EQ(device_.NoEcho(), 0);
    EXPECT_EQ(device_.EcuAddress(), 0x10);
    EXPECT_EQ(device_.TesterAddress(), 0xF1);

    line_.Queue({});
    Send({0x3E});
    EXPECT_EQ(device_.GetErrorCount(), 2);
    EXPECT_EQ(device_.Close(), 0);
    EXPECT_EQ(device_.GetErrorCount(), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kOk);
    EXPECT_FALSE(device_.IsPortOpen());
}

TEST_F(CT60Test, StopCommunicationSendsItsFrameWithoutWaitingForAnAnswer) {
    Open(true);
    device_.StopCommunication();
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{0x81, kEcu, kTester, 0x82, 0x15}}));
    EXPECT_TRUE(log_.Events(SerialEvent::Kind::Read).empty());
}

TEST_F(CT60Test, DescribePortNamesTheAdapter) {
    EXPECT_EQ(device_.DescribePort(4, 10400, 0), "RS232 at Port: 4");

    line_.Queue(Concat({23}, Filled(31, 0x20)));
    EXPECT_EQ(device_.DescribePort(4, 10400, 1), "SkyLinkV2.3 at Port: 4");
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{'#', 'S', 'K', 'Y', 'I', 'D', 'E', 'N', 'T', 0x0D}}));
    EXPECT_EQ(log_.Events().back().kind, SerialEvent::Kind::Close);

    line_.Queue(Filled(29, 23));
    EXPECT_EQ(device_.DescribePort(4, 10400, 1), "SkyLink not available");

    line_.failingOpens = 100;
    EXPECT_EQ(device_.DescribePort(4, 10400, 1), "SkyLink not available");
}

TEST_F(CT60Test, DescribePortKeepsTheDevicesOwnSkyLinkPortOpen) {
    Open(false);
    line_.Queue(Concat({40}, Filled(29, 0x20)));
    EXPECT_EQ(device_.DescribePort(kPort, 10400, 1), "SkyLinkV4.0 at Port: 3");
    EXPECT_TRUE(log_.Events(SerialEvent::Kind::Close).empty());
    EXPECT_TRUE(device_.IsPortOpen());
}

}  // namespace
}  // namespace diagbridge
