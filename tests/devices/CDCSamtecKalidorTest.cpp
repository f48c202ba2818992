#include "devices/CDCSamtecKalidor.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/Notifier.h"
#include "support/FakeSamControl.h"

namespace diagbridge {
namespace {

using test::FakeSamControl;

struct Bench {
    explicit Bench(int32_t mode = SamtecKalidorSettings::kQuick)
        : control(std::make_shared<FakeSamControl>()),
          maker([this] { return control; }),
          notifier([this](const std::string& text) { shown.push_back(text); }) {
        setenv(CDCSamtecKalidor::kDataFolderVariable, "/data", 1);
        EcuParameterBlock configuration;
        configuration.word2 = mode;
        SamtecKalidorSettings settings;
        settings.firmware = "FW 1.0";
        settings.configFile = "kalidor.cfg";
        container = std::make_unique<CDCSamtecKalidor>(configuration, settings);
        EXPECT_TRUE(container->Create());
        control->log.clear();
    }
    ~Bench() { unsetenv(CDCSamtecKalidor::kDataFolderVariable); }
    std::shared_ptr<FakeSamControl> control;
    samdiax::ScopedControlMaker maker;
    std::vector<std::string> shown;
    platform::ScopedNotifier notifier;
    std::unique_ptr<CDCSamtecKalidor> container;
};

TEST(CDCSamtecKalidorTest, OpenChecksFirmwareThenLoadsTheConfiguration) {
    Bench bench;
    EXPECT_EQ(bench.container->ConfigurationPath(),
              "/data/samtec/Configuration/Settings/kalidor.cfg");
    EXPECT_EQ(bench.container->DevOpen(), 0);
    EXPECT_TRUE(bench.shown.empty());
    EXPECT_EQ(bench.control->Log("P."),
              (std::vector<std::string>{"P.7=\"/data/samtec/Configuration/Settings/kalidor.cfg\"",
                                        "P.16()"}));

    Bench wrong;
    wrong.control->adapterFirmware = "FW 0.9";
    EXPECT_EQ(wrong.container->DevOpen(), 0);
    EXPECT_EQ(wrong.shown, std::vector<std::string>{
                               "Wrong Samtec Firmware detected\nRequired Firmware: FW 1.0"});
    EXPECT_TRUE(wrong.control->Log("P.").empty());

    Bench missing;
    missing.control->configurationLoads = false;
    EXPECT_EQ(missing.container->DevOpen(), 0);
    EXPECT_EQ(missing.shown, std::vector<std::string>{
                                 "Loading Error: /data/samtec/Configuration/Settings/kalidor.cfg"});

    Bench none;
    none.control->adapters = 0;
    EXPECT_EQ(none.container->DevOpen(), 0);
    EXPECT_TRUE(none.shown.empty());
    EXPECT_TRUE(none.control->Log("control.1=").empty());
}

TEST(CDCSamtecKalidorTest, ConnectByMode) {
    Bench quick;
    quick.control->response = "07 A5 3C";
    quick.control->transferResult = 3;
    EXPECT_EQ(quick.container->DevConnect(), 0);
    EXPECT_EQ(quick.control->Log("P.Item"), std::vector<std::string>{"P.Item(1030).11=\"25\""});
    EXPECT_EQ(quick.control->requests, (std::vector<std::string>{"07", "06 A5 3C"}));

    Bench freeRun(SamtecKalidorSettings::kFreeRun);
    EXPECT_EQ(freeRun.container->DevConnect(), 0);
    EXPECT_EQ(freeRun.control->Log("P.Item"), std::vector<std::string>{"P.Item(1030).11=\"16\""});
    EXPECT_TRUE(freeRun.control->requests.empty());

    Bench other(3);
    EXPECT_EQ(other.container->DevConnect(), -1);
    EXPECT_TRUE(other.control->log.empty());
}

TEST(CDCSamtecKalidorTest, QuickSecondRequestTakesTheFirstTokenBetweenZerosAndSevens) {
    struct Case {
        const char* answer;
        const char* request;
    } const cases[] = {{"07 A5", "06 A5"}, {"A5 07 11", "06A5 "}, {"0707", "06"}, {"", "06"}};
    for (const Case& c : cases) {
        EXPECT_EQ(CDCSamtecKalidor::QuickSecondRequest(c.answer), c.request) << c.answer;
    }
}

TEST(CDCSamtecKalidorTest, TransferAndReceive) {
    Bench bench;
    bench.control->response = "12 34";
    bench.control->transferResult = 2;
    std::string response;
    EXPECT_EQ(bench.container->DevTransferData("10", response), 2);
    EXPECT_EQ(response, "12 34");
    bench.control->log.clear();
    EXPECT_EQ(bench.container->DevReceiveData(response), 0);
    EXPECT_EQ(bench.control->Log("control."),
              (std::vector<std::string>{"control.10()", "control.8=\"20\"", "control.16()",
                                        "control.11()"}));
    bench.control->transferResult = -4;
    EXPECT_EQ(bench.container->DevTransferData("10", response), -4);
    EXPECT_EQ(response, "");
    EXPECT_EQ(bench.container->LastErrorText(),
              "Error: 4\nErrorType: 1\nMessage: No response from the ECU");
    response = "kept";
    EXPECT_EQ(bench.container->DevReceiveData(response), -1);
    EXPECT_EQ(response, "kept");
}

TEST(CDCSamtecKalidorTest, WithoutTheControl) {
    samdiax::ScopedControlMaker maker([] { return nullptr; });
    CDCSamtecKalidor container(EcuParameterBlock{}, SamtecKalidorSettings{});
    EXPECT_TRUE(container.Create());
    EXPECT_EQ(container.description, "Samtec SamDiaX not available ");
    std::string response;
    EXPECT_EQ(container.DevOpen(), -1);
    EXPECT_EQ(container.DevConnect(), -1);
    EXPECT_EQ(container.DevTransferData("10", response), -1);
    EXPECT_EQ(container.DevReceiveData(response), -1);
}

}  // namespace
}  // namespace diagbridge
