#include "drivers/xl/VirtualCanBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "drivers/xl/CanFrame.h"

namespace diagbridge::xl {
namespace {

CanFrame MakeFrame(uint32_t id, std::initializer_list<uint8_t> bytes) {
    CanFrame frame;
    frame.id = id;
    frame.dlc = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), frame.data);
    return frame;
}

XLevent TransmitEvent(const CanFrame& frame) {
    XLevent event{};
    event.tag = kTagTransmitMsg;
    event.tagData.msg.id = frame.id;
    event.tagData.msg.dlc = frame.dlc;
    std::memcpy(event.tagData.msg.data, frame.data, 8);
    return event;
}

std::shared_ptr<VirtualCanBus> FreshBus() {
    static int serial = 0;
    return VirtualCanBus::Named("VirtualCanBusTest#" + std::to_string(++serial));
}

// A port on bus at bitRate, on the bus (active).
std::shared_ptr<VirtualXlPort> PortAt(const std::shared_ptr<VirtualCanBus>& bus, uint32_t bitRate) {
    auto port = std::make_shared<VirtualXlPort>(bus);
    XLchipParams params{bitRate, 1, 13, 2, 1};
    EXPECT_EQ(port->SetParams(params), kSuccess);
    EXPECT_EQ(port->Activate(), kSuccess);
    return port;
}

size_t Drain(XlPort& port) {
    size_t count = 0;
    XLevent event{};
    while (port.Receive(event) == kSuccess) ++count;
    return count;
}

// Counted bit by bit: SOF to CRC stuffed, then the 13 fixed bits. Runs of equal bits across
// byte boundaries and inside the CRC are what a byte-wise count gets wrong first.
TEST(VirtualCanBusTest, FrameBitsOfKnownFrames) {
    struct Case {
        CanFrame frame;
        uint32_t bits;
    };
    const Case cases[] = {
        {MakeFrame(0x7FF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 126},
        {MakeFrame(0x000, {0, 0, 0, 0, 0, 0, 0, 0}), 127},
        {MakeFrame(0x7E8, {0x02, 0x50, 0x03}), 76},
        {MakeFrame(0x123, {0x0F}), 57},
        {MakeFrame(0x18DA33F1u | kExtendedId, {1, 2, 3, 4, 5, 6, 7, 8}), 141},
        {MakeFrame(0x18DAF103u | kExtendedId, {0x21, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}),
         136},
        {MakeFrame(0x18DBFFF1u | kExtendedId, {0x02, 0x3E, 0x80, 0, 0, 0, 0, 0}), 146},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VirtualCanBus::FrameBits(c.frame), c.bits) << std::hex << c.frame.id;
    }
}

TEST(VirtualCanBusTest, FrameBitsCountStuffBits) {
    // 34 dominant bits from SOF to CRC: a stuff bit after every 5, then the 13 fixed bits.
    EXPECT_EQ(VirtualCanBus::FrameBits(MakeFrame(0x000, {})), 34u + 6u + 13u);
    // Unstuffed lengths plus at most one stuff bit per four bits after the first.
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        CanFrame frame;
        const bool extended = (i % 2) == 0;
        frame.id = extended ? ((random() & kSocketCanExtendedMask) | kExtendedId)
                            : (random() & kSocketCanStandardMask);
        frame.dlc = 8;
        for (uint8_t& byte : frame.data) byte = static_cast<uint8_t>(random());
        const uint32_t stuffed = extended ? 118 : 98;
        const uint32_t bits = VirtualCanBus::FrameBits(frame);
        EXPECT_GE(bits, stuffed + 13);
        EXPECT_LE(bits, stuffed + (stuffed - 1) / 4 + 13);
    }
}

TEST(VirtualCanBusTest, WireTimeModelPacesTheSenderByItsTransmitQueue) {
    auto bus = FreshBus();
    auto sender = PortAt(bus, 125000);
    auto receiver = PortAt(bus, 125000);
    bus->SetWireTimeModel(true);
    const CanFrame frame = MakeFrame(0x18DA33F1u | kExtendedId, {1, 2, 3, 4, 5, 6, 7, 8});
    constexpr uint32_t kFrames = 2 * VirtualCanBus::kTransmitQueueFrames;
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(sender->Transmit(TransmitEvent(frame)), kSuccess);
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Never further ahead of the wire than a full transmit queue; a slow machine only makes
    // it longer.
    const auto wire =
        std::chrono::microseconds(uint64_t{kFrames - VirtualCanBus::kTransmitQueueFrames} *
                                  VirtualCanBus::FrameBits(frame) * 1000000 / 125000);
    EXPECT_GE(elapsed, wire);
    size_t received = 0;
    while (received < kFrames && receiver->WaitForEvent(60000)) received += Drain(*receiver);
    EXPECT_EQ(received, static_cast<size_t>(kFrames));
}

// Each frame reaches the channels when its last bit is on the wire: never earlier, in order,
// stamped with that time, and frames still on the wire survive a flush.
TEST(VirtualCanBusTest, WireTimeModelDeliversEachFrameAtItsEnd) {
    using namespace std::chrono;
    auto bus = FreshBus();
    constexpr uint32_t kBitRate = 125000;
    auto sender = PortAt(bus, kBitRate);
    auto receiver = PortAt(bus, kBitRate);
    bus->SetWireTimeModel(true);
    constexpr int kFrames = 20;
    std::vector<CanFrame> frames;
    std::vector<nanoseconds> ends;  // after the first frame's start
    nanoseconds wire{0};
    for (int i = 0; i < kFrames; ++i) {
        const uint8_t marker = static_cast<uint8_t>(i);
        frames.push_back(MakeFrame(0x18DA33F1u | kExtendedId, {marker, 2, 3, 4, 5, 6, 7, 8}));
        wire +=
            nanoseconds(uint64_t{VirtualCanBus::FrameBits(frames.back())} * 1000000000u / kBitRate);
        ends.push_back(wire);
    }
    const auto start = steady_clock::now();
    for (const CanFrame& frame : frames) {
        ASSERT_EQ(sender->Transmit(TransmitEvent(frame)), kSuccess);
    }
    const auto startNs = uint64_t(duration_cast<nanoseconds>(start.time_since_epoch()).count());
    for (int i = 0; i < kFrames; ++i) {
        XLevent event{};
        while (receiver->Receive(event) != kSuccess) ASSERT_TRUE(receiver->WaitForEvent(60000));
        const auto taken = steady_clock::now();
        EXPECT_EQ(event.tagData.msg.data[0], i);
        EXPECT_GE(taken - start, ends[size_t(i)]) << "frame " << i;
        EXPECT_GE(event.timeStamp, startNs + uint64_t(ends[size_t(i)].count())) << "frame " << i;
    }
}

TEST(VirtualCanBusTest, FlushKeepsFramesStillOnTheWire) {
    auto bus = FreshBus();
    // About 60 ms per frame: the last one is on the wire long after the flush.
    constexpr uint32_t kSlowBitRate = 1000;
    auto sender = PortAt(bus, kSlowBitRate);
    auto receiver = PortAt(bus, kSlowBitRate);
    bus->SetWireTimeModel(true);
    constexpr int kFrames = 5;
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(sender->Transmit(TransmitEvent(MakeFrame(0x100, {uint8_t(i)}))), kSuccess);
    }
    ASSERT_EQ(receiver->Flush(), kSuccess);
    std::vector<uint8_t> markers;
    XLevent event{};
    while (markers.empty() || markers.back() != kFrames - 1) {
        while (receiver->Receive(event) != kSuccess) ASSERT_TRUE(receiver->WaitForEvent(60000));
        markers.push_back(event.tagData.msg.data[0]);
    }
    // The frames after the flush are the last ones sent, in order.
    for (size_t i = 1; i < markers.size(); ++i) EXPECT_EQ(markers[i], markers[i - 1] + 1);
}

TEST(VirtualCanBusTest, OnlyChannelsAtTheSendersRateOnTheSameBusReceive) {
    auto bus = FreshBus();
    auto other = FreshBus();
    auto sender = PortAt(bus, 500000);
    auto same = PortAt(bus, 500000);
    auto slower = PortAt(bus, 250000);
    auto elsewhere = PortAt(other, 500000);
    auto inactive = PortAt(bus, 500000);
    inactive->Deactivate();
    ASSERT_EQ(sender->Transmit(TransmitEvent(MakeFrame(0x123, {0xAA}))), kSuccess);
    EXPECT_EQ(Drain(*same), 1u);
    EXPECT_EQ(Drain(*slower), 0u);
    EXPECT_EQ(Drain(*elsewhere), 0u);
    EXPECT_EQ(Drain(*inactive), 0u);
    EXPECT_EQ(Drain(*sender), 0u);  // no echo of its own frames
}

TEST(VirtualCanBusTest, TransmitNeedsAnActiveChannelInNormalOutput) {
    auto bus = FreshBus();
    auto port = PortAt(bus, 500000);
    const XLevent event = TransmitEvent(MakeFrame(0x123, {1}));
    ASSERT_EQ(port->SetOutput(kOutputSilent), kSuccess);
    EXPECT_EQ(port->Transmit(event), XlPort::kErrTxNotPossible);
    ASSERT_EQ(port->SetOutput(kOutputNormal), kSuccess);
    EXPECT_EQ(port->Transmit(event), kSuccess);
    port->Deactivate();
    EXPECT_EQ(port->Transmit(event), kErrNotActive);
    XLevent wrongTag = event;
    wrongTag.tag = kTagReceiveMsg;
    EXPECT_EQ(port->Transmit(wrongTag), kErrWrongParameter);
}

TEST(VirtualCanBusTest, AcceptanceFilterPerIdentifierRange) {
    auto bus = FreshBus();
    auto sender = PortAt(bus, 500000);
    auto receiver = PortAt(bus, 500000);
    receiver->SetAcceptance(0x18DA0000, 0x1FFF0000, kAcceptanceExtended);
    receiver->SetAcceptance(0xFFF, 0xFFF, kAcceptanceStandard);
    struct Case {
        uint32_t id;
        bool passes;
    };
    const Case cases[] = {{0x18DAF133u | kExtendedId, true},
                          {0x18DA0000u | kExtendedId, true},
                          {0x18DBFFF1u | kExtendedId, false},
                          {0x0CDA0000u | kExtendedId, false},
                          {0x7E8, false},
                          {0x7FF, false}};
    for (const Case& c : cases) {
        ASSERT_EQ(sender->Transmit(TransmitEvent(MakeFrame(c.id, {1}))), kSuccess);
        EXPECT_EQ(Drain(*receiver), c.passes ? 1u : 0u) << std::hex << c.id;
    }
}

TEST(VirtualCanBusTest, FullQueueMarksTheNextFrameAsOverrun) {
    auto bus = FreshBus();
    auto sender = PortAt(bus, 500000);
    auto receiver = PortAt(bus, 500000);
    for (size_t i = 0; i < XlPort::kQueueCapacity + 3; ++i) {
        ASSERT_EQ(sender->Transmit(TransmitEvent(MakeFrame(0x100, {static_cast<uint8_t>(i)}))),
                  kSuccess);
    }
    XLevent event{};
    ASSERT_EQ(receiver->Receive(event), kSuccess);
    EXPECT_EQ(event.tagData.msg.data[0], 0);
    EXPECT_EQ(event.tagData.msg.flags, 0);
    EXPECT_EQ(Drain(*receiver), XlPort::kQueueCapacity - 1);
    ASSERT_EQ(sender->Transmit(TransmitEvent(MakeFrame(0x100, {0x55}))), kSuccess);
    ASSERT_EQ(receiver->Receive(event), kSuccess);
    EXPECT_EQ(event.tagData.msg.flags, kMsgFlagOverrun);
    ASSERT_EQ(receiver->Flush(), kSuccess);
    EXPECT_EQ(receiver->Receive(event), kErrQueueIsEmpty);
}

TEST(VirtualCanBusTest, WaitForEventWakesOnAFrame) {
    auto bus = FreshBus();
    auto sender = PortAt(bus, 500000);
    auto receiver = PortAt(bus, 500000);
    EXPECT_FALSE(receiver->WaitForEvent(1));
    ASSERT_EQ(sender->Transmit(TransmitEvent(MakeFrame(0x100, {1}))), kSuccess);
    EXPECT_TRUE(receiver->WaitForEvent(60000));
}

TEST(VirtualCanBusTest, SocketCanRecordLayout) {
    uint8_t record[kSocketCanFrameSize];
    const CanFrame extended = MakeFrame(0x18DAF133u | kExtendedId, {0xDE, 0xAD});
    EncodeSocketCan(extended, IdByteOrder::kBigEndian, record);
    const uint8_t expected[kSocketCanFrameSize] = {0x98, 0xDA, 0xF1, 0x33, 2, 0, 0, 0,
                                                   0xDE, 0xAD, 0,    0,    0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(record, expected, sizeof(record)));

    EncodeSocketCan(MakeFrame(0x7E8, {1, 2, 3}), IdByteOrder::kHost, record);
    CanFrame decoded;
    ASSERT_TRUE(DecodeSocketCan(record, sizeof(record), decoded));
    EXPECT_EQ(decoded.id, 0x7E8u);
    EXPECT_EQ(decoded.dlc, 3);
    EncodeSocketCan(extended, IdByteOrder::kHost, record);
    ASSERT_TRUE(DecodeSocketCan(record, sizeof(record), decoded));
    EXPECT_EQ(decoded.id, 0x18DAF133u | kExtendedId);

    uint8_t bad[kSocketCanFrameSize] = {};
    EXPECT_FALSE(DecodeSocketCan(bad, sizeof(bad) - 1, decoded));
    bad[4] = 9;
    EXPECT_FALSE(DecodeSocketCan(bad, sizeof(bad), decoded));
    bad[4] = 0;
    const uint32_t remote = kSocketCanRtrFlag | 0x123;
    std::memcpy(bad, &remote, 4);
    EXPECT_FALSE(DecodeSocketCan(bad, sizeof(bad), decoded));
    const uint32_t error = kSocketCanErrFlag | 0x4;
    std::memcpy(bad, &error, 4);
    EXPECT_FALSE(DecodeSocketCan(bad, sizeof(bad), decoded));
}

}  // namespace
}  // namespace diagbridge::xl
