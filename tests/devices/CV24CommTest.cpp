#include "devices/CV24Comm.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "FakeSerialPort.h"
#include "ScopedComPort.h"
#include "platform/Clock.h"
#include "platform/SerialRecorder.h"
#include "sim/kline/PseudoTerminal.h"

namespace diagbridge {
namespace {

using platform::SerialEvent;
using testfakes::FakeLine;
using testfakes::FakePortFactory;
using testfakes::ScopedComPort;

TEST(ComPortPathTest, PosixPathComesFromTheEnvironmentElseTtyS) {
    EXPECT_EQ(platform::PosixComPortPath(1), "/dev/ttyS0");
    EXPECT_EQ(platform::PosixComPortPath(12), "/dev/ttyS11");
    EXPECT_EQ(platform::PosixComPortPath(0), "");
    ScopedComPort redirected(3, "/dev/pts/77");
    EXPECT_EQ(platform::PosixComPortPath(3), "/dev/pts/77");
}

TEST(ComPortPathTest, Win32NamesUseTheDeviceNamespaceFromPortNine) {
    const struct {
        uint8_t port;
        const char* name;
    } cases[] = {{1, "COM1"}, {8, "COM8"}, {9, "\\\\.\\COM9"}, {255, "\\\\.\\COM255"}};
    for (const auto& c : cases) EXPECT_EQ(platform::Win32ComPortName(c.port), c.name);
}

// Ports on a scripted line, on the manual clock.
class CV24CommFakeTest : public ::testing::Test {
  protected:
    platform::ManualClock clock_{1000};
    platform::ScopedClock scopedClock_{clock_};
    FakeLine line_;
    platform::SerialLog log_;
    platform::ScopedSerialPortFactory factory_{FakePortFactory(line_, log_)};
};

TEST_F(CV24CommFakeTest, MissingWiredPortFailsAtOnce) {
    line_.failingOpens = 100;
    CV24Comm port(4, 10400, 0);
    EXPECT_EQ(port.Open(1000), 0);
    EXPECT_EQ(line_.opens, 1u);
    EXPECT_EQ(port.LastError(), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(clock_.TickMs(), 1000u);
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(CV24CommFakeTest, MissingSkyLinkPortIsRetriedEveryTwoSecondsForTenSeconds) {
    line_.failingOpens = 100;
    CV24Comm port(4, 10400, 1);
    EXPECT_EQ(port.Open(1000), 0);
    std::vector<uint32_t> attempts;
    for (const auto& event : log_.Events(SerialEvent::Kind::Open)) attempts.push_back(event.tickMs);
    EXPECT_EQ(attempts, (std::vector<uint32_t>{1000, 3000, 5000, 7000, 9000, 11000}));
    EXPECT_EQ(clock_.TickMs(), 11000u);
}

TEST_F(CV24CommFakeTest, SkyLinkPortThatAppearsLateIsOpened) {
    line_.failingOpens = 2;
    CV24Comm port(4, 10400, 1);
    EXPECT_EQ(port.Open(1000), 1);
    EXPECT_EQ(line_.opens, 3u);
    EXPECT_EQ(port.LastError(), 0u);
    EXPECT_EQ(clock_.TickMs(), 5000u);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(CV24CommFakeTest, SkyLinkDoublesTheTimeOut) {
    CV24Comm skyLink(4, 10400, 1);
    ASSERT_EQ(skyLink.Open(1000), 1);
    EXPECT_EQ(skyLink.TimeoutMs(), 2000);
    CV24Comm wired(5, 10400, 0);
    ASSERT_EQ(wired.Open(1000), 1);
    EXPECT_EQ(wired.TimeoutMs(), 1000);
}

TEST_F(CV24CommFakeTest, SkyLinkKeepsItsSpeedAndHasNoBreak) {
    CV24Comm port(4, 19200, 1);
    ASSERT_EQ(port.Open(1000), 1);
    EXPECT_EQ(port.SetLine(10400, 8, 0, 0, 0), 1);
    port.SetBreak(1);
    port.SetBreak(0);
    port.Purge(CV24Comm::kPurgeRxClear);
    const auto lines = log_.Events(SerialEvent::Kind::SetLine);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].baud, 19200u);
    EXPECT_TRUE(log_.Events(SerialEvent::Kind::BreakOn).empty());
    EXPECT_TRUE(log_.Events(SerialEvent::Kind::BreakOff).empty());
}

TEST_F(CV24CommFakeTest, WiredPortTakesTheSpeedAskedAndPurgeEndsTheBreak) {
    CV24Comm port(4, 19200, 0);
    ASSERT_EQ(port.Open(1000), 1);
    EXPECT_EQ(port.SetLine(10400, 8, 0, 0, 0), 1);
    port.SetBreak(1);
    port.Purge(CV24Comm::kPurgeTxClear | CV24Comm::kPurgeRxClear);
    const auto events = log_.Events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(log_.Events(SerialEvent::Kind::SetLine).at(0).baud, 10400u);
    const auto& discard = events[events.size() - 2];
    EXPECT_EQ(discard.kind, SerialEvent::Kind::Discard);
    EXPECT_TRUE(discard.receive && discard.transmit);
    EXPECT_EQ(events.back().kind, SerialEvent::Kind::BreakOff);
}

TEST_F(CV24CommFakeTest, BadLineFormatIsRefused) {
    CV24Comm port(4, 10400, 0);
    ASSERT_EQ(port.Open(1000), 1);
    const struct {
        int32_t baud;
        uint8_t dataBits, stopBits, parity;
    } cases[] = {{0, 8, 0, 0},     {-5, 8, 0, 0},    {10400, 4, 0, 0},
                 {10400, 9, 0, 0}, {10400, 8, 3, 0}, {10400, 8, 0, 5}};
    for (const auto& c : cases) {
        EXPECT_EQ(port.SetLine(c.baud, c.dataBits, c.stopBits, c.parity, 0), 0) << c.baud;
    }
    EXPECT_TRUE(log_.Events(SerialEvent::Kind::SetLine).empty());
}

TEST_F(CV24CommFakeTest, ClosedPortDoesNothing) {
    CV24Comm port(4, 10400, 0);
    std::array<uint8_t, 4> bytes{1, 2, 3, 4};
    EXPECT_FALSE(port.Write(bytes.data(), 4));
    EXPECT_EQ(port.WriteByte(1), 0);
    EXPECT_EQ(port.Read(bytes.data(), 4), 0u);
    EXPECT_FALSE(port.ReadByte(bytes.data()));
    EXPECT_EQ(port.GetQueueCount(1), 0u);
    EXPECT_EQ(port.SetLine(10400, 8, 0, 0, 0), 0);
    port.SetBreak(1);
    port.Purge(CV24Comm::kPurgeRxClear);
    port.Close();
    EXPECT_TRUE(log_.Events().empty());
    EXPECT_EQ(port.TimeoutMs(), CV24Comm::kDefaultTimeoutMs);
}

// The real serial layer on a pseudo-terminal; the test plays the other end.
class CV24CommPtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(terminal_.Open());
        redirect_.emplace(kPort, terminal_.SlavePath());
    }
    void FromLine(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(terminal_.MasterFd(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    static constexpr uint8_t kPort = 42;
    sim::PseudoTerminal terminal_;
    std::optional<testfakes::ScopedComPort> redirect_;
};

TEST_F(CV24CommPtyTest, TakesTheKLineSpeedsAndCarriesBytesBothWays) {
    CV24Comm port(kPort, 10400, 0);
    ASSERT_EQ(port.Open(1000), 1);
    EXPECT_EQ(port.SetLine(10400, 8, 0, 0, 0), 1);
    EXPECT_EQ(port.SetLine(5, 8, 0, 0, 0), 1);
    EXPECT_EQ(port.SetLine(10400, 8, 0, 0, 0), 1);

    const std::array<uint8_t, 3> request{0x81, 0x0D, 0x0A};
    ASSERT_TRUE(port.Write(request.data(), request.size()));
    std::array<uint8_t, 8> seen{};
    pollfd wait{terminal_.MasterFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&wait, 1, 5000), 1);
    ASSERT_EQ(::read(terminal_.MasterFd(), seen.data(), seen.size()), 3);
    EXPECT_EQ(seen[0], 0x81);
    EXPECT_EQ(seen[1], 0x0D);  // raw: no carriage-return translation
    EXPECT_EQ(seen[2], 0x0A);

    FromLine({0x00, 0x11, 0x0D});
    std::array<uint8_t, 3> answer{};
    ASSERT_EQ(port.Read(answer.data(), 3), 3u);
    EXPECT_EQ(answer, (std::array<uint8_t, 3>{0x00, 0x11, 0x0D}));
}

TEST_F(CV24CommPtyTest, QueueCountAndPurgeSeeTheReceiveQueue) {
    CV24Comm port(kPort, 10400, 0);
    ASSERT_EQ(port.Open(1000), 1);
    FromLine({1, 2, 3, 4, 5});
    uint8_t first = 0;
    ASSERT_TRUE(port.ReadByte(&first));  // waits until the bytes are there
    EXPECT_EQ(port.GetQueueCount(1), 4u);
    port.Purge(CV24Comm::kPurgeRxClear);
    EXPECT_EQ(port.GetQueueCount(1), 0u);
}

TEST_F(CV24CommPtyTest, ShortReadGivesWhatCameOnWiredAndNothingOnSkyLink) {
    const struct {
        int32_t skyLink;
        uint32_t expected;
    } cases[] = {{0, 2}, {1, 0}};
    for (const auto& c : cases) {
        CV24Comm port(kPort, 10400, c.skyLink);
        ASSERT_EQ(port.Open(50), 1);
        FromLine({7, 8});
        std::array<uint8_t, 5> buffer{};
        EXPECT_EQ(port.Read(buffer.data(), 5), c.expected) << "SkyLink " << c.skyLink;
        port.Close();
    }
}

}  // namespace
}  // namespace diagbridge
