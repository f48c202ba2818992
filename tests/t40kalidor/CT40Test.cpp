// The T40 line protocol on the recording seam: exact wire bytes, wake-up timing on the
// manual clock, response faults and the boot-loader hand-shake.
#include <gtest/gtest.h>

#include "ScriptedLine.h"
#include "devices/CT40.h"

namespace diagbridge {
namespace {

using platform::SerialEvent;
using testfakes::Bytes;

class CT40Test : public ::testing::Test, protected testfakes::ScriptedLineFixture {
  protected:
    void Open(int32_t skyLink = 0) { ASSERT_EQ(device_.Open(3, 9600, 115000, 1000, skyLink), 0); }
    Bytes Payload() const {
        const uint8_t* frame = device_.ResponseFrame();
        return Bytes(frame + 1, frame + device_.ResponseLength());
    }
    CT40 device_{0, 0, 0};
};

TEST_F(CT40Test, RequestFramesCarryLengthCommandDataAndSum) {
    Open();
    line.Queue({0x02, 0x49, 0x4B});
    line.Queue({0x04, 0x59, 0x01, 0x02, 0x60});
    EXPECT_EQ(device_.Transact(0x09, 0, nullptr), 1);
    EXPECT_EQ(Payload(), (Bytes{0x49}));
    const uint8_t data[] = {0x04, 0x04, 0x2E, 0xE6};
    EXPECT_EQ(device_.Transact(0x19, 4, data), 1);
    EXPECT_EQ(Payload(), (Bytes{0x59, 0x01, 0x02}));
    EXPECT_EQ(Writes(),
              (std::vector<Bytes>{{0x02, 0x09, 0x0B}, {0x06, 0x19, 0x04, 0x04, 0x2E, 0xE6, 0x3B}}));
}

TEST_F(CT40Test, ResponseFaultsEndWithTheirStatusWithinThePortTimeOut) {
    struct Case {
        const char* name;
        Bytes reply;
        int32_t status;
        size_t reads;  // read calls made on the line
    };
    const Case cases[] = {
        {"length FF, nothing further read", {0xFF, 0x01, 0x02}, CD5Device::kBadFrame, 1},
        {"length 0", {0x00}, CD5Device::kBadFrame, 1},
        {"a byte missing", {0x03, 0x49, 0x00}, CD5Device::kBadFrame, 4},
        {"wrong checksum", {0x02, 0x49, 0x4C}, CD5Device::kBadChecksum, 3},
        {"silence", {}, CD5Device::kNoAnswer, 1},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        line.received.clear();
        line.Queue(c.reply);
        const uint32_t start = clock.TickMs();
        EXPECT_EQ(device_.Transact(0x09, 0, nullptr), 0);
        EXPECT_EQ(device_.GetLastError(), c.status);
        EXPECT_EQ(log.Events(SerialEvent::Kind::Read).size(), c.reads);
        EXPECT_LE(clock.TickMs() - start, 1000u);
    }
}

TEST_F(CT40Test, RequestTooLongIsNotSent) {
    Open();
    const Bytes data(CT40::kMaxDataCount + 1, 0x11);
    EXPECT_EQ(device_.Transact(0x5A, static_cast<uint32_t>(data.size()), data.data()), 0);
    EXPECT_EQ(device_.GetLastError(), CD5Device::kBadFrame);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(CT40Test, WakeUpSendsTheAddressAtFiveBaudThenAcknowledgesTheKeyBytes) {
    Open();
    log.Clear();
    line.Queue({0x55, 0x20, 0x80});  // sync and key bytes after the address
    line.Queue({});                  // nothing after 0x79
    line.Queue({0x02, 0x49, 0x4B});  // answer to 09
    const uint32_t start = clock.TickMs();
    ASSERT_EQ(device_.WakeUp(), 1);

    std::vector<SerialEvent> events;
    for (const SerialEvent& e : log.Events()) {
        // Reads and the break release of every purge are left out.
        if (e.kind != SerialEvent::Kind::Read && e.kind != SerialEvent::Kind::BreakOff) {
            events.push_back(e);
        }
    }
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[0].kind, SerialEvent::Kind::SetLine);
    EXPECT_EQ(events[0].baud, 5u);
    EXPECT_EQ(events[1].kind, SerialEvent::Kind::Discard);
    EXPECT_EQ(events[2].bytes, (Bytes{0x26}));
    EXPECT_EQ(events[2].tickMs, start);
    EXPECT_EQ(events[3].kind, SerialEvent::Kind::SetLine);
    EXPECT_EQ(events[3].baud, 9600u);
    EXPECT_EQ(events[3].tickMs, start + 2100);
    EXPECT_EQ(events[4].kind, SerialEvent::Kind::Discard);
    EXPECT_EQ(events[5].bytes, (Bytes{0x79}));
    EXPECT_EQ(events[5].tickMs, start + 2120);
    EXPECT_EQ(events[6].bytes, (Bytes{0x02, 0x09, 0x0B}));
    EXPECT_EQ(events[6].tickMs, start + 2140);
}

TEST_F(CT40Test, WakeUpReadsAThirdKeyByteOnlyAfter0x20) {
    Open();
    line.Queue({0x55, 0x08, 0x02, 0x49, 0x4B});  // 0x08: no third byte; 02 49 4B is the answer
    line.Queue({});
    line.Queue({});
    EXPECT_EQ(device_.WakeUp(), 1);
}

TEST_F(CT40Test, WakeUpFailsWithoutSyncByteAndWithoutOpenPort) {
    EXPECT_EQ(device_.WakeUp(), 0);
    EXPECT_TRUE(log.Events().empty());
    Open();
    line.Queue({});
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(device_.WakeUp(), 0);
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{0x26}}));
    EXPECT_LE(clock.TickMs() - start, 2100u + 1000u);
}

TEST_F(CT40Test, FlashModeOnRs232WritesTheCodeEveryPollUntilTheBootLoaderAnswers) {
    Open();
    const std::string code = "KQZB&RUA";
    const Bytes codeBytes(code.begin(), code.end());
    line.Queue({});
    line.Queue({'x'});  // noise is read and passed over
    const std::string ready = "H5 READY";
    line.Queue(Bytes(ready.begin(), ready.end()));
    EXPECT_EQ(device_.EnterFlashMode("T40H5"), 0);
    EXPECT_EQ(device_.FlashIdent(), "H5");
    EXPECT_EQ(device_.IsH4(), 0);
    EXPECT_EQ(Writes(), (std::vector<Bytes>{codeBytes, codeBytes, codeBytes}));
    const auto writes = log.Events(SerialEvent::Kind::Write);
    EXPECT_EQ(writes[1].tickMs - writes[0].tickMs, 22u);  // the H5 poll interval
}

TEST_F(CT40Test, FlashModeOnSkyLinkWritesTheCodeOnce) {
    Open(1);
    const std::string ready = "IAMREADY";
    line.Queue(Bytes(ready.begin(), ready.end()));
    EXPECT_EQ(device_.EnterFlashMode("T40H4"), 0);
    EXPECT_EQ(device_.FlashIdent(), "H4");
    EXPECT_EQ(Writes().size(), 1u);
}

TEST_F(CT40Test, FlashModeGivesUpAfterThirtySecondsOnTheClock) {
    Open();
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(device_.EnterFlashMode("T40H4"), CD5Device::kBadFrame);
    const uint32_t spent = clock.TickMs() - start;
    EXPECT_GE(spent, 30000u);
    EXPECT_LE(spent, 30000u + 100u + 2 * CT40::kH4PollMs);
    EXPECT_EQ(device_.FlashIdent(), "XXXX");
}

TEST_F(CT40Test, FlashModeAnswerOfAnotherTextLeavesTheIdentButSucceeds) {
    Open();
    const std::string other = "HELLO123";
    line.Queue(Bytes(other.begin(), other.end()));
    EXPECT_EQ(device_.EnterFlashMode("T40H4"), 0);
    EXPECT_EQ(device_.FlashIdent(), "XXXX");
}

TEST_F(CT40Test, CloseForgetsThePortAndItsStatus) {
    Open();
    line.Queue({});
    device_.Transact(0x09, 0, nullptr);
    EXPECT_EQ(device_.Close(), 0);
    EXPECT_EQ(device_.GetLastError(), 0);
    EXPECT_FALSE(device_.IsPortOpen());
    EXPECT_EQ(device_.Transact(0x09, 0, nullptr), 0);
}

}  // namespace
}  // namespace diagbridge
