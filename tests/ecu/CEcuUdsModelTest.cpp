#include "ecu/CEcuUdsModel.h"

#include <gtest/gtest.h>

#include <typeinfo>

#include "ecu/CEcuT6xUdsIso14229.h"
#include "ecu/CEcuTCXUdsIso14229.h"
#include "ecu/CEcuVoltarisR61UdsIso14229.h"
#include "ecu/UdsModelTestSupport.h"
#include "support/EventRecorder.h"
#include "support/FakeProtocol.h"

namespace diagbridge {
namespace {

using testing::EnabledSteps;
using testing::MakeUdsModel;

TEST(UdsModelRegistryTest, KeywordAndProtocolChooseTheModel) {
    struct Case {
        const char* keyword;
        int32_t protocol;
        const std::type_info* type;  // null: nothing created
    };
    const Case cases[] = {
        {"T6X", kProtocolUds, &typeid(CEcuT6xUdsIso14229)},
        {"T6X", kProtocolIso9141, nullptr},
        {"T60.1", kProtocolUds, &typeid(CEcuT601UdsIso14229)},
        {"T60.1_UDS_A", kProtocolUds, &typeid(CEcuT601UdsIso14229_A)},
        {"T60.1_UDS_A", kProtocolKwp2000, nullptr},
        {"T60.1_UDS_B", kProtocolUds, &typeid(CEcuT601UdsIso14229_B)},
        {"T60.1_UDS_B", kProtocolKwp2000, nullptr},
        {"T60.1_UDS_C", kProtocolUds, &typeid(CEcuT601UdsIso14229_C)},
        {"T60.1_UDS_D", kProtocolUds, &typeid(CEcuT601UdsIso14229_D)},
        {"T60.1_UDS_E", kProtocolUds, &typeid(CEcuT601UdsIso14229_E)},
        {"VOLTARIS_R61_MOTORCONTROLLER", kProtocolUds,
         &typeid(CEcuVoltarisR61UdsIso14229MotorController)},
        {"VOLTARIS_R61_SAFETYCONTROLLER", kProtocolUds,
         &typeid(CEcuVoltarisR61UdsIso14229SafetyController)},
        {"VOLTARIS_R61_SAFETYCONTROLLER", kProtocolKalidor, nullptr},
        {"VOLTARIS_R61", kProtocolUds, nullptr},
        {"R61", kProtocolUds, nullptr},
        {"TCX", kProtocolUds, &typeid(CEcuTCXUdsIso14229)},
        {"TCX", kProtocolKwp2000, nullptr},
        {"t6x", kProtocolUds, nullptr},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<CEcu> ecu =
            CreateEcuObject(EcuTypeTable(), c.keyword, c.protocol, nullptr, c.keyword);
        if (c.type == nullptr) {
            EXPECT_EQ(ecu, nullptr) << c.keyword << " on " << c.protocol;
            continue;
        }
        ASSERT_NE(ecu, nullptr) << c.keyword;
        const CEcu& created = *ecu;
        EXPECT_EQ(typeid(created), *c.type) << c.keyword;
        EXPECT_TRUE(ecu->IsCreated()) << c.keyword;
        EXPECT_EQ(ecu->Ident(CEcu::kIdentObjectType), c.keyword);
        EXPECT_EQ(ecu->Ident(CEcu::kIdentProtocol), "UDS_ISO_14229");
    }
}

TEST(UdsModelRegistryTest, RejectedCreationStringsClearCreated) {
    const char* rejected[] = {
        "T6X|FOO=1",
        "T60.1|ECU_FUNCTIONAL=0x18DBFFF1",
        "VOLTARIS_R61_MOTORCONTROLLER|TESTER_FUNCTIONAL=0x18DBFFF1",
        "TCX|FILLBYTE=256",
        "T60.1_UDS_A|TIMEOUT_SERVICEUPLOAD=0",
    };
    for (const char* parameter : rejected) {
        const auto ecu = MakeUdsModel(parameter);
        ASSERT_NE(ecu, nullptr) << parameter;
        EXPECT_FALSE(ecu->IsCreated()) << parameter;
    }
    // A creation string of another model is refused by the keyword check.
    const std::unique_ptr<CEcu> ecu =
        CreateEcuObject(EcuTypeTable(), "TCX", kProtocolUds, nullptr, "T6X|REBOOT=1");
    ASSERT_NE(ecu, nullptr);
    EXPECT_FALSE(ecu->IsCreated());
}

struct Defaults {
    const char* keyword;
    const char* parameterString;
    uint32_t requestId;
    uint32_t responseId;
    int32_t singleRequestTimeout;
    const char* maker;
    uint32_t enabledSteps;
    int32_t programmingAccess;
    bool crcInDependencyCheck;
    uint8_t downloadOption;
    bool fingerprint;
    uint32_t memoryLength;
};

TEST(UdsModelDefaultsTest, EveryModel) {
    const Defaults cases[] = {
        {"T6X",
         "T6X|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|REBOOT=300|"
         "USEFILLBYTE=0|FILLBYTE=255|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=0|SERVICEDOWNLOAD=0|"
         "SERVICEJOB=0",
         0x18DA03F1, 0x18DAF103, 500, "ORLAN", 0x1FFF, 2, false, 0, true, 0},
        {"T60.1",
         "T60.1|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|REBOOT=300|"
         "USEFILLBYTE=0|FILLBYTE=255|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|"
         "SERVICEJOB=0",
         0x18DA03F1, 0x18DAF103, 500, "ORLAN", 0x1FFF, 2, false, 1, true, 0xFE80},
        {"T60.1_UDS_A",
         "T60.1_UDS_A|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|"
         "REBOOT=300|USEFILLBYTE=0|FILLBYTE=255|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=0|"
         "SERVICEDOWNLOAD=0|SERVICEJOB=0",
         0x18DA03F1, 0x18DAF103, 500, "UDS_A MAN", 0, 2, false, 1, false, 0},
        {"T60.1_UDS_B", nullptr, 0x18DA03F1, 0x18DAF103, 500, "UDS_B EvoBus", 0xE0, 5, false, 1,
         false, 0},
        {"T60.1_UDS_C", nullptr, 0x18DA03F1, 0x18DAF103, 500, "UDS_C VOLVO", 0, 2, false, 1, false,
         0},
        {"T60.1_UDS_D", nullptr, 0x18DA03F1, 0x18DAF103, 500, "UDS_D Scania", 0x700, 8, false, 1,
         false, 0},
        {"T60.1_UDS_E", nullptr, 0x18DA03F1, 0x18DAF103, 500, "UDS_E Irisbus", 0x1800, 11, false, 1,
         false, 0},
        {"VOLTARIS_R61_MOTORCONTROLLER",
         "R6X|UDS_ISO_14229|ECU=0x18DAFAF1h|TESTER=0x18DAF1FAh|"
         "FECU=0x18DBFFFAh|REBOOT=300|USEFILLBYTE=0|FILLBYTE=255|SERVICESINGLEREQUEST=0|"
         "SERVICEUPLOAD=0|SERVICEDOWNLOAD=0|",
         0x18DAFAF1, 0x18DAF1FA, 5000, "ORLAN", 0x1FFF, 2, true, 0, true, 0},
        {"VOLTARIS_R61_SAFETYCONTROLLER",
         "R6X|UDS_ISO_14229|ECU=0x18DAFAF2h|TESTER=0x18DAF2FAh|"
         "FECU=0x18DBFFFAh|REBOOT=300|USEFILLBYTE=0|FILLBYTE=255|SERVICESINGLEREQUEST=0|"
         "SERVICEUPLOAD=0|SERVICEDOWNLOAD=0|",
         0x18DAFAF2, 0x18DAF2FA, 5000, "ORLAN", 0x1FFF, 2, true, 0, true, 0},
        {"TCX",
         "TCX|UDS_ISO_14229|ECU=0x18DAF10Fh|TESTER=0x18DA0FF1h|FTESTER=0x18DBFFF1h|REBOOT=300|"
         "USEFILLBYTE=1|FILLBYTE=255|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|"
         "SERVICEJOB=0",
         0x18DA0FF1, 0x18DAF10F, 500, "", 0x1F, 0, true, 0, false, 0},
    };
    for (const Defaults& c : cases) {
        const auto ecu = MakeUdsModel(c.keyword);
        ASSERT_NE(ecu, nullptr) << c.keyword;
        if (c.parameterString != nullptr) {
            EXPECT_EQ(ecu->GetParameterString(), c.parameterString);
        }
        const UdsParameterBlock& uds = ecu->Parameters().uds;
        EXPECT_EQ(uds.requestId, c.requestId) << c.keyword;
        EXPECT_EQ(uds.responseId, c.responseId) << c.keyword;
        EXPECT_EQ(uds.reboot, 300) << c.keyword;
        EXPECT_EQ(uds.keepAliveMode, 0) << c.keyword;
        EXPECT_EQ(uds.timeouts.singleRequest, c.singleRequestTimeout) << c.keyword;
        EXPECT_EQ(uds.timeouts.upload, 120000) << c.keyword;
        EXPECT_EQ(uds.timeouts.download, 600000) << c.keyword;
        EXPECT_EQ(uds.timeouts.job, 180000) << c.keyword;
        EXPECT_EQ(ecu->Ident(CEcu::kIdentMaker), c.maker) << c.keyword;
        EXPECT_EQ(ecu->Ident(CEcu::kIdentSerialNumber), "XXXXX") << c.keyword;
        EXPECT_EQ(EnabledSteps(*ecu), c.enabledSteps) << c.keyword;
        EXPECT_EQ(uds.programmingAccess, c.programmingAccess) << c.keyword;
        EXPECT_EQ(uds.crcInDependencyCheck, c.crcInDependencyCheck) << c.keyword;
        EXPECT_EQ(ecu->Parameters().downloadOption, c.downloadOption) << c.keyword;
        EXPECT_EQ(!uds.fingerprint60.empty(), c.fingerprint) << c.keyword;
        EXPECT_EQ(!uds.fingerprint25.empty(), c.fingerprint) << c.keyword;
        EXPECT_EQ(uds.memoryLength, c.memoryLength) << c.keyword;
        EXPECT_EQ(uds.uploadType, 3) << c.keyword;
        EXPECT_FALSE(uds.prePostProgramming) << c.keyword;
        ASSERT_EQ(ecu->Upload().header.size(), 4u) << c.keyword;
        EXPECT_EQ(ecu->Upload().header[0], "[KOBOLD]");
        EXPECT_EQ(ecu->Upload().header[1], "4.x");
        EXPECT_EQ(ecu->Upload().header[2], "3");
    }
}

TEST(UdsModelParameterTest, KeysAndValues) {
    struct Case {
        const char* parameter;
        bool accepted;
        // Checked only when accepted.
        const char* parameterString;
    };
    const Case cases[] = {
        // Identifiers: the defaults given back, with and without "0x" / "h", blanks removed.
        {"T6X|ECU_TESTER_PHYSICAL=0x18DAF103,0x18DA03F1", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|"},
        {"T6X|ECU_TESTER_PHYSICAL= 18DAF133h , 0x18da33f1h", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF133h|TESTER=0x18DA33F1h|"},
        {"T6X|ECU_TESTER_PHYSICAL=0x18DAF133", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF133h|TESTER=0x18DA03F1h|"},
        {"T6X|ECU_TESTER_PHYSICAL=,0x18DA33F1", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA33F1h|"},
        {"T6X|ECU_TESTER_PHYSICAL=0x18DAF1G3,0x18DA03F1", false, nullptr},
        {"T6X|ECU_TESTER_PHYSICAL=0x18DAF103,0x18DA03F1,0x1", false, nullptr},
        {"T6X|ECU_TESTER_PHYSICAL=0x20000000", false, nullptr},  // beyond 29 bits
        {"T6X|TESTER_FUNCTIONAL=0x18DB33F1h", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DB33F1h|"},
        {"T6X|TESTER_FUNCTIONAL=", false, nullptr},
        // Decimal numbers and their ranges.
        {"T6X|REBOOT=1500|USEFILLBYTE=1|FILLBYTE=0", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|REBOOT=1500|"
         "USEFILLBYTE=1|FILLBYTE=0|"},
        {"T6X|USEFILLBYTE=7", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|REBOOT=300|"
         "USEFILLBYTE=1|"},
        {"T6X|REBOOT=-1", false, nullptr},
        {"T6X|REBOOT=abc", false, nullptr},
        {"T6X|FILLBYTE=256", false, nullptr},
        // Permissions: "0" clears, anything else sets.
        {"T6X|SERVICEJOB=yes|SERVICEUPLOAD=1|SERVICESINGLEREQUEST=0", true,
         "T6X|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|REBOOT=300|"
         "USEFILLBYTE=0|FILLBYTE=255|SERVICESINGLEREQUEST=0|SERVICEUPLOAD=1|SERVICEDOWNLOAD=0|"
         "SERVICEJOB=1"},
        {"T60.1|SERVICEDOWNLOAD=0", true,
         "T60.1|UDS_ISO_14229|ECU=0x18DAF103h|TESTER=0x18DA03F1h|FTESTER=0x18DBFFF1h|REBOOT=300|"
         "USEFILLBYTE=0|FILLBYTE=255|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|SERVICEDOWNLOAD=0|"},
        {"T6X||NOVALUE|=ignored|", true, "T6X|UDS_ISO_14229|"},  // empty key accepted
        {"T6X|service=1", false, nullptr},                       // keys are case-sensitive
        {"T6X|TIMEOUT_SERVICEOTHER=5", false, nullptr},
        {"T6X|TIMEOUT_SERVICESINGLEREQUEST=-5", false, nullptr},
        {"T6X|TESTERPRESENT=3", false, nullptr},
        {"T6X|UPLOADDTC=0x100", false, nullptr},
        {"T6X|UPLOADSID=22_F1_90,ZZ", false, nullptr},
    };
    for (const Case& c : cases) {
        const auto ecu = MakeUdsModel(c.parameter);
        ASSERT_NE(ecu, nullptr) << c.parameter;
        EXPECT_EQ(ecu->IsCreated(), c.accepted) << c.parameter;
        if (c.accepted) {
            EXPECT_EQ(ecu->GetParameterString().rfind(c.parameterString, 0), 0u)
                << c.parameter << " gives " << ecu->GetParameterString();
        }
    }
}

TEST(UdsModelParameterTest, ValuesReachTheParameterBlock) {
    const auto ecu = MakeUdsModel(
        "T60.1|TIMEOUT_SERVICESINGLEREQUEST=2500|TIMEOUT_SERVICEUPLOAD=1000|"
        "TIMEOUT_SERVICEDOWNLOAD=2000|TIMEOUT_SERVICEJOB=3000|TESTERPRESENT=2|UPLOADDTC=0x2Fh|"
        "UPLOADSID=22_F1_90,,19_0a|SERVICEDOWNLOAD_COMPLETE_SEQUENCE=1|USER=jdoe");
    ASSERT_NE(ecu, nullptr);
    ASSERT_TRUE(ecu->IsCreated());
    const UdsParameterBlock& uds = ecu->Parameters().uds;
    EXPECT_EQ(uds.timeouts.singleRequest, 2500);
    EXPECT_EQ(uds.timeouts.upload, 1000);
    EXPECT_EQ(uds.timeouts.download, 2000);
    EXPECT_EQ(uds.timeouts.job, 3000);
    EXPECT_EQ(uds.timeouts.ForCommand(kCommandKeepAlive), 2500);
    EXPECT_EQ(uds.keepAliveMode, 2);
    EXPECT_EQ(uds.dtcStatusMask, 0x2F);
    EXPECT_EQ(uds.sidRequests, (std::vector<std::string>{"22 F1 90", "19 0A"}));
    EXPECT_TRUE(uds.prePostProgramming);
    EXPECT_EQ(ecu->User(), "jdoe");
    EXPECT_EQ(ecu->Upload().header[3], std::string("jdoe@") + CEcu::kMailDomain);
    // The user signs the fingerprints too.
    EXPECT_NE(uds.fingerprint60.find(" 6A 64 6F 65 "), std::string::npos) << uds.fingerprint60;

    // Any value other than 1 switches the complete sequence off again.
    EXPECT_EQ(ecu->SetParameter("SERVICEDOWNLOAD_COMPLETE_SEQUENCE", "yes"), 0);
    EXPECT_FALSE(ecu->Parameters().uds.prePostProgramming);
    // A rejected value leaves the setting alone.
    EXPECT_EQ(ecu->SetParameter("ECU_TESTER_PHYSICAL", "0x18DAF133,zz"), -3);
    EXPECT_EQ(ecu->Parameters().uds.responseId, 0x18DAF103u);
    EXPECT_EQ(ecu->Parameters().uds.requestId, 0x18DA03F1u);
}

TEST(UdsModelParameterTest, CreationStringCanGrantPermissions) {
    const auto a = MakeUdsModel("T60.1_UDS_A|SERVICEUPLOAD=1");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->UploadAllowed());
    EXPECT_FALSE(MakeUdsModel("T60.1_UDS_A")->UploadAllowed());

    const auto motor = MakeUdsModel("VOLTARIS_R61_MOTORCONTROLLER|SERVICESINGLEREQUEST=1");
    ASSERT_NE(motor, nullptr);
    EXPECT_TRUE(motor->SingleRequestAllowed());
    EXPECT_FALSE(motor->UploadAllowed());
    EXPECT_FALSE(MakeUdsModel("VOLTARIS_R61_MOTORCONTROLLER")->SingleRequestAllowed());
}

TEST(UdsModelConnectTest, WithoutCommunicationObject) {
    EXPECT_EQ(MakeUdsModel("T60.1")->Connect(), -7);
}

TEST(UdsModelConnectTest, HandsItsParametersToTheCommunicationObject) {
    testing::EventRecorder events;
    testing::FakeProtocol protocol(&events, "FAKE");
    const auto first = MakeUdsModel("TCX|TIMEOUT_SERVICEUPLOAD=4321", &protocol);
    const auto second =
        MakeUdsModel("T60.1|TIMEOUT_SERVICESINGLEREQUEST=2500|TESTERPRESENT=1", &protocol);
    ASSERT_TRUE(first && second);

    ASSERT_EQ(first->Connect(), 0);
    EXPECT_EQ(protocol.AttachedEcu(), first.get());
    EXPECT_EQ(protocol.Parameters().uds.timeouts.upload, 4321);
    EXPECT_EQ(protocol.Parameters().uds.requestId, 0x18DA0FF1u);

    ASSERT_EQ(second->Connect(), 0);
    EXPECT_EQ(protocol.AttachedEcu(), second.get());
    const UdsParameterBlock& uds = protocol.Parameters().uds;
    EXPECT_EQ(uds.timeouts.singleRequest, 2500);
    EXPECT_EQ(uds.timeouts.ForCommand(kCommandSingleRequest), 2500);
    EXPECT_EQ(uds.timeouts.ForCommand(kCommandUpload), 120000);
    EXPECT_EQ(uds.keepAliveMode, 1);
    EXPECT_EQ(uds.fingerprint60, second->Parameters().uds.fingerprint60);
    EXPECT_EQ(uds.memoryStart, 0x400180u);
    EXPECT_EQ(second->LastOrder().command, kCommandConnect);
}

// ---------------------------------------------------------------- shared routines

TEST(UdsModelRoutinesTest, KeysOfKnownSeeds) {
    struct Case {
        uint32_t seed;
        KeyConstants constants;
        uint16_t key16;
        uint32_t key32;
    };
    const Case cases[] = {
        {0x1234, {3517, 2741}, 0x1F19, 0x00FA1F19},
        {0xFFFF, {2903, 1187}, 0xF94C, 0x0B56F94C},
        {0xABCD, {0, 0}, 0x0000, 0x00000000},
        {0x0000, {1597, 2609}, 0x0A31, 0x00000A31},
        {0x12345678, {2777, 1321}, 0x00E1, 0x79BE00E1},
        {0xFFFFFFFF, {3181, 4273}, 0x0444, 0x00000444},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CEcuUdsModel::Key16(static_cast<uint16_t>(c.seed), c.constants), c.key16)
            << std::hex << c.seed;
        EXPECT_EQ(CEcuUdsModel::Key32(c.seed, c.constants), c.key32) << std::hex << c.seed;
    }
}

TEST(UdsModelRoutinesTest, DatesAndFingerprintRecords) {
    const CalendarDate date{2014, 3, 27};
    EXPECT_EQ(CEcuUdsModel::DateBinary(date), "0E 03 1B");
    EXPECT_EQ(CEcuUdsModel::DateDecimal(date), "14 03 27");
    EXPECT_EQ(CEcuUdsModel::DateDecimal({2009, 12, 1}), "09 12 01");
    EXPECT_EQ(CEcuUdsModel::FingerprintRecord(date, "ab", 10), "20 14 03 27 01 02 03 04 61 62");
    EXPECT_EQ(CEcuUdsModel::FingerprintRecord(date, "ab", 12),
              "20 14 03 27 01 02 03 04 61 62 00 00");
    EXPECT_EQ(CEcuUdsModel::FingerprintRecord(date, "abcdef", 9), "20 14 03 27 01 02 03 04 61");
    const std::string longRecord = CEcuUdsModel::FingerprintRecord(date, "", 60);
    EXPECT_EQ(longRecord.size(), 60u * 3 - 1);

    const CalendarDate today = CEcuUdsModel::Today();
    EXPECT_GE(today.year, 2024);
    EXPECT_GE(today.month, 1);
    EXPECT_LE(today.month, 12);
    EXPECT_GE(today.day, 1);
    EXPECT_LE(today.day, 31);
}

TEST(UdsModelRoutinesTest, MemoryAsIntelHex) {
    struct Case {
        const char* name;
        uint32_t start;
        uint32_t recordLength;
        std::vector<std::string> lines;
        const char* text;
    };
    const Case cases[] = {
        {"two records",
         0x400180,
         4,
         {"63 01 02 03 04", "63 AA BB"},
         "[FRAM]|:020000040040BA|:040180000102030471|:02018400AABB14|:00000001FF|"},
        {"segment crossed",
         0x40FFFE,
         4,
         {"63 01 02 03 04"},
         "[FRAM]|:020000040040BA|:02FFFE000102FE|:020000040041B9|:020000000304F7|"
         ":00000001FF|"},
        {"unusable lines keep their address",
         0x0100,
         2,
         {"7F 23 31", "63", "6301", "63 0A 0B 0C"},
         "[FRAM]|:020000040000FA|:020106000A0BE2|:00000001FF|"},
        {"nothing read", 0x400180, 0x80, {}, "[FRAM]|:020000040040BA|:00000001FF|"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CEcuUdsModel::IntelHexSection("[FRAM]", c.start, c.recordLength, c.lines), c.text)
            << c.name;
    }
}

}  // namespace
}  // namespace diagbridge
