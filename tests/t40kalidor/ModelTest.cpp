// The T40 and Kalidor ECU models, their registry rows and the two communication objects'
// parameter strings.
#include <gtest/gtest.h>

#include "ScriptedLine.h"
#include "component/CCommandInterface.h"
#include "ecu/CEcuKalidor.h"
#include "ecu/CEcuT40.h"
#include "t40kalidor/CSKalidor.h"
#include "t40kalidor/CST40.h"

namespace diagbridge {
namespace {

TEST(T40ModelTest, DefaultsAndKeys) {
    CEcuT40H4 h4(nullptr, "T40H4");
    CEcuT40H5 h5(nullptr, "T40H5|SERVICEJOB=1|USER=some one|BAUDRATE_SERVICEDOWNLOAD=19200");
    ASSERT_TRUE(h4.IsCreated());
    ASSERT_TRUE(h5.IsCreated());
    EXPECT_EQ(h4.Ident(CEcu::kIdentProtocol), "ISO_9141");
    EXPECT_EQ(h4.Ident(CEcu::kIdentMaker), "ORLAN");
    EXPECT_EQ(h4.Ident(14), "0x23h");
    EXPECT_EQ(h4.Ident(15), "XXXXX");
    EXPECT_EQ(h4.Parameters().iso9141.downloadBaudrate, 9600);
    EXPECT_EQ(h4.Parameters().iso9141.timeouts.singleRequest, 500);
    EXPECT_EQ(h4.Parameters().iso9141.timeouts.upload, 120000);
    EXPECT_EQ(h4.Parameters().iso9141.timeouts.download, 600000);
    EXPECT_EQ(h4.Parameters().iso9141.timeouts.job, 1000);
    EXPECT_TRUE(h4.SingleRequestAllowed() && h4.UploadAllowed() && h4.DownloadAllowed());
    EXPECT_FALSE(h4.JobAllowed());
    EXPECT_TRUE(h5.JobAllowed());
    EXPECT_EQ(h5.HeaderText(CEcuT4X::kHeaderUser), "someone");
    EXPECT_EQ(h5.Parameters().iso9141.downloadBaudrate, 19200);
    EXPECT_EQ(h4.GetParameterString(), "");
    EXPECT_TRUE(h4.MatchObjectType("T40H4"));
    EXPECT_FALSE(h4.MatchObjectType("T40H5"));
    EXPECT_FALSE(h4.MatchObjectType("XXXX"));
}

TEST(T40ModelTest, RefusedParameterStrings) {
    for (const char* text : {"T40H5", "T40H4|SERVICEJOB", "T40H4|COLOUR=1", ""}) {
        EXPECT_FALSE(CEcuT40H4(nullptr, text).IsCreated()) << text;
    }
    EXPECT_EQ(CEcuT40H4(nullptr, "T40H4").Connect(), -7);
}

TEST(KalidorModelTest, ModesFlagsAndParameterStrings) {
    CEcuKalidorFreeRun freeRun(nullptr, "KALIDOR_FREE_RUN|ANY=thing");
    CEcuKalidorQuick quick(nullptr, "KALIDOR_QUICK|SERVICEUPLOAD=1");
    ASSERT_TRUE(freeRun.IsCreated());
    ASSERT_TRUE(quick.IsCreated());
    EXPECT_EQ(freeRun.Parameters().word1, 9600);
    EXPECT_EQ(freeRun.Mode(), 4);
    EXPECT_EQ(quick.Mode(), 5);
    EXPECT_EQ(freeRun.Ident(CEcu::kIdentObjectType), "KALIDOR");
    EXPECT_EQ(quick.Ident(CEcu::kIdentProtocol), "KALIDOR_QUICK");
    EXPECT_FALSE(quick.UploadAllowed());  // every token after the keyword is ignored
    EXPECT_TRUE(quick.SingleRequestAllowed());
    EXPECT_TRUE(freeRun.UploadAllowed());
    EXPECT_FALSE(freeRun.SingleRequestAllowed());
    EXPECT_EQ(freeRun.GetParameterString(),
              "KALIDOR_FREE_RUN|KALIDOR|SERVICESINGLEREQUEST=0|SERVICEUPLOAD=1|SERVICEDOWNLOAD=0|"
              "SERVICEJOB=0");
    EXPECT_EQ(quick.GetParameterString(), "KALIDOR_QUICK|KALIDOR|");
    EXPECT_FALSE(CEcuKalidorQuick(nullptr, "KALIDOR_FREE_RUN").IsCreated());
}

class T40KalidorRegistryTest : public ::testing::Test, protected testfakes::ScriptedLineFixture {};

TEST_F(T40KalidorRegistryTest, ModelsOnlyOnTheirOwnStack) {
    CCommandInterface component;
    int32_t t40 = -1;
    int32_t kalidor = -1;
    ASSERT_EQ(component.DbrCreateCommunicationObject("ISO_9141|RS232=2", &t40), 0);
    ASSERT_EQ(component.DbrCreateCommunicationObject("KALIDOR|RS232=3", &kalidor), 0);
    ASSERT_GE(t40, 0);
    ASSERT_GE(kalidor, 0);
    const struct {
        const char* model;
        int32_t on;
        bool created;
    } cases[] = {
        {"T40H4", t40, true},
        {"T40H5", t40, true},
        {"T4X", t40, true},
        {"T6X", t40, false},
        {"T40H4", kalidor, false},
        {"KALIDOR_QUICK", kalidor, true},
        {"KALIDOR_FREE_RUN", kalidor, true},
        {"KALIDOR_QUICK", t40, false},
    };
    for (const auto& c : cases) {
        int32_t id = -1;
        component.DbrCreateEcuObject(c.model, c.on, &id);
        EXPECT_EQ(id >= CCommandInterface::kEcuIdBase, c.created) << c.model;
        int32_t result = 0;
        if (id >= 0) component.DbrDeleteEcuObject(id, &result);
    }
}

TEST_F(T40KalidorRegistryTest, T40WithoutAdapterIsNotCreated) {
    CCommandInterface component;
    int32_t t40 = 0;
    EXPECT_EQ(component.DbrCreateCommunicationObject("ISO_9141", &t40), 0);
    EXPECT_EQ(t40, -7);
}

TEST(T40KalidorParameterTest, CommunicationObjectsReadTheirKeys) {
    CSKalidor kalidor(nullptr, "KALIDOR");
    EXPECT_EQ(kalidor.GetParameterString(),
              "KALIDOR|RS232=-1|SAMTECUSB=0|BAUDRATE=9600|SAMTECFIRMWARE=ISO9141-Tester "
              "4.52.0.0|SAMTECCONFIGFILE=Config.spa|TRACE=0|PROGRESS=0|STATUS=0");
    EXPECT_EQ(kalidor.SetParameter("RS232", " 3"), 0);
    EXPECT_EQ(kalidor.SetParameter("COLOUR", "1"), -3);
    EXPECT_FALSE(CSKalidor(nullptr, "KALIDOR|COLOUR=1").ParametersAccepted());

    CST40 t40(nullptr, "ISO_9141|RS232=2|SKYLINK=3|TIMEOUT_RS232=800");
    EXPECT_TRUE(t40.ParametersAccepted());
    EXPECT_EQ(t40.GetParameterString(), "");
    EXPECT_EQ(t40.SetParameter("COLOUR", "1"), -3);
    EXPECT_FALSE(CST40(nullptr, "KWP2000|RS232=2").ParametersAccepted());
}

}  // namespace
}  // namespace diagbridge
