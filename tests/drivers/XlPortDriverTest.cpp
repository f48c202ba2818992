#include "drivers/xl/XlPortDriver.h"

#include <gtest/gtest.h>

#include "drivers/xl/XlSource.h"

namespace diagbridge::xl {
namespace {

XLportHandle OpenOn(const XlDriverTable& table, XLaccess* permission) {
    XLportHandle port = kInvalidPort;
    char name[] = "xlCANcontrol";
    *permission = 1;
    EXPECT_EQ(table.openPort(&port, name, 1, permission, 256, kInterfaceVersion, kBusTypeCan),
              kSuccess);
    return port;
}

TEST(XlPortDriverTest, PortsOfDifferentSourcesAreIndependentAndClosedHandlesAreInvalid) {
    std::string failure;
    auto first = LoadXlSource("virtual:XlPortDriverTest.a", failure);
    auto second = LoadXlSource("virtual:XlPortDriverTest.b", failure);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->table.openPort, second->table.openPort);
    XLaccess permission = 0;
    const XLportHandle a = OpenOn(first->table, &permission);
    EXPECT_EQ(permission, 1u);
    const XLportHandle b = OpenOn(second->table, &permission);
    EXPECT_GE(a, 1);
    EXPECT_NE(a, b);
    EXPECT_EQ(XlPortDriver::Find(a)->BitRate(), 0u);

    XLevent event{};
    uint32_t count = 1;
    EXPECT_EQ(first->table.receive(a, &count, &event), kErrQueueIsEmpty);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(first->table.closePort(a), kSuccess);
    EXPECT_EQ(first->table.closePort(a), kErrInvalidPortHandle);
    count = 1;
    EXPECT_EQ(first->table.receive(a, &count, &event), kErrInvalidPortHandle);
    EXPECT_EQ(first->table.canTransmit(0, 1, &count, &event), kErrInvalidPortHandle);
    EXPECT_EQ(first->table.activateChannel(9999, 1, kBusTypeCan, 8), kErrInvalidPortHandle);
    EXPECT_FALSE(XlPortDriver::WaitForEvent(a, 1));
    EXPECT_EQ(second->table.closePort(b), kSuccess);
}

TEST(XlPortDriverTest, BadArgumentsAreRefused) {
    std::string failure;
    auto source = LoadXlSource("virtual:XlPortDriverTest.c", failure);
    ASSERT_TRUE(source);
    XLaccess permission = 1;
    char name[] = "xlCANcontrol";
    XLportHandle port = kInvalidPort;
    EXPECT_EQ(source->table.openPort(&port, name, 1, &permission, 256, 3, 2), kErrWrongParameter);
    EXPECT_EQ(source->table.openPort(nullptr, name, 1, &permission, 256, 3, 1), kErrWrongParameter);
    port = OpenOn(source->table, &permission);
    uint32_t count = 0;
    XLevent event{};
    EXPECT_EQ(source->table.receive(port, &count, &event), kErrWrongParameter);
    EXPECT_EQ(source->table.canSetChannelParams(port, 1, nullptr), kErrWrongParameter);
    EXPECT_EQ(source->table.canSetChannelOutput(port, 1, 7), kErrWrongParameter);
    EXPECT_EQ(source->table.canSetChannelAcceptance(port, 1, 0, 0, 3), kErrWrongParameter);
    source->table.closePort(port);
}

TEST(XlPortDriverTest, UnavailableSourcesDoNotLoad) {
    for (const char* selector :
         {"socketcan:can0", "socketcan:", "hub:", "slcan:", "so:", "bogus"}) {
        std::string failure;
        EXPECT_EQ(LoadXlSource(selector, failure), nullptr) << selector;
    }
}

// The receive queue holds what the channel asked for, within its range.
TEST(XlPortDriverTest, ReceiveQueueHoldsWhatTheChannelAskedFor) {
    std::string failure;
    auto source = LoadXlSource("virtual:XlPortDriverTest.queue", failure);
    ASSERT_TRUE(source);
    const XlDriverTable& api = source->table;
    XLchipParams params{500000, 1, 13, 2, 1};
    XLaccess permission = 1;
    const auto open = [&](uint32_t asked) {
        XLportHandle port = kInvalidPort;
        char name[] = "xlCANcontrol";
        EXPECT_EQ(api.openPort(&port, name, 1, &permission, asked, kInterfaceVersion, kBusTypeCan),
                  kSuccess);
        EXPECT_EQ(api.canSetChannelParams(port, 1, &params), kSuccess);
        EXPECT_EQ(api.activateChannel(port, 1, kBusTypeCan, 0), kSuccess);
        return port;
    };
    const XLportHandle sender = open(256);
    struct Case {
        uint32_t asked;
        size_t held;
    };
    const Case cases[] = {
        {16, XlPort::kQueueCapacity}, {1024, 1024}, {1u << 20, XlPort::kMaxQueueCapacity}};
    for (const Case& c : cases) {
        const XLportHandle receiver = open(c.asked);
        XLevent event{};
        event.tag = kTagTransmitMsg;
        event.tagData.msg.id = 0x100;
        event.tagData.msg.dlc = 1;
        for (size_t i = 0; i < c.held + 1; ++i) {
            uint32_t count = 1;
            ASSERT_EQ(api.canTransmit(sender, 1, &count, &event), kSuccess);
        }
        size_t received = 0;
        uint32_t count = 1;
        XLevent taken{};
        while (api.receive(receiver, &count, &taken) == kSuccess) {
            ++received;
            count = 1;
        }
        EXPECT_EQ(received, c.held) << c.asked;
        EXPECT_EQ(api.closePort(receiver), kSuccess);
    }
    EXPECT_EQ(api.closePort(sender), kSuccess);
}

}  // namespace
}  // namespace diagbridge::xl
