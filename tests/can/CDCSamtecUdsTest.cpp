#include "can/CDCSamtecUds.h"

#include <gtest/gtest.h>

#include "platform/Notifier.h"
#include "support/FakeSamControl.h"
#include "uds/CHUdsIso14229.h"

namespace diagbridge {
namespace {

using test::FakeSamControl;

EcuParameterBlock T601Block(int32_t keepAliveMode = 0) {
    EcuParameterBlock block;
    block.uds.requestId = 0x18DA03F1;
    block.uds.responseId = 0x18DAF103;
    block.uds.functionalId = 0x18DBFFF1;
    block.uds.useFillByte = 1;
    block.uds.fillByte = 0x55;
    block.uds.keepAliveMode = keepAliveMode;
    return block;
}

// A container bound to a fake control.
struct Bench {
    explicit Bench(int32_t keepAliveMode = 0)
        : control(std::make_shared<FakeSamControl>()),
          maker([this] { return control; }),
          container(T601Block(keepAliveMode), UdsInterfaceSettings{}) {
        EXPECT_TRUE(container.Create());
        control->log.clear();
    }
    std::shared_ptr<FakeSamControl> control;
    samdiax::ScopedControlMaker maker;
    CDCSamtecUds container;
};

std::string Parameter(int32_t id, const std::string& value) {
    return "P.Item(" + std::to_string(id) + ").11=\"" + value + "\"";
}

TEST(CDCSamtecUdsTest, StartUpSettingsAndDescription) {
    auto control = std::make_shared<FakeSamControl>();
    samdiax::ScopedControlMaker maker([control] { return control; });
    CDCSamtecUds container(T601Block(), UdsInterfaceSettings{});
    ASSERT_TRUE(container.Create());
    EXPECT_EQ(container.description, "Samtec SamDiaX Version: FW 1.0");
    EXPECT_EQ(control->log,
              (std::vector<std::string>{"control.2=false", "P.13=false", "control.19=false",
                                        "control.43=true", "control.59=1", "control.26=false"}));
}

TEST(CDCSamtecUdsTest, ConfigureWritesTheAdapterParametersInOrder) {
    Bench bench(2);
    bench.container.SetBitRate(500000);
    EXPECT_EQ(bench.container.DevConfigure(""), 0);
    EXPECT_EQ(bench.control->Log("P.Item"),
              (std::vector<std::string>{
                  Parameter(1000, "2"), Parameter(1030, "44"), Parameter(10219, "1"),
                  Parameter(10000, "500000"), Parameter(10201, "2"), Parameter(60206, "1"),
                  Parameter(60236, "85"), Parameter(60205, "241"),
                  Parameter(10205, std::to_string(0x18DA03F1)),
                  Parameter(10207, std::to_string(0x18DAF103)),
                  Parameter(10505, std::to_string(0x18DBFFF1)), Parameter(10003, "1"),
                  Parameter(10206, "0"), Parameter(10004, "2"), Parameter(10006, "3E 80"),
                  Parameter(10506, "1")}));
}

TEST(CDCSamtecUdsTest, ChannelModesSetTheAdapterKeepAlive) {
    struct Case {
        int32_t mode;
        std::vector<std::string> written;
    } const cases[] = {
        {0, {Parameter(10004, "0")}},
        {1, {Parameter(10004, "1"), Parameter(10506, "0")}},
        {2, {Parameter(10004, "2"), Parameter(10006, "3E 80"), Parameter(10506, "1")}},
        {7, {}},
    };
    for (const Case& c : cases) {
        Bench bench;
        EXPECT_EQ(bench.container.DevSetChannelMode(c.mode), 0);
        EXPECT_EQ(bench.control->Log("P.Item"), c.written) << c.mode;
    }
}

TEST(CDCSamtecUdsTest, TransfersChooseTheAddressingAndReportTheAdaptersError) {
    struct Case {
        int32_t mode;
        std::vector<std::string> addressing;
    } const cases[] = {
        {0, {Parameter(10206, "0"), Parameter(10205, std::to_string(0x18DA03F1))}},
        {1, {Parameter(10206, "1"), Parameter(10205, std::to_string(0x18DBFFF1))}},
        {5, {}},
    };
    for (const Case& c : cases) {
        Bench bench;
        bench.control->response = "7E 00";
        bench.control->transferResult = 2;
        std::string response;
        EXPECT_EQ(bench.container.DevTransferDataEx(c.mode, "3E 00", response), 2);
        EXPECT_EQ(response, "7E 00");
        EXPECT_EQ(bench.control->Log("P.Item"), c.addressing) << c.mode;
        EXPECT_EQ(bench.control->requests, std::vector<std::string>{"3E 00"});
    }
    Bench failing;
    failing.control->transferResult = -4;
    std::string response = "old";
    EXPECT_EQ(failing.container.DevTransferDataEx(0, "22 F1 90", response), -1);
    EXPECT_EQ(response, "No response from the ECU");

    Bench empty;
    EXPECT_EQ(empty.container.DevTransferDataEx(0, "  ", response), 0);
    EXPECT_TRUE(empty.control->log.empty());
}

TEST(CDCSamtecUdsTest, ConnectStartsCommunicationThenSendsTesterPresent) {
    Bench bench;
    EXPECT_EQ(bench.container.DevConnect(), 0);
    EXPECT_EQ(bench.control->requests, std::vector<std::string>{"3E 00"});
    Bench refused;
    refused.control->startResult = 0;
    EXPECT_EQ(refused.container.DevConnect(), -1);
    EXPECT_TRUE(refused.control->requests.empty());
    Bench silent;
    silent.control->transferResult = -4;
    EXPECT_EQ(silent.container.DevConnect(), -1);
}

TEST(CDCSamtecUdsTest, ProbeShortensTheResponseTimeoutAndRestoresIt) {
    Bench bench;
    EXPECT_EQ(bench.container.DevEnterFlashMode(), 0);
    EXPECT_EQ(bench.control->requests, std::vector<std::string>{"3E 80"});
    EXPECT_EQ(bench.control->timeoutsAtTransfer, std::vector<int32_t>{1000});
    EXPECT_EQ(bench.control->responseTimeout, 2000);
    bench.control->transferResult = -3;
    EXPECT_EQ(bench.container.DevEnterFlashMode(), -1);
}

TEST(CDCSamtecUdsTest, OpenDetectsAndCloseStopsTheLink) {
    Bench bench;
    EXPECT_EQ(bench.container.DevOpen(), 0);
    EXPECT_EQ(bench.control->Log("A."),
              (std::vector<std::string>{"A.2=-1", "A.1=-1", "A.3.9()", "A.4()", "A.6()"}));
    EXPECT_EQ(bench.control->Log("control.1="), std::vector<std::string>{"control.1=0"});
    bench.control->running = 1;
    EXPECT_EQ(bench.container.DevClose(), 0);
    EXPECT_EQ(bench.control->Log("control.11()").size(), 1u);
    EXPECT_EQ(bench.control->Log("control.1=").back(), "control.1=-1");

    Bench none;
    none.control->adapters = 0;
    EXPECT_EQ(none.container.DevOpen(), 1);
    EXPECT_TRUE(none.control->Log("control.1=").empty());
}

TEST(CDCSamtecUdsTest, DetectionThatNeverFinishesEndsAfterFiveSeconds) {
    Bench bench;
    bench.control->raisesDetectionEvent = false;
    EXPECT_EQ(bench.container.DevOpen(), 1);
}

TEST(CDCSamtecUdsTest, WithoutTheControlEveryOperationFails) {
    std::vector<std::string> shown;
    platform::ScopedNotifier notifier([&](const std::string& text) { shown.push_back(text); });
    samdiax::ScopedControlMaker maker([] { return nullptr; });
    CDCSamtecUds container(T601Block(), UdsInterfaceSettings{});
    EXPECT_TRUE(container.Create());
    EXPECT_EQ(shown, std::vector<std::string>{"Samtec SamDiaX not available "});
    std::string response;
    EXPECT_EQ(container.DevOpen(), -7);
    EXPECT_EQ(container.DevConnect(), -7);
    EXPECT_EQ(container.DevTransferDataEx(0, "3E 00", response), -7);
    EXPECT_EQ(container.DevEnterFlashMode(), -7);
}

// The hardware interface probes the three rates in order and takes the first answered.
TEST(CDCSamtecUdsTest, BitRateDetectionProbesInOrder) {
    auto control = std::make_shared<FakeSamControl>();
    samdiax::ScopedControlMaker maker([control] { return control; });
    UdsInterfaceSettings settings;
    settings.bitRate = 0;
    CHUdsIso14229 hardware(T601Block(), settings, nullptr);
    control->transferResult = -3;
    EXPECT_EQ(hardware.HALCheckConnection(), -7);
    std::vector<std::string> rates;
    for (const std::string& entry : control->Log("P.Item(10000)")) rates.push_back(entry);
    EXPECT_EQ(rates,
              (std::vector<std::string>{Parameter(10000, "666666"), Parameter(10000, "500000"),
                                        Parameter(10000, "250000")}));
    control->transferResult = 0;
    EXPECT_EQ(hardware.HALCheckConnection(), 666666);
}

}  // namespace
}  // namespace diagbridge
