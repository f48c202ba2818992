// The channel half of CIsoTp: open, bit timing, bit-rate detection, frames, bus-off,
// keep-alive and close, on the virtual bus (through a recording table where the calls count).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "CanTestSupport.h"
#include "platform/Notifier.h"

namespace diagbridge::cantest {
namespace {

using Calls = std::vector<std::string>;

const char* const kOpenPort = "openPort xlCANcontrol mask=1 permission=1 queue=256 version=3 bus=1";
const char* const kAcceptExtended = "acceptance code=18DA0000 mask=1FFF0000 range=2";
const char* const kAcceptStandard = "acceptance code=FFF mask=FFF range=1";
const char* const kActivate = "activate bus=1 flags=8";

TEST(CIsoTpChannelTest, IdentifiersUseNormalFixedAddressing) {
    VirtualChannel v;
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    EXPECT_EQ(v.channel.TransmitId(), kRequestId);
    EXPECT_EQ(v.channel.ReceiveId(), kResponseId);
    EXPECT_EQ(v.channel.FunctionalId(), kFunctionalId);
}

TEST(CIsoTpChannelTest, BitTimingTable) {
    struct Case {
        uint16_t kbit;
        uint32_t bitRate;
        uint8_t sjw, tseg1, tseg2;
    };
    const Case cases[] = {
        {0, 125000, 1, 13, 2},   {125, 125000, 1, 13, 2},  {333, 125000, 1, 13, 2},
        {250, 250000, 1, 11, 4}, {400, 400000, 2, 7, 2},   {500, 500000, 2, 11, 4},
        {667, 666666, 2, 8, 3},  {1000, 1000000, 3, 5, 2},
    };
    for (const Case& c : cases) {
        const xl::XLchipParams params = CIsoTp::ChipParamsFor(c.kbit);
        EXPECT_EQ(params.bitRate, c.bitRate) << c.kbit;
        EXPECT_EQ(params.sjw, c.sjw) << c.kbit;
        EXPECT_EQ(params.tseg1, c.tseg1) << c.kbit;
        EXPECT_EQ(params.tseg2, c.tseg2) << c.kbit;
        EXPECT_EQ(params.sam, 1) << c.kbit;
    }
}

TEST(CIsoTpChannelTest, OpenAndCloseMakeTheseCallsInThisOrder) {
    VirtualChannel v;
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    CIsoTp channel(recording.Source());
    ASSERT_EQ(channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    EXPECT_EQ(recording.Calls(), (Calls{"openDriver", kOpenPort, "mode tx=0 txrq=0",
                                        "params 500000 sjw=2 tseg1=11 tseg2=4 sam=1",
                                        kAcceptExtended, kAcceptStandard, kActivate}));
    recording.ClearCalls();
    channel.Close();
    EXPECT_EQ(recording.Calls(), (Calls{"deactivate", "closePort", "closeDriver"}));
    recording.ClearCalls();
    channel.Close();
    EXPECT_TRUE(recording.Calls().empty());
}

TEST(CIsoTpChannelTest, CloseOfANeverOpenedChannelCallsNothing) {
    VirtualChannel v;
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    {
        CIsoTp channel(recording.Source());
        channel.Close();
        CCanObj frame;
        EXPECT_EQ(channel.TransmitFrame(frame), 0);
        EXPECT_EQ(channel.ReceiveFrame(frame, CIsoTp::kAnyIdentifier, 0), 0);
    }
    EXPECT_TRUE(recording.Calls().empty());
    EXPECT_EQ(recording.ReceiveCalls(), 0u);
}

TEST(CIsoTpChannelTest, PortThatDoesNotOpenFailsAndReleasesTheDriver) {
    VirtualChannel v;
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    recording.FailOpenPort(true);
    CIsoTp channel(recording.Source());
    EXPECT_EQ(channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 0);
    EXPECT_FALSE(channel.IsOpen());
    EXPECT_EQ(recording.Calls(), (Calls{"openDriver", kOpenPort, "closeDriver"}));
}

TEST(CIsoTpChannelTest, SourceThatCannotBeLoadedIsReportedAndCannotOpen) {
    struct Case {
        const char* selector;
        const char* message;
    };
    const Case cases[] = {
        {"nonsense", "Load Error: nonsense"},
        {"hub:/nonexistent/hub.sock", "Load Error: hub:/nonexistent/hub.sock"},
        {"slcan:/nonexistent/ttyACM9", "Load Error: slcan:/nonexistent/ttyACM9"},
        {"socketcan:can0", "Load Error: socketcan:can0"},
        {"so:/nonexistent/libxl.so", "Load Error: /nonexistent/libxl.so"},
        {"so:libm.so.6", "Load Error: libm.so.6"},  // loads, but exports no entry points
    };
    for (const Case& c : cases) {
        std::vector<std::string> messages;
        platform::ScopedNotifier capture(
            [&](const std::string& text) { messages.push_back(text); });
        setenv(xl::kXlSourceVariable, c.selector, 1);
        CIsoTp channel;
        unsetenv(xl::kXlSourceVariable);
        EXPECT_FALSE(channel.IsLoaded()) << c.selector;
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
        EXPECT_EQ(channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 0);
    }
}

// Sends count frames at its bit rate whenever a channel goes on the bus at that rate, so that
// every probe at that rate sees exactly count frames.
class ProbeTraffic : public xl::VirtualBusObserver {
  public:
    ProbeTraffic(std::shared_ptr<xl::VirtualCanBus> bus, uint32_t bitRate, int count)
        : bus_(std::move(bus)), bitRate_(bitRate), count_(count) {
        bus_->AddObserver(this);
    }
    ~ProbeTraffic() override { bus_->RemoveObserver(this); }
    void OnChannelActivated(xl::VirtualCanBus& bus, uint32_t bitRate) override {
        if (bitRate != bitRate_) return;
        for (int i = 0; i < count_; ++i)
            bus.Send(ToCan({kResponseId, {0x01, 0x3E}}), bitRate, this);
    }

  private:
    std::shared_ptr<xl::VirtualCanBus> bus_;
    uint32_t bitRate_;
    int count_;
};

std::vector<std::string> ParamsCalls(const std::vector<std::string>& calls) {
    std::vector<std::string> out;
    for (const auto& call : calls) {
        if (call.rfind("params", 0) == 0) out.push_back(call.substr(7, call.find(' ', 7) - 7));
        if (call.rfind("output", 0) == 0) out.push_back(call);
    }
    return out;
}

TEST(CIsoTpChannelTest, DetectionProbesSilentThenNormalIn667_250_500Order) {
    struct Case {
        uint32_t trafficRate;  // 0: a silent bus
        int framesPerProbe;
        int32_t opened;
        std::vector<std::string> probes;  // output modes and bit rates set, in order
        uint32_t rateInForce;
    };
    const std::vector<std::string> bothPasses = {"output 0", "666666", "250000", "500000",
                                                 "output 1", "666666", "250000", "500000"};
    const Case cases[] = {
        {0, 0, 0, bothPasses, 0},
        {500000, 3, 0, bothPasses, 0},  // 3 frames in 150 ms are not a bus
        {500000, 4, 1, {"output 0", "666666", "250000", "500000", "output 1"}, 500000},
        {250000, 4, 1, {"output 0", "666666", "250000", "output 1"}, 250000},
        {666666, 50, 1, {"output 0", "666666", "output 1"}, 666666},
        {125000, 50, 0, bothPasses, 0},  // not a rate that detection tries
    };
    for (const Case& c : cases) {
        platform::ManualClock clock;
        platform::ScopedClock scoped(clock);
        VirtualChannel v;
        ProbeTraffic traffic(v.bus, c.trafficRate, c.framesPerProbe);
        RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
        CIsoTp channel(recording.Source());
        EXPECT_EQ(channel.Open(0, kEcu, kTester, CIsoTp::kKeepAliveNone), c.opened)
            << c.trafficRate << "/" << c.framesPerProbe;
        EXPECT_EQ(ParamsCalls(recording.Calls()), c.probes) << c.trafficRate;
        if (c.opened == 1) {
            EXPECT_EQ(channel.ChipParams().bitRate, c.rateInForce);
            EXPECT_EQ(recording.Calls().back(), kActivate);
        } else {
            const Calls calls = recording.Calls();
            ASSERT_GE(calls.size(), 3u);
            EXPECT_EQ(Calls(calls.end() - 3, calls.end()),
                      (Calls{"deactivate", "closePort", "closeDriver"}));
        }
    }
}

TEST(CIsoTpChannelTest, ProbeCountsFramesWithin150Ms) {
    platform::ManualClock clock;
    platform::ScopedClock scoped(clock);
    VirtualChannel v;
    ProbeTraffic traffic(v.bus, 250000, 7);
    ASSERT_EQ(v.channel.Open(250, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    const uint32_t start = clock.TickMs();
    EXPECT_EQ(v.channel.ProbeBitRate(250), 7);
    EXPECT_GE(clock.TickMs() - start, 150u);
    EXPECT_EQ(v.channel.ProbeBitRate(500), 0);
}

TEST(CIsoTpChannelTest, ProbeAtARateTheInterfaceRefusesCountsNothing) {
    platform::ManualClock clock;
    platform::ScopedClock scoped(clock);
    VirtualChannel v;
    ProbeTraffic traffic(v.bus, 500000, 10);
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    recording.RefuseBitRate(666666);
    CIsoTp channel(recording.Source());
    ASSERT_EQ(channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    EXPECT_EQ(channel.ProbeBitRate(667), 0);
    EXPECT_EQ(channel.ProbeBitRate(500), 10);
}

TEST(CIsoTpChannelTest, RefusedRateRunsDetection) {
    platform::ManualClock clock;
    platform::ScopedClock scoped(clock);
    VirtualChannel v;
    ProbeTraffic traffic(v.bus, 250000, 5);
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    recording.RefuseBitRate(400000);
    CIsoTp channel(recording.Source());
    ASSERT_EQ(channel.Open(400, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    EXPECT_EQ(channel.ChipParams().bitRate, 250000u);
}

TEST(CIsoTpChannelTest, ChannelAtAnotherRateHearsNothing) {
    VirtualChannel v(250000);
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    v.ecu.Send({kResponseId, {0x01, 0x7E}});
    CCanObj frame;
    EXPECT_EQ(v.channel.ReceiveFrame(frame, CIsoTp::kAnyIdentifier, 0), 0);
}

TEST(CIsoTpChannelTest, ReceiveFrameWithTimeoutZeroPollsOnce) {
    VirtualChannel v;
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    CIsoTp channel(recording.Source());
    ASSERT_EQ(channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    CCanObj frame;
    EXPECT_EQ(channel.ReceiveFrame(frame, CIsoTp::kAnyIdentifier, 0), 0);
    EXPECT_EQ(recording.ReceiveCalls(), 1u);
}

TEST(CIsoTpChannelTest, ReceiveFrameDropsErrorFramesOverrunsOtherIdsAndOtherTags) {
    VirtualChannel v;
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    CIsoTp channel(recording.Source());
    ASSERT_EQ(channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    auto message = [](uint32_t id, uint16_t flags, uint8_t first) {
        xl::XLevent event{};
        event.tag = xl::kTagReceiveMsg;
        event.tagData.msg.id = id;
        event.tagData.msg.flags = flags;
        event.tagData.msg.dlc = 8;
        event.tagData.msg.data[0] = first;
        return event;
    };
    recording.Inject(message(kResponseId, xl::kMsgFlagErrorFrame, 1));
    recording.Inject(message(kResponseId, xl::kMsgFlagOverrun, 2));
    recording.Inject(message(0x18DAF144u | kExt, 0, 3));
    xl::XLevent other{};
    other.tag = xl::kTagTransmitMsg;
    recording.Inject(other);
    recording.Inject(message(kResponseId, 0, 5));
    CCanObj frame;
    ASSERT_EQ(channel.ReceiveFrame(frame, kResponseId, 1000), 1);
    EXPECT_EQ(frame.data[0], 5);
    EXPECT_EQ(frame.identifier, kResponseId);
    EXPECT_EQ(frame.length, 8);
}

TEST(CIsoTpChannelTest, BusOffReactivatesTheChannel) {
    VirtualChannel v;
    RecordingXl recording(VirtualChannel::LoadVirtual(v.busName));
    CIsoTp channel(recording.Source());
    ASSERT_EQ(channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    recording.ClearCalls();
    v.bus->SendChipState(xl::kChipBusOff, 255, 255);
    CCanObj frame;
    EXPECT_EQ(channel.ReceiveFrame(frame, CIsoTp::kAnyIdentifier, 0), 0);
    EXPECT_EQ(recording.Calls(), (Calls{"deactivate", kActivate}));
    // Back on the bus: frames arrive again.
    v.ecu.Send({kResponseId, {0x02, 0x7E, 0x00}});
    EXPECT_EQ(channel.ReceiveFrame(frame, kResponseId, 1000), 1);

    // Error-passive is no bus-off; and a message is never read as a chip state.
    recording.ClearCalls();
    v.bus->SendChipState(xl::kChipBusOff, 255, 128);
    xl::XLevent lookalike{};
    lookalike.tag = xl::kTagReceiveMsg;
    lookalike.tagData.msg.id = 0x80FFFF01u;  // first three bytes 01 FF FF
    lookalike.tagData.msg.dlc = 1;
    recording.Inject(lookalike);
    EXPECT_EQ(channel.ReceiveFrame(frame, CIsoTp::kAnyIdentifier, 1000), 1);
    EXPECT_EQ(frame.identifier, 0x80FFFF01u);
    EXPECT_EQ(channel.ReceiveFrame(frame, CIsoTp::kAnyIdentifier, 0), 0);
    EXPECT_TRUE(recording.Calls().empty());
}

TEST(CIsoTpChannelTest, ReceiveFrameBlocksUntilAFrameComes) {
    VirtualChannel v;
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    std::thread ecu([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        v.ecu.Send({kResponseId, {0x02, 0x7E, 0x00}});
    });
    CCanObj frame;
    EXPECT_EQ(v.channel.ReceiveFrame(frame, kResponseId, 60000), 1);
    ecu.join();
}

TEST(CIsoTpChannelTest, CancelEndsAWaitAtOnce) {
    VirtualChannel v;
    platform::CancelFlag cancel;
    v.channel.SetCancelFlag(&cancel);
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAliveNone), 1);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        cancel.Set();
    });
    CCanObj frame;
    EXPECT_EQ(v.channel.ReceiveFrame(frame, kResponseId, 600000), 0);
    canceller.join();
}

bool IsTesterPresent(const Frame& frame) {
    return frame.bytes == std::vector<uint8_t>{0x02, 0x3E, 0x80, 0, 0, 0, 0, 0};
}

TEST(CIsoTpChannelTest, KeepAliveSendsTesterPresentEvery2000Ms) {
    struct Case {
        int32_t mode;
        uint32_t id;
    };
    for (const Case c : {Case{CIsoTp::kKeepAlivePhysical, kRequestId},
                         Case{CIsoTp::kKeepAliveFunctional, kFunctionalId}}) {
        platform::ManualClock clock;
        platform::ScopedClock scoped(clock);
        VirtualChannel v;
        ASSERT_EQ(v.channel.Open(500, kEcu, kTester, c.mode), 1);
        ASSERT_TRUE(v.ecu.WaitForFrames(3, IsTesterPresent));
        v.channel.Close();
        const auto log = v.ecu.Log();
        ASSERT_GE(log.size(), 3u);
        for (size_t i = 0; i < log.size(); ++i) {
            EXPECT_EQ(log[i].frame.id, c.id);
            EXPECT_TRUE(IsTesterPresent(log[i].frame)) << log[i].frame;
            if (i > 0) {
                EXPECT_EQ(log[i].tick - log[i - 1].tick, 2000u);
            }
        }
    }
}

TEST(CIsoTpChannelTest, KeepAliveStaysSilentDuringAnExchangeAndStopsAtClose) {
    VirtualChannel v;
    IsoTpOptions options;
    options.keepAlivePeriodMs = 10;
    v.channel.SetOptions(options);
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAlivePhysical), 1);
    ASSERT_TRUE(v.ecu.WaitForFrames(1, IsTesterPresent));

    // The ECU answers from its own thread after a while; the tester is busy meanwhile.
    const Frame request = {kRequestId, {0x03, 0x22, 0xF1, 0x90, 0, 0, 0, 0}};
    const Frame answer = {kResponseId, {0x04, 0x62, 0xF1, 0x90, 0x01}};
    std::thread ecu([&] {
        ASSERT_TRUE(v.ecu.WaitForFrames(1, [&](const Frame& f) { return f == request; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        v.ecu.Send(answer);
    });
    uint8_t response[16];
    int32_t length = 0;
    EXPECT_EQ(v.channel.Transfer(request.bytes.data() + 1, 3, response, sizeof(response), &length),
              4);
    ecu.join();
    EXPECT_FALSE(v.channel.IsBusy());

    const auto frames = v.ecu.Frames();
    const auto begin = std::find(frames.begin(), frames.end(), request);
    const auto end = std::find(frames.begin(), frames.end(), answer);
    ASSERT_TRUE(begin != frames.end() && end != frames.end());
    EXPECT_EQ(std::count_if(begin, end, IsTesterPresent), 0);

    const size_t before = std::count_if(frames.begin(), frames.end(), IsTesterPresent);
    ASSERT_TRUE(v.ecu.WaitForFrames(before + 1, IsTesterPresent));
    v.channel.Close();
    const auto closed = v.ecu.Frames();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(v.ecu.Frames().size(), closed.size());
}

TEST(CIsoTpChannelTest, ReopenRestartsTheKeepAlive) {
    platform::ManualClock clock;
    platform::ScopedClock scoped(clock);
    VirtualChannel v;
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAlivePhysical), 1);
    ASSERT_TRUE(v.ecu.WaitForFrames(1, IsTesterPresent));
    v.channel.Close();
    const size_t first = v.ecu.Frames().size();
    ASSERT_EQ(v.channel.Open(500, kEcu, kTester, CIsoTp::kKeepAlivePhysical), 1);
    EXPECT_TRUE(v.ecu.WaitForFrames(first + 1, IsTesterPresent));
}

}  // namespace
}  // namespace diagbridge::cantest
