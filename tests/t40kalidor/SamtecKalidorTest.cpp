// Kalidor sessions on the Samtec adapter through the command interface, with a scripted
// SamDiaX control: what the client sees when the adapter is built, opened and connected.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "component/CCommandInterface.h"
#include "engine/CSoftwareInterface.h"
#include "platform/Notifier.h"
#include "support/FakeSamControl.h"

namespace diagbridge {
namespace {

using test::FakeSamControl;

constexpr const char* kCommunication =
    "KALIDOR|SAMTECUSB=1|SAMTECFIRMWARE= FW 1.0 |SAMTECCONFIGFILE=kalidor.cfg";

struct SamtecSession {
    explicit SamtecSession(bool withControl = true)
        : control(std::make_shared<FakeSamControl>()),
          maker([this, withControl]() -> std::shared_ptr<samdiax::ISamControl> {
              if (!withControl) return nullptr;
              return control;
          }),
          notifier([this](const std::string& text) { shown.push_back(text); }) {
        setenv("DIAGBRIDGE_SAMTEC_DATA", "/data", 1);
    }
    ~SamtecSession() {
        int32_t result = 0;
        if (communication >= 0) component.DbrDeleteCommunicationObject(communication, &result);
        unsetenv("DIAGBRIDGE_SAMTEC_DATA");
    }
    // The adapter is opened with the communication object, before any ECU object gives the
    // mode; the connect uses the mode of the model.
    int32_t Connect(const std::string& model) {
        EXPECT_EQ(component.DbrCreateCommunicationObject(kCommunication, &communication), 0);
        EXPECT_GE(communication, 0);
        EXPECT_EQ(component.DbrCreateEcuObject(model, communication, &ecu), 0);
        int32_t result = 1;
        EXPECT_EQ(component.DbrConnect(ecu, &result), 0);
        return result;
    }

    std::shared_ptr<FakeSamControl> control;
    samdiax::ScopedControlMaker maker;
    std::vector<std::string> shown;
    platform::ScopedNotifier notifier;
    CCommandInterface component;
    int32_t communication = -1;
    int32_t ecu = -1;
};

TEST(SamtecKalidorTest, QuickSessionThroughTheAdapter) {
    SamtecSession session;
    session.control->response = "07 A5 3C";
    session.control->transferResult = 3;
    ASSERT_EQ(session.Connect("KALIDOR_QUICK"), 0);
    EXPECT_TRUE(session.shown.empty());
    EXPECT_EQ(session.control->Log("P.7="),
              std::vector<std::string>{"P.7=\"/data/samtec/Configuration/Settings/kalidor.cfg\""});
    EXPECT_EQ(session.control->Log("P.Item"), std::vector<std::string>{"P.Item(1030).11=\"25\""});
    EXPECT_EQ(session.control->requests, (std::vector<std::string>{"07", "06 A5 3C"}));

    session.control->response = "42 11 33";
    std::string response;
    int32_t result = 1;
    EXPECT_EQ(session.component.DbrSingleRequest(session.ecu, "02 11", &response, &result), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(response, "42 11 33");
    EXPECT_EQ(session.control->requests.back(), "02 11");

    session.control->transferResult = -1;
    EXPECT_EQ(session.component.DbrSingleRequest(session.ecu, "02 11", &response, &result), 0);
    EXPECT_LT(result, 0);
    EXPECT_EQ(response, "");
}

TEST(SamtecKalidorTest, FreeRunModeListens) {
    SamtecSession session;
    ASSERT_EQ(session.Connect("KALIDOR_FREE_RUN"), 0);
    EXPECT_EQ(session.control->Log("P.Item"), std::vector<std::string>{"P.Item(1030).11=\"16\""});
    EXPECT_TRUE(session.control->requests.empty());
}

// The adapter's own faults are shown once at opening; the client's connect goes on.
TEST(SamtecKalidorTest, OpeningFaultsAreShown) {
    struct Case {
        const char* name;
        std::string adapterFirmware;
        bool configurationLoads;
        std::string shown;
    };
    const Case cases[] = {
        {"wrong firmware", "FW 0.9", true,
         "Wrong Samtec Firmware detected\nRequired Firmware: FW 1.0"},
        {"configuration not loaded", "FW 1.0", false,
         "Loading Error: /data/samtec/Configuration/Settings/kalidor.cfg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SamtecSession session;
        session.control->adapterFirmware = c.adapterFirmware;
        session.control->configurationLoads = c.configurationLoads;
        session.control->transferResult = 1;
        EXPECT_EQ(session.Connect("KALIDOR_QUICK"), 0);
        EXPECT_EQ(session.shown, std::vector<std::string>{c.shown});
    }
}

TEST(SamtecKalidorTest, WithoutTheControlNoCommunicationObject) {
    SamtecSession session(false);
    EXPECT_EQ(
        session.component.DbrCreateCommunicationObject(kCommunication, &session.communication), 0);
    EXPECT_EQ(session.communication, kResultFailure);
    EXPECT_TRUE(session.shown.empty());
}

}  // namespace
}  // namespace diagbridge
