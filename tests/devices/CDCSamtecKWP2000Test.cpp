#include "devices/CDCSamtecKWP2000.h"

#include <gtest/gtest.h>

#include "support/FakeSamControl.h"

namespace diagbridge {
namespace {

using test::FakeSamControl;

struct Bench {
    Bench() : control(std::make_shared<FakeSamControl>()), maker([this] { return control; }) {
        EcuParameterBlock block;
        block.kwp.testerAddress = 0xFA;
        block.kwp.ecuAddress = 0x18;
        container = std::make_unique<CDCSamtecKWP2000>(block, InterfaceSettings{});
        EXPECT_TRUE(container->Create());
        control->log.clear();
    }
    std::shared_ptr<FakeSamControl> control;
    samdiax::ScopedControlMaker maker;
    std::unique_ptr<CDCSamtecKWP2000> container;
};

TEST(CDCSamtecKWP2000Test, OpenDetectsThenWritesTheLineSettings) {
    Bench bench;
    EXPECT_EQ(bench.container->description, "Samtec at USB SamDiaX Version: FW 1.0");
    EXPECT_EQ(bench.container->DevOpen(), 0);
    EXPECT_EQ(bench.control->log,
              (std::vector<std::string>{
                  "A.1=-1", "A.2=1", "A.4()", "control.26=false", "control.62()", "control.62()",
                  "control.1=0", "P.Item(1000).11=\"1\"", "P.Item(1030).11=\"1\"",
                  "P.Item(20009).11=\"0\"", "control.33(37)=\"0\"", "control.33(39)=\"0\"",
                  "control.33(5)=\"24\"", "control.33(38)=\"250\"", "control.33(35)=\"3000\""}));
    Bench none;
    none.control->adapters = 0;
    EXPECT_EQ(none.container->DevOpen(), 1);
    Bench busy;
    busy.control->running = 1;  // communication that does not stop
    EXPECT_EQ(busy.container->DevOpen(), -1);
}

TEST(CDCSamtecKWP2000Test, TimingRestartsCommunicationWithTheParameters) {
    Bench bench;
    EXPECT_EQ(bench.container->DevSetTiming(5, 50, 55, 5000, 5), 0);
    EXPECT_EQ(bench.control->log,
              (std::vector<std::string>{"control.11()", "P.Item(20101).11=\"5\"",
                                        "P.Item(20001).11=\"50\"", "P.Item(20102).11=\"55\"",
                                        "P.Item(20002).11=\"5000\"", "P.Item(20103).11=\"5\"",
                                        "P.Item(20009).11=\"0\"", "control.10()"}));
}

TEST(CDCSamtecKWP2000Test, TransfersTesterPresentAndAddresses) {
    Bench bench;
    std::string response;
    EXPECT_EQ(bench.container->DevTransferData("", response), 0);
    EXPECT_TRUE(bench.control->log.empty());
    bench.control->response = "5A 95 01";
    bench.control->transferResult = 3;
    EXPECT_EQ(bench.container->DevTransferData("1A 95", response), 3);
    EXPECT_EQ(response, "5A 95 01");
    bench.control->transferResult = -4;
    EXPECT_EQ(bench.container->DevTransferData("1A 95", response), -4);
    EXPECT_EQ(bench.container->LastError().message, "No response from the ECU");

    struct Case {
        int32_t result;
        const char* answer;
        int32_t expected;
    } const cases[] = {{1, "7E", 0}, {1, "7F 3E 12", -1}, {-4, "", -1}};
    for (const Case& c : cases) {
        bench.control->transferResult = c.result;
        bench.control->response = c.answer;
        EXPECT_EQ(bench.container->DevTesterPresent(), c.expected) << c.answer;
    }
    bench.control->log.clear();
    EXPECT_EQ(bench.container->DevSetAddress(0xF0, 0x29), 0);
    EXPECT_EQ(bench.control->log,
              (std::vector<std::string>{"control.33(5)=\"41\"", "control.33(38)=\"240\""}));
    bench.control->startResult = 0;
    EXPECT_EQ(bench.container->DevConnect(), -1);
}

TEST(CDCSamtecKWP2000Test, WithoutTheControl) {
    samdiax::ScopedControlMaker maker([] { return nullptr; });
    CDCSamtecKWP2000 container(EcuParameterBlock{}, InterfaceSettings{});
    EXPECT_TRUE(container.Create());
    EXPECT_EQ(container.description, "Samtec SamDiaX not available ");
    std::string response;
    EXPECT_EQ(container.DevOpen(), -1);
    EXPECT_EQ(container.DevConnect(), -1);
    EXPECT_EQ(container.DevTransferData("3E", response), -1);
    EXPECT_EQ(container.DevTesterPresent(), -7);
}

}  // namespace
}  // namespace diagbridge
