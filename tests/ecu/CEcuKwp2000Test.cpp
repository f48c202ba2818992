#include "ecu/CEcuKwp2000.h"

#include <gtest/gtest.h>

#include <memory>

#include "ecu/CEcuLuma.h"
#include "ecu/CEcuT6xKwp2000.h"
#include "ecu/EcuTypeRegistry.h"
#include "ecu/KwpKeyRoutines.h"
#include "ecu/KwpStandIn.h"

namespace diagbridge {
namespace {

using testing::KwpStandIn;

std::unique_ptr<CEcuKwp2000> Create(const std::string& keyword, const std::string& parameter,
                                    CSoftwareInterface* communication = nullptr) {
    std::unique_ptr<CEcu> ecu =
        CreateEcuObject(EcuTypeTable(), keyword, kProtocolKwp2000, communication, parameter);
    auto* kwp = dynamic_cast<CEcuKwp2000*>(ecu.get());
    if (kwp == nullptr) return nullptr;
    ecu.release();
    return std::unique_ptr<CEcuKwp2000>(kwp);
}

struct DefaultsCase {
    const char* keyword;
    uint8_t ecu;
    uint8_t tester;
    int32_t addressCount;
    bool scanAll;
    uint8_t oem0;
    uint8_t oem1;
    uint32_t uploadStart;
    uint32_t uploadLength;
    uint8_t pieceBytes;
    bool upload;
    bool download;
    bool job;
    const char* parameterString;
};

const DefaultsCase kDefaults[] = {
    {"T6X", 0x18, 0xFA, 1, false, 0xFA, 0xF0, 0x400180, 0x7EE0, 128, true, true, true,
     "T6X|KWP2000|ECU=0x18h|TESTER=0xFAh|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|"
     "SERVICEDOWNLOAD=1|SERVICEJOB=1"},
    {"T60", 0x18, 0xFA, 1, false, 0xFA, 0xF0, 0x400180, 0x7EE0, 128, true, true, true,
     "T60|KWP2000|ECU=0x18h|TESTER=0xFAh|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|"
     "SERVICEDOWNLOAD=1|SERVICEJOB=1"},
    {"T60.1", 0x18, 0xFA, 1, false, 0xFA, 0xF0, 0x400180, 0x7EE0, 128, true, true, true,
     "T60.1|KWP2000|ECU=0x18h|TESTER=0xFAh|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|"
     "SERVICEDOWNLOAD=1|SERVICEJOB=1"},
    {"T65", 0x18, 0xFA, 1, false, 0xFA, 0xF0, 0x400180, 0xFEE0, 128, true, true, true,
     "T65|KWP2000|ECU=0x18h|TESTER=0xFAh|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|"
     "SERVICEDOWNLOAD=1|SERVICEJOB=1"},
    {"T61", 0x18, 0xFA, 1, false, 0xFA, 0xF0, 0x400180, 0xFE80, 128, true, true, true,
     "T61|KWP2000|ECU=0x18h|TESTER=0xFAh|SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|"
     "SERVICEDOWNLOAD=1|SERVICEJOB=1"},
    {"R6X", 0xEF, 0xFA, 1, false, 0xFA, 0x00, 0x400180, 0xFE80, 128, true, true, true,
     "R6X|KWP2000|ECU=0xEFh|TESTER=0xFAh|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=1"},
    {"R60", 0xEF, 0xFA, 1, false, 0xFA, 0x00, 0x400180, 0xFE80, 128, true, true, true,
     "R60|KWP2000|ECU=0xEFh|TESTER=0xFAh|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "SERVICESINGLEREQUEST=1|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=1"},
    {"LUMAXX", 0x29, 0xF0, 5, true, 0x00, 0x00, 0x800000, 2048, 16, false, false, false,
     "LUMAXX|KWP2000|ECU=0x29h|TESTER=0xF0h|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "FRAMADR=0x800000h|FRAMSIZE=0x800h|SERVICEUPLOAD=0|SERVICEDOWNLOAD=0|SERVICEJOB=0"},
    {"LUMA_STANDARD", 0x29, 0xF0, 1, false, 0x00, 0x00, 0x800000, 2048, 16, true, true, false,
     "LUMAXX|KWP2000|ECU=0x29h|TESTER=0xF0h|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "FRAMADR=0x800000h|FRAMSIZE=0x800h|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=0"},
    {"LUMA_DAG", 0x29, 0xF0, 1, false, 0x00, 0x00, 0x800000, 2048, 16, true, true, false,
     "LUMAXX|KWP2000|ECU=0x29h|TESTER=0xF0h|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "FRAMADR=0x800000h|FRAMSIZE=0x800h|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=0"},
    {"LUMA_MAN_MARIVANE", 0x2C, 0xF0, 1, false, 0x00, 0x00, 0x800000, 2048, 16, true, true, false,
     "LUMAXX|KWP2000|ECU=0x2Ch|TESTER=0xF0h|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "FRAMADR=0x800000h|FRAMSIZE=0x800h|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=0"},
    {"LUMA_MAN_RETARDER", 0x2D, 0xF0, 1, false, 0x00, 0x00, 0x800000, 2048, 16, true, true, false,
     "LUMAXX|KWP2000|ECU=0x2Dh|TESTER=0xF0h|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "FRAMADR=0x800000h|FRAMSIZE=0x800h|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=0"},
    {"LUMA_KODIERSTATION", 0x2F, 0xFD, 1, false, 0x00, 0x00, 0x800000, 2048, 16, true, true, false,
     "LUMAXX|KWP2000|ECU=0x2Fh|TESTER=0xFDh|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "FRAMADR=0x800000h|FRAMSIZE=0x800h|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=0"},
    {"LUMA_PROTOTYPE", 0xFF, 0xF0, 1, false, 0x00, 0x00, 0x800000, 2048, 16, true, true, false,
     "LUMAXX|KWP2000|ECU=0xFFh|TESTER=0xF0h|P2MIN=5|P2MAX=50|P3MIN=0|P3MAX=5000|P4MIN=0|"
     "FRAMADR=0x800000h|FRAMSIZE=0x800h|SERVICEUPLOAD=1|SERVICEDOWNLOAD=1|SERVICEJOB=0"},
};

TEST(CEcuKwp2000Test, DefaultsOfEveryModel) {
    for (const DefaultsCase& c : kDefaults) {
        SCOPED_TRACE(c.keyword);
        const auto ecu = Create(c.keyword, c.keyword);
        ASSERT_NE(ecu, nullptr);
        EXPECT_TRUE(ecu->IsCreated());
        EXPECT_EQ(ecu->Keyword(), c.keyword);
        EXPECT_EQ(ecu->Ident(CEcu::kIdentObjectType), c.keyword);
        EXPECT_EQ(ecu->Ident(CEcu::kIdentProtocol), "KWP2000");
        EXPECT_EQ(ecu->Ident(CEcu::kIdentHardware), "XXXXX");
        const KwpParameterBlock& kwp = ecu->Parameters().kwp;
        EXPECT_EQ(kwp.ecuAddress, c.ecu);
        EXPECT_EQ(kwp.testerAddress, c.tester);
        EXPECT_EQ(kwp.addressCount, c.addressCount);
        EXPECT_EQ(kwp.addressTable[0].ecuAddress, c.ecu);
        EXPECT_EQ(kwp.addressTable[0].testerAddress, c.tester);
        EXPECT_EQ(kwp.addressTable[0].found, 0);
        EXPECT_EQ(kwp.foundEntry, 0);
        EXPECT_EQ(kwp.scanAllAddresses, c.scanAll);
        EXPECT_EQ(kwp.OemTester(0), c.oem0);
        EXPECT_EQ(kwp.OemTester(1), c.oem1);
        EXPECT_EQ(kwp.OemTester(16), 0);  // outside the table: keep the tester
        EXPECT_EQ(kwp.OemTester(-1), 0);
        EXPECT_EQ(kwp.p2Min, 5);
        EXPECT_EQ(kwp.p2Max, 50);
        EXPECT_EQ(kwp.p3Min, 0);
        EXPECT_EQ(kwp.p3Max, 5000);
        EXPECT_EQ(kwp.p4Min, 0);
        EXPECT_EQ(kwp.timeouts.singleRequest, 500);
        EXPECT_EQ(kwp.timeouts.upload, 120000);
        EXPECT_EQ(kwp.timeouts.download, 600000);
        EXPECT_EQ(kwp.timeouts.job, 14);
        EXPECT_EQ(kwp.uploadStart, c.uploadStart);
        EXPECT_EQ(kwp.uploadLength, c.uploadLength);
        EXPECT_EQ(kwp.UploadPieceBytes(), c.pieceBytes);
        EXPECT_TRUE(kwp.framAvailable);
        EXPECT_TRUE(kwp.sidRequests.empty());
        EXPECT_TRUE(ecu->SingleRequestAllowed());
        EXPECT_EQ(ecu->UploadAllowed(), c.upload);
        EXPECT_EQ(ecu->DownloadAllowed(), c.download);
        EXPECT_EQ(ecu->JobAllowed(), c.job);
        EXPECT_EQ(ecu->GetParameterString(), c.parameterString);
    }
}

TEST(CEcuKwp2000Test, T6xAndR6xDownloadAreas) {
    for (const char* keyword : {"T6X", "T60", "T65", "R60"}) {
        SCOPED_TRACE(keyword);
        const auto ecu = Create(keyword, keyword);
        ASSERT_NE(ecu, nullptr);
        const KwpParameterBlock& kwp = ecu->Parameters().kwp;
        EXPECT_EQ(kwp.swDownloadArea.address, 0xFFFFFFu);
        EXPECT_EQ(kwp.swDownloadArea.format, 0xFF);
        EXPECT_EQ(kwp.swDownloadArea.size, 0xFFFFFFu);
        EXPECT_EQ(kwp.dsDownloadArea.address, 0x405E00u);
        EXPECT_EQ(kwp.dsDownloadArea.format, 0xFF);
        EXPECT_EQ(kwp.dsDownloadArea.size, 0xFFFFFFu);
        EXPECT_EQ(kwp.framAddress, 0x400180u);
        EXPECT_EQ(kwp.framSize, 0xFE80u);
    }
}

// Parameter strings every KWP2000 family reads the same way.
struct ParameterCase {
    const char* parameter;
    bool created;
};

TEST(CEcuKwp2000Test, AcceptsOrRejectsParameterStrings) {
    const ParameterCase cases[] = {
        {"T60", true},
        {"T60|KWP2000", true},  // a token without "=" is ignored
        {"T60|SERVICESINGLEREQUEST=0", true},
        {"T60|ECU_TESTER=0x20h,0xF1h", true},
        {"T60|ECU_TESTER=32,241", true},
        {"T60|ECU_TESTER=0x100h", false},
        {"T60|ECU_TESTER=0x20h,0xF1h,0x01h", false},
        {"T60|ECU_TESTER=FA", false},  // hex needs 0x or h
        {"T60|ECU=0x33h|TESTER=0xF1h", true},
        {"T60|ECU=256", false},
        {"T60|P2MIN=-1", false},
        {"T60|TIMEOUT_SERVICEJOB=0", false},
        {"T60|TIMEOUT_SERVICEOTHER=100", false},
        {"T60|FRAMADR=0x1000000h", false},
        {"T60|UPLOADSID=1A_80,21_01", true},
        {"T60|UPLOADSID=1A_XY", false},
        {"T60|UNKNOWN=1", false},
        {"T65", false},  // another model's keyword
        {"t60", false},
        {"", false},
    };
    for (const ParameterCase& c : cases) {
        SCOPED_TRACE(c.parameter);
        CEcuT60Kwp2000 ecu(nullptr, c.parameter);
        EXPECT_EQ(ecu.IsCreated(), c.created);
    }
}

TEST(CEcuKwp2000Test, TwoAddressPairsAreScanned) {
    CEcuT60Kwp2000 ecu(nullptr, "T60|ECU_TESTER=0x20h,0xF1h|ECU_TESTER=0x21h");
    ASSERT_TRUE(ecu.IsCreated());
    const KwpParameterBlock& kwp = ecu.Parameters().kwp;
    EXPECT_EQ(kwp.addressCount, 2);
    EXPECT_EQ(kwp.addressTable[0].ecuAddress, 0x20);
    EXPECT_EQ(kwp.addressTable[0].testerAddress, 0xF1);
    EXPECT_EQ(kwp.addressTable[1].ecuAddress, 0x21);
    EXPECT_EQ(kwp.addressTable[1].testerAddress, 0xFA);  // the family's default tester
    EXPECT_EQ(kwp.ecuAddress, 0x20);
    EXPECT_EQ(kwp.testerAddress, 0xF1);
}

TEST(CEcuKwp2000Test, KeysSetTheirValues) {
    CEcuT60Kwp2000 ecu(nullptr,
                       "T60|P2MIN=7|P2MAX=60|P3MIN=1|P3MAX=3000|P4MIN=2|FRAMADR=0x400000h|"
                       "FRAMSIZE=4096|UPLOADSID=1A_80,, 21_01 |SERVICEUPLOAD=0|SERVICEJOB=0|"
                       "TIMEOUT_SERVICESINGLEREQUEST=750|TIMEOUT_SERVICEUPLOAD=1000|"
                       "TIMEOUT_SERVICEDOWNLOAD=2000|TIMEOUT_SERVICEJOB=3000");
    ASSERT_TRUE(ecu.IsCreated());
    const KwpParameterBlock& kwp = ecu.Parameters().kwp;
    EXPECT_EQ(kwp.p2Min, 7);
    EXPECT_EQ(kwp.p2Max, 60);
    EXPECT_EQ(kwp.p3Min, 1);
    EXPECT_EQ(kwp.p3Max, 3000);
    EXPECT_EQ(kwp.p4Min, 2);
    EXPECT_EQ(kwp.framAddress, 0x400000u);
    EXPECT_EQ(kwp.framSize, 4096u);
    EXPECT_EQ(kwp.uploadStart, 0x400180u);  // the T6x FRAM keys leave the upload area
    EXPECT_EQ(kwp.sidRequests, (std::vector<std::string>{"1A_80", "21_01"}));
    EXPECT_FALSE(ecu.UploadAllowed());
    EXPECT_TRUE(ecu.DownloadAllowed());
    EXPECT_FALSE(ecu.JobAllowed());
    EXPECT_EQ(kwp.timeouts.singleRequest, 750);
    EXPECT_EQ(kwp.timeouts.upload, 1000);
    EXPECT_EQ(kwp.timeouts.download, 2000);
    EXPECT_EQ(kwp.timeouts.job, 3000);
}

TEST(CEcuKwp2000Test, TooManySidRequestsAreRejected) {
    std::string list;
    for (int i = 0; i < 256; ++i) list += "3E,";
    EXPECT_FALSE(CEcuT60Kwp2000(nullptr, "T60|UPLOADSID=" + list).IsCreated());
    list.resize(list.size() - 3);
    EXPECT_TRUE(CEcuT60Kwp2000(nullptr, "T60|UPLOADSID=" + list).IsCreated());
}

TEST(CEcuKwp2000Test, TheAddressTableHoldsAtMost256Pairs) {
    std::string parameter = "T6X";
    for (int i = 0; i < 256; ++i) parameter += "|ECU_TESTER=0x18h";
    EXPECT_TRUE(CEcuT6xKwp2000(nullptr, parameter).IsCreated());
    EXPECT_FALSE(CEcuT6xKwp2000(nullptr, parameter + "|ECU_TESTER=0x18h").IsCreated());
}

// What a model reports can be given back to a model of the same keyword.
TEST(CEcuKwp2000Test, ParameterStringReadsBack) {
    for (const char* keyword : {"T6X", "T60", "T60.1", "T65", "T61", "R6X", "R60"}) {
        SCOPED_TRACE(keyword);
        const auto first = Create(keyword, std::string(keyword) +
                                               "|ECU=0x05h|TESTER=0xF1h|SERVICESINGLEREQUEST=0|"
                                               "SERVICEDOWNLOAD=0|P2MIN=9");
        ASSERT_NE(first, nullptr);
        ASSERT_TRUE(first->IsCreated());
        const auto second = Create(keyword, first->GetParameterString());
        ASSERT_NE(second, nullptr);
        EXPECT_TRUE(second->IsCreated()) << first->GetParameterString();
        EXPECT_EQ(second->GetParameterString(), first->GetParameterString());
        EXPECT_EQ(second->Parameters().kwp.addressTable[0].ecuAddress, 0x05);
    }
}

TEST(CEcuKwp2000Test, ConnectHandsTheTimeoutsToTheCommunicationObject) {
    KwpStandIn communication;
    CEcuT60Kwp2000 ecu(&communication, "T60|TIMEOUT_SERVICESINGLEREQUEST=750|P2MAX=70");
    ASSERT_EQ(ecu.Connect(), 0);
    EXPECT_EQ(communication.handedOver.kwp.timeouts.singleRequest, 750);
    EXPECT_EQ(communication.handedOver.kwp.timeouts.download, 600000);
    EXPECT_EQ(communication.handedOver.kwp.p2Max, 70);
    EXPECT_EQ(communication.handedOver.kwp.addressTable[0].ecuAddress, 0x18);
    EXPECT_EQ(communication.AttachedEcu(), &ecu);
    ServiceOrder order;
    order.command = kCommandSingleRequest;
    EXPECT_EQ(ecu.RunService(order), 0);
    EXPECT_EQ(communication.lastTimeoutMs, 750);
}

TEST(CEcuKwp2000Test, ConnectWithoutCommunicationObjectFails) {
    CEcuT60Kwp2000 t60(nullptr, "T60");
    CEcuLumaStandard luma(nullptr, "LUMA_STANDARD");
    EXPECT_EQ(t60.Connect(), -7);
    EXPECT_EQ(luma.Connect(), -7);
}

TEST(CEcuKwp2000Test, ConnectReportsTheServiceResult) {
    KwpStandIn communication;
    communication.connectResult = -2;
    CEcuT65Kwp2000 ecu(&communication, "T65");
    EXPECT_EQ(ecu.Connect(), -2);
}

// The access service asks the model while its order runs: the OEM id comes from the order.
TEST(CEcuKwp2000Test, AccessRequestsFollowTheRunningOrder) {
    KwpStandIn communication;
    CEcuT60Kwp2000 ecu(&communication, "T60");
    ASSERT_EQ(ecu.Connect(), 0);
    communication.seed = 0x1234;
    ServiceOrder order;
    order.command = kCommandSetDiagnosticAccess;
    order.predefinedSession = kExplicitAccess;
    order.oemId = 1;
    order.diagnosticMode = 0x85;
    ASSERT_EQ(ecu.RunService(order), 0);
    EXPECT_EQ(communication.seedRequest, "27 01");
    EXPECT_EQ(communication.keyRequest, "27 02 0F 96");
    order.oemId = 2;
    ASSERT_EQ(ecu.RunService(order), 0);
    EXPECT_EQ(communication.seedRequest, "");
    EXPECT_EQ(communication.keyRequest, "");
}

}  // namespace
}  // namespace diagbridge
