#include <gtest/gtest.h>

#include "support/EventRecorder.h"
#include "support/FakeProtocol.h"

namespace diagbridge {
namespace {

using testing::EventRecorder;
using testing::FakeEcu;
using testing::FakeProtocol;

ServiceOrder ConnectOrder() {
    ServiceOrder order;
    order.command = kCommandConnect;
    return order;
}

class StatusMachineTest : public ::testing::Test {
  protected:
    StatusMachineTest() : object(&events, "FAKE|STATUS=1"), ecu(&object, "FAKE_ECU") {}
    EventRecorder events;
    FakeProtocol object;
    FakeEcu ecu;
};

TEST_F(StatusMachineTest, ResultAndRequestGiveTheNextStatus) {
    struct Case {
        int32_t start;  // status requested with result 0 first
        int32_t result;
        int32_t requested;
        int32_t code;
        const char* text;
        int32_t raised;  // 0: no event
        bool connected;
    };
    const Case cases[] = {
        {kStatusCreated, 0, kStatusConnected, 3, "CONNECTED", 3, true},
        {kStatusConnected, 0, kStatusDisconnected, 4, "DISCONNECTED", 4, false},
        {kStatusConnected, 0, kStatusAlive, 3, "ALIVE", 6, true},
        {kStatusCreated, 0, kStatusDeleted, 5, "DELETED", 5, false},
        {kStatusCreated, 0, kStatusInitialized, 2, "INITIALIZED", 2, false},
        {kStatusConnected, -7, kStatusConnected + 100, -2, "INTERNAL MAILFUNCTION", -2, false},
        {kStatusConnected, -2, kStatusCreated, 4, "DISCONNECTED", 4, false},
        {kStatusConnected, -1, kStatusCreated, -1, "COMMUNICATION MAILFUNCTION", -1, false},
        {kStatusConnected, -5, kStatusDisconnected, 3, "CONNECTED", 0, true},
        {kStatusConnected, -3, kStatusDisconnected, 3, "CONNECTED", 0, true},
        {kStatusConnected, -8, kStatusDisconnected, 3, "CONNECTED", 0, true},
        {kStatusConnected, 5, kStatusDisconnected, 3, "CONNECTED", 0, true},
        {kStatusConnected, kResultNothingDue, kStatusAlive, 3, "CONNECTED", 0, true},
        {kStatusConnected, -1, kStatusConnected, 3, "CONNECTED", 0, true},  // already there
    };
    ASSERT_EQ(object.ExecuteService(ConnectOrder(), &ecu), 0);
    for (const Case& c : cases) {
        ecu.SetConnected(false);
        object.SetStatus(0, kStatusNothing);
        object.SetStatus(0, c.start);
        events.Clear();
        object.SetStatus(c.result, c.requested);
        EXPECT_EQ(object.StatusCode(), c.code) << c.result << " " << c.requested;
        EXPECT_EQ(object.StatusText(), c.text) << c.result << " " << c.requested;
        EXPECT_EQ(ecu.IsConnected(), c.connected) << c.result << " " << c.requested;
        const auto raised = events.OfKind("status");
        if (c.raised == 0) {
            EXPECT_TRUE(raised.empty()) << c.result << " " << c.requested;
        } else {
            ASSERT_EQ(raised.size(), 1u) << c.result << " " << c.requested;
            EXPECT_EQ(raised[0].a, c.raised);
            EXPECT_EQ(raised[0].text, "Status: " + std::to_string(c.raised) + " " + c.text);
        }
    }
}

TEST_F(StatusMachineTest, EveryKeepAliveRaisesAliveAgain) {
    object.SetStatus(0, kStatusConnected);
    events.Clear();
    object.SetStatus(0, kStatusAlive);
    object.SetStatus(0, kStatusAlive);
    EXPECT_EQ(events.OfKind("status").size(), 2u);
    EXPECT_EQ(object.StatusCode(), kStatusConnected);
}

TEST(StatusFlagTest, WithoutTheStatusSwitchTheCodeChangesSilently) {
    EventRecorder events;
    FakeProtocol object(&events, "FAKE");
    object.SetStatus(0, kStatusCreated);
    EXPECT_EQ(object.StatusCode(), kStatusCreated);
    EXPECT_TRUE(events.Events().empty());
}

}  // namespace
}  // namespace diagbridge
