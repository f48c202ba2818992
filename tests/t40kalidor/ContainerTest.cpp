// The T40 and Kalidor containers and hardware interfaces on the scripted line: hex text to
// frames and back, adapter choice, flash code and mode checks.
#include <gtest/gtest.h>

#include "ScriptedLine.h"
#include "devices/CDCKalidorCom.h"
#include "devices/CDCT40.h"
#include "t40kalidor/CHKalidor.h"
#include "t40kalidor/CHT40.h"

namespace diagbridge {
namespace {

using testfakes::Bytes;

InterfaceSettings Settings(int32_t rs232, int32_t skyLink) {
    InterfaceSettings settings;
    settings.rs232Port = rs232;
    settings.skyLinkPort = skyLink;
    settings.rs232Baudrate = 9600;
    settings.skyLinkBaudrate = 115000;
    settings.rs232TimeoutMs = 1000;
    settings.skyLinkTimeoutMs = 1000;
    return settings;
}

class T40ContainerTest : public ::testing::Test, protected testfakes::ScriptedLineFixture {};

TEST_F(T40ContainerTest, HexRequestsBecomeFramesAndPayloadsHexResponses) {
    CDCT40 container({}, Settings(2, -1));
    ASSERT_TRUE(container.Create());
    ASSERT_EQ(container.DevOpen(), 0);
    line.Queue({0x03, 0x43, 0x48, 0x8E});
    line.Queue({0x01, 0x01});  // only the checksum
    std::string response = "unchanged";
    EXPECT_EQ(container.DevTransferData(" 03 07 00 02 08", response), 0);
    EXPECT_EQ(response, "43 48");
    EXPECT_EQ(container.DevTransferData("00", response), 0);
    EXPECT_EQ(response, "");
    EXPECT_EQ(Writes(),
              (std::vector<Bytes>{{0x06, 0x03, 0x07, 0x00, 0x02, 0x08, 0x1A}, {0x02, 0x00, 0x02}}));
    response = "kept";
    line.Queue({});
    EXPECT_EQ(container.DevTransferData("09", response), -1);
    EXPECT_EQ(response, "kept");
    EXPECT_EQ(container.DevTransferData("0G", response), -1);  // not sent
    EXPECT_EQ(Writes().size(), 3u);
}

TEST_F(T40ContainerTest, WithoutDeviceEverythingIsRefused) {
    CDCT40 container({}, Settings(2, -1));
    std::string response;
    EXPECT_EQ(container.DevOpen(), -7);
    EXPECT_EQ(container.DevConnect(), -7);
    EXPECT_EQ(container.DevDisconnect(), -7);
    EXPECT_EQ(container.DevTransferData("09", response), -7);
    EXPECT_EQ(container.DevClose(), 0);
}

// A wired adapter may have been re-plugged or pointed elsewhere since the last connect: each
// connect opens its port anew. The SkyLink port stays open (its open waits for the link).
TEST_F(T40ContainerTest, ConnectOpensTheWiredPortAnew) {
    struct Case {
        const char* name;
        int32_t isSkyLink;
        size_t opens;  // after the open and two connects
    };
    const Case cases[] = {{"wired", 0, 3}, {"SkyLink", 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        CDCT40 container({}, Settings(2, 2));
        container.isSkyLink = c.isSkyLink;
        ASSERT_TRUE(container.Create());
        ASSERT_EQ(container.DevOpen(), 0);
        EXPECT_EQ(container.DevConnect(), -1);  // nobody answers the wake-up
        EXPECT_EQ(container.DevConnect(), -1);
        EXPECT_EQ(log.Events(platform::SerialEvent::Kind::Open).size(), c.opens);
    }
}

TEST_F(T40ContainerTest, FlashModeAnswerBecomesTheDescription) {
    CDCT40 container({}, Settings(2, -1));
    ASSERT_TRUE(container.Create());
    ASSERT_EQ(container.DevOpen(), 0);
    const std::string ready = "H5 READY";
    line.Queue(Bytes(ready.begin(), ready.end()));
    container.hardwareType = "T40H5";
    EXPECT_EQ(container.DevEnterFlashMode(), 0);
    EXPECT_EQ(container.description, "H5");
}

TEST_F(T40ContainerTest, ConnectTakesTheFirstAdapterThatAnswers) {
    CHT40 skyLinkOnly({}, Settings(-1, 4));
    EXPECT_EQ(skyLinkOnly.InterfaceName(), "SKYLINK");
    skyLinkOnly.HALInit();
    line.Queue({0x55, 0x00});
    line.Queue({});
    line.Queue({0x02, 0x49, 0x4B});
    EXPECT_EQ(skyLinkOnly.HALConnect(), 0);
    EXPECT_EQ(skyLinkOnly.CurrentIndex(), CHT40::kSkyLinkSlot);
    EXPECT_EQ(skyLinkOnly.InterfaceName(), "SKYLINK");
    log.Clear();
    EXPECT_EQ(skyLinkOnly.HALSendFlashCode(), 0);
    EXPECT_EQ(Writes(), (std::vector<Bytes>{{'K', 'Q', 'Z', 'B', '&', 'R', 'U', 'C'}}));

    CHT40 none({}, Settings(-1, -1));
    EXPECT_FALSE(none.DevicePresent());
    EXPECT_EQ(none.HALConnect(), -7);
    EXPECT_EQ(none.InterfaceName(), "NONE");
    std::string response;
    EXPECT_EQ(none.HALTransferData("09", response), -7);
    EXPECT_EQ(none.HALEnterFlashMode(), -7);
}

TEST_F(T40ContainerTest, FailedWakeUpLeavesNoCurrentAdapterAndRs232SendsNoFlashCode) {
    CHT40 wired({}, Settings(2, -1));
    wired.HALInit();
    log.Clear();
    EXPECT_EQ(wired.HALSendFlashCode(), 0);
    EXPECT_TRUE(Writes().empty());
    line.Queue({});
    EXPECT_EQ(wired.HALConnect(), -1);
    EXPECT_EQ(wired.CurrentIndex(), CHT40::kNone);
    std::string response;
    EXPECT_EQ(wired.HALTransferData("09", response), -7);
}

class KalidorContainerTest : public ::testing::Test, protected testfakes::ScriptedLineFixture {
  protected:
    static EcuParameterBlock Mode(int32_t mode) {
        EcuParameterBlock block;
        block.word1 = 9600;
        block.word2 = mode;
        return block;
    }
};

TEST_F(KalidorContainerTest, ModeChoosesTheWayToConnect) {
    CDCKalidorCom other(Mode(3), Settings(5, -1));
    EXPECT_EQ(other.DevConnect(), -7);
    EXPECT_TRUE(Writes().empty());

    CDCKalidorCom freeRun(Mode(4), Settings(5, -1));
    line.Arrive({0x55, 0x79, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0});  // t = 13 = 2 * 0 + 13
    EXPECT_EQ(freeRun.DevConnect(), 0);
    EXPECT_EQ(freeRun.DevConnect(), -1);  // nothing more came
}

TEST_F(KalidorContainerTest, TransferGivesThePayloadCountThroughTheHardwareInterface) {
    InterfaceSettings settings = Settings(5, -1);
    CHKalidor hardware(Mode(5), settings);
    line.Queue({});
    line.Queue({0x55, 0x79, 0x80, 0x42, 0x11, 0x33, 0x80});
    std::string response;
    EXPECT_EQ(hardware.HALTransferData("02", response), 3);
    EXPECT_EQ(response, "42 11 33");
    std::string frame = "kept";
    EXPECT_EQ(hardware.HALReceiveData(frame), -7);
    EXPECT_EQ(frame, "");
}

TEST_F(KalidorContainerTest, SamtecWithoutContainerIsReportedAndLeavesNone) {
    InterfaceSettings settings = Settings(5, -1);
    settings.samtecUsb = true;
    CHKalidor hardware(Mode(5), settings);
    std::string response;
    EXPECT_EQ(hardware.HALInit(), -7);
    EXPECT_EQ(hardware.HALConnect(), -7);
    EXPECT_EQ(hardware.HALReceiveData(response), -1);
}

}  // namespace
}  // namespace diagbridge
