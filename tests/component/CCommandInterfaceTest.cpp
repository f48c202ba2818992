#include "component/CCommandInterface.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include "ecu/CEcu.h"
#include "support/EventRecorder.h"
#include "support/FakeProtocol.h"
#include "support/FakeRegistry.h"

namespace diagbridge {
namespace {

using testing::EventRecorder;
using testing::FakeRegistry;

class CommandInterfaceTest : public ::testing::Test {
  protected:
    CommandInterfaceTest() : component(FakeRegistry()) {}

    int32_t CreateCommunication(const std::string& parameter = "FAKE") {
        int32_t id = 0;
        EXPECT_EQ(component.DbrCreateCommunicationObject(parameter, &id), 0);
        return id;
    }
    int32_t CreateEcu(int32_t communicationId, const std::string& parameter = "FAKE_ECU") {
        int32_t id = 0;
        EXPECT_EQ(component.DbrCreateEcuObject(parameter, communicationId, &id), 0);
        return id;
    }
    int32_t ConnectedEcu(const std::string& parameter = "FAKE_ECU") {
        const int32_t ecu = CreateEcu(CreateCommunication(), parameter);
        int32_t result = 0;
        component.DbrConnect(ecu, &result);
        EXPECT_EQ(result, 0);
        return ecu;
    }
    std::string Request(int32_t ecu, const std::string& request, int32_t* result) {
        std::string response;
        EXPECT_EQ(component.DbrSingleRequest(ecu, request, &response, result), 0);
        return response;
    }

    CCommandInterface component;
};

TEST_F(CommandInterfaceTest, VersionNamesTheFileAndFourNumbers) {
    std::string version;
    EXPECT_EQ(component.DbrGetVersion("", &version), 0);
    EXPECT_TRUE(std::regex_match(version, std::regex(R"(\S+ \d+\.\d+\.\d+\.\d+)"))) << version;
    const int32_t id = CreateCommunication();
    std::string withDevices;
    component._DbrGetVersion(id, &withDevices);
    EXPECT_EQ(withDevices, version + "|FAKE adapter");
    component._DbrGetVersion(77, &withDevices);
    EXPECT_EQ(withDevices, version);
}

TEST_F(CommandInterfaceTest, CommunicationObjectCreation) {
    struct Case {
        const char* parameter;
        int32_t result;
    };
    const Case cases[] = {
        {"FAKE", 0},                // the keyword alone: an empty key is accepted
        {"FAKE|TRACE=1|", 1},       // trailing bar
        {"FAKE|UNKNOWN=1", -3},     // unknown key
        {"NOT_A_PROTOCOL", -3},     // unknown keyword
        {"fake", -3},               // keywords are case-sensitive
        {"FAKE|FAILCREATE=1", -7},  // create command failed: no id
        {"UDS_ISO_14229", -7},      // stack not built into this registry row yet
        {"FAKE", 2},                // rejected ones took no index
    };
    for (const Case& c : cases) {
        int32_t id = 99;
        EXPECT_EQ(component.DbrCreateCommunicationObject(c.parameter, &id), 0);
        EXPECT_EQ(id, c.result) << c.parameter;
    }
    EXPECT_EQ(component.CommunicationObjectCount(), 3);
}

TEST_F(CommandInterfaceTest, TheTableHolds256CommunicationObjects) {
    for (int32_t i = 0; i < 256; ++i) ASSERT_EQ(CreateCommunication(), i);
    EXPECT_EQ(CreateCommunication(), -7);
    EXPECT_EQ(component.CommunicationObjectCount(), 256);
}

TEST_F(CommandInterfaceTest, DeletingInTheMiddleKeepsIdsStable) {
    for (int32_t i = 0; i < 4; ++i) CreateCommunication("FAKE|PORT=" + std::to_string(i));
    int32_t result = 1;
    component.DbrDeleteCommunicationObject(1, &result);
    EXPECT_EQ(result, 0);
    component.DbrDeleteCommunicationObject(1, &result);
    EXPECT_EQ(result, -7);
    // The free index is reused; the objects after it keep theirs.
    EXPECT_EQ(CreateCommunication("FAKE|PORT=9"), 1);
    EXPECT_EQ(CreateCommunication(), 4);
    std::string info;
    component.DbrGetConfiguration(3, &info, &result);
    EXPECT_EQ(info, "FAKE|PORT=3|TRACE=0|PROGRESS=0|STATUS=0");
    component.DbrGetConfiguration(1, &info, &result);
    EXPECT_EQ(info, "FAKE|PORT=9|TRACE=0|PROGRESS=0|STATUS=0");
}

TEST_F(CommandInterfaceTest, EcuIdsRangeFrom1000To1255) {
    const int32_t communication = CreateCommunication();
    for (int32_t i = 0; i < 256; ++i) ASSERT_EQ(CreateEcu(communication), 1000 + i);
    EXPECT_EQ(CreateEcu(communication), -7);
    int32_t result = 0;
    for (int32_t id : {999, 1256, -1, 0}) {
        component.DbrDeleteEcuObject(id, &result);
        EXPECT_EQ(result, -7) << id;
    }
    for (int32_t id : {1000, 1255}) {
        component.DbrDeleteEcuObject(id, &result);
        EXPECT_EQ(result, 0) << id;
    }
    EXPECT_EQ(CreateEcu(communication), 1000);
    EXPECT_EQ(component.EcuObjectCount(), 255);
}

TEST_F(CommandInterfaceTest, EcuCreationChecksKeywordAndProtocol) {
    const int32_t communication = CreateCommunication();
    EXPECT_EQ(CreateEcu(communication, "FAKE_KWP_ONLY"), -7);        // model of another protocol
    EXPECT_EQ(CreateEcu(communication, "T60.1_UDS_B|BOGUS=1"), -3);  // a UDS model refuses
    EXPECT_EQ(CreateEcu(communication, "NOPE"), -7);
    EXPECT_EQ(CreateEcu(communication, "FAKE_ECU|BOGUS=1"), -3);
    EXPECT_EQ(CreateEcu(5, "FAKE_ECU"), -7);
    EXPECT_EQ(CreateEcu(-1, "FAKE_ECU"), -7);
    EXPECT_EQ(CreateEcu(communication), 1000);
}

TEST_F(CommandInterfaceTest, ConfigurationOfFreeOrOutOfRangeIdsIsEmpty) {
    const int32_t ecu = CreateEcu(CreateCommunication());
    std::string info = "stale";
    int32_t result = 0;
    for (int32_t id : {-1, 7, 300, 999, 1001, 1256, 5000}) {
        component.DbrGetConfiguration(id, &info, &result);
        EXPECT_EQ(info, "") << id;
        EXPECT_EQ(result, -7) << id;
    }
    component.DbrGetConfiguration(ecu, &info, &result);
    EXPECT_EQ(info, "FAKE_ECU|FAKE|SERVICESINGLEREQUEST=1|");
    EXPECT_EQ(result, 0);
}

TEST_F(CommandInterfaceTest, ServicesNeedAConnectedEcu) {
    const int32_t ecu = CreateEcu(CreateCommunication());
    int32_t result = 0;
    std::string text;
    EXPECT_EQ(Request(ecu, "22 F1 90", &result), "");
    EXPECT_EQ(result, -7);
    component.DbrUpload(ecu, "", &text, &result);
    EXPECT_EQ(result, -7);
    component.DbrGetIdent(ecu, &text, &result);
    EXPECT_EQ(result, -7);
    component.DbrJob(ecu, "JOB", &result);
    EXPECT_EQ(result, -7);
    component.DbrDisconnect(ecu, &result);
    EXPECT_EQ(result, -7);
    component.DbrSetPredefinedDiagnosticAccess(ecu, 1, &result);
    EXPECT_EQ(result, -7);
    component.DbrConnect(ecu + 1, &result);
    EXPECT_EQ(result, -7);
    component.DbrConnect(ecu, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Request(ecu, "22 F1 90", &result), "62 F1 90");
    EXPECT_EQ(result, 0);
    component.DbrDisconnect(ecu, &result);
    EXPECT_EQ(result, 0);
    Request(ecu, "22 F1 90", &result);
    EXPECT_EQ(result, -7);
}

TEST_F(CommandInterfaceTest, PermissionsOfTheEcuModel) {
    const int32_t ecu = ConnectedEcu(
        "FAKE_ECU|SERVICESINGLEREQUEST=0|SERVICEUPLOAD=0|SERVICEDOWNLOAD=0|SERVICEJOB=0");
    int32_t result = 0;
    std::string text;
    Request(ecu, "22 F1 90", &result);
    EXPECT_EQ(result, -4);
    component.DbrUpload(ecu, "", &text, &result);
    EXPECT_EQ(result, -4);
    EXPECT_EQ(component.DbrDownload(ecu, 0, ":00000001FF", &result), 0);
    EXPECT_EQ(result, -4);
    component.DbrJob(ecu, "", &result);
    EXPECT_EQ(result, -4);
}

TEST_F(CommandInterfaceTest, MalformedRequestsAreRejectedBeforeSending) {
    const int32_t ecu = ConnectedEcu();
    for (const char* request : {"", "  ", "22 G1", "22 123", "2 2 2 x"}) {
        int32_t result = 0;
        EXPECT_EQ(Request(ecu, request, &result), "") << request;
        EXPECT_EQ(result, -3) << request;
    }
}

TEST_F(CommandInterfaceTest, ExtendedRequestCarriesTheAddressMode) {
    const int32_t ecu = ConnectedEcu();
    int32_t result = 0;
    std::string response;
    component.DbrExtSingleRequest(ecu, 1, "3E 00", &response, &result);
    EXPECT_EQ(response, "62 F1 90");
    EXPECT_EQ(testing::FakeProtocol::lastCreated->lastAddressMode, 1);
    Request(ecu, "3E 00", &result);
    EXPECT_EQ(testing::FakeProtocol::lastCreated->lastAddressMode, 0);
}

TEST_F(CommandInterfaceTest, ByteBufferRequestsReturnTheResponseLength) {
    const int32_t ecu = ConnectedEcu();
    const uint8_t request[] = {0x22, 0xF1, 0x90};
    uint8_t response[CCommandInterface::kMaxRequestBytes] = {};
    int32_t result = 0;
    EXPECT_EQ(component._DbrSingleRequest(ecu, request, 3, response, &result), 0);
    EXPECT_EQ(result, 3);
    EXPECT_EQ(response[0], 0x62);
    EXPECT_EQ(response[2], 0x90);
    component._DbrExtSingleRequest(ecu, 1, request, 3, response, &result);
    EXPECT_EQ(result, 3);
    for (int32_t count : {0, -1, 4097}) {
        component._DbrSingleRequest(ecu, request, count, response, &result);
        EXPECT_EQ(result, -3) << count;
    }
    component._DbrSingleRequest(999, request, 3, response, &result);
    EXPECT_EQ(result, -7);
    EXPECT_EQ(component._DbrSingleRequest(ecu, request, 3, nullptr, &result),
              CCommandInterface::kPointerError);
}

TEST_F(CommandInterfaceTest, ByteBufferRequestsCheckTheObjectBeforeTheCount) {
    const uint8_t request[] = {0x31, 0x01};
    uint8_t response[CCommandInterface::kMaxRequestBytes] = {};
    int32_t result = 0;
    const int32_t notConnected = CreateEcu(CreateCommunication());
    component._DbrSingleRequest(notConnected, request, 0, response, &result);
    EXPECT_EQ(result, -7);
    const int32_t forbidden = ConnectedEcu("FAKE_ECU|SERVICESINGLEREQUEST=0");
    component._DbrSingleRequest(forbidden, request, 0, response, &result);
    EXPECT_EQ(result, -4);
}

TEST_F(CommandInterfaceTest, ByteBufferRequestsHandOverANegativeResponse) {
    const int32_t ecu = ConnectedEcu();
    testing::FakeProtocol::lastCreated->answer = "7F 31 22";
    testing::FakeProtocol::lastCreated->singleRequestResult = kResultNegativeResponse;
    const uint8_t request[] = {0x31, 0x01, 0x02, 0x03};
    for (bool extended : {false, true}) {
        uint8_t response[CCommandInterface::kMaxRequestBytes] = {};
        int32_t result = 0;
        if (extended) {
            component._DbrExtSingleRequest(ecu, 1, request, 4, response, &result);
        } else {
            component._DbrSingleRequest(ecu, request, 4, response, &result);
        }
        EXPECT_EQ(result, kResultNegativeResponse);
        EXPECT_EQ(response[0], 0x7F);
        EXPECT_EQ(response[1], 0x31);
        EXPECT_EQ(response[2], 0x22);
    }
}

// A service cut off by its time-out hands nothing over, and the client never reads a text
// the stopped service may still be writing (the ident and upload texts are written after
// the stop here).
TEST_F(CommandInterfaceTest, OutTextsAfterATimeOutAreEmpty) {
    const int32_t ecu = ConnectedEcu();
    testing::FakeProtocol& fake = *testing::FakeProtocol::lastCreated;
    int32_t result = 0;
    EXPECT_EQ(Request(ecu, "22 F1 90", &result), "62 F1 90");
    std::string text = "stale";
    component.DbrGetIdent(ecu, &text, &result);
    EXPECT_EQ(text, "NAME=FAKE|");
    fake.timeoutMs = 20;
    EXPECT_EQ(Request(ecu, testing::kBlockingRequest, &result), "");
    EXPECT_EQ(result, kResultTimeout);
    uint8_t response[CCommandInterface::kMaxRequestBytes] = {};
    const uint8_t block[] = {0xB1};
    component._DbrSingleRequest(ecu, block, 1, response, &result);
    EXPECT_EQ(result, kResultTimeout);
    EXPECT_EQ(response[0], 0);
    component.DbrUpload(ecu, "BLOCK", &text, &result);
    EXPECT_EQ(result, kResultTimeout);
    EXPECT_EQ(text, "");
    fake.blockIdent = true;
    for (int i = 0; i < 3; ++i) {
        text = "stale";
        component.DbrGetIdent(ecu, &text, &result);
        EXPECT_EQ(result, kResultTimeout);
        EXPECT_EQ(text, "");
    }
    // Once the worker is back, a finished ident starts from an empty text.
    fake.blockIdent = false;
    fake.timeoutMs = 10000;
    component.DbrGetIdent(ecu, &text, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, "NAME=FAKE|");
}

// One link, several ECU objects: the one that connected last is the connected one.
TEST_F(CommandInterfaceTest, ConnectingAnotherEcuObjectTakesOverTheLink) {
    const int32_t first = ConnectedEcu();
    const int32_t second = CreateEcu(0);
    int32_t result = 0;
    component.DbrConnect(second, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Request(second, "22 F1 90", &result), "62 F1 90");
    EXPECT_EQ(result, 0);
    Request(first, "22 F1 90", &result);
    EXPECT_EQ(result, -7);
    component.DbrConnect(first, &result);
    EXPECT_EQ(result, 0);
    Request(first, "22 F1 90", &result);
    EXPECT_EQ(result, 0);
    component.DbrDisconnect(second, &result);
    EXPECT_EQ(result, -7);
    component.DbrDisconnect(first, &result);
    EXPECT_EQ(result, 0);
    Request(first, "22 F1 90", &result);
    EXPECT_EQ(result, -7);
    // A new object after the connected one was deleted.
    component.DbrConnect(second, &result);
    EXPECT_EQ(result, 0);
    component.DbrDeleteEcuObject(second, &result);
    EXPECT_EQ(result, 0);
    const int32_t third = CreateEcu(0);
    component.DbrConnect(third, &result);
    EXPECT_EQ(result, 0);
    Request(third, "22 F1 90", &result);
    EXPECT_EQ(result, 0);
    component.DbrDisconnect(third, &result);
    EXPECT_EQ(result, 0);
}

TEST_F(CommandInterfaceTest, DownloadTakesHexTextOrAFile) {
    const int32_t ecu = ConnectedEcu("FAKE_ECU|DOWNLOADOPTION=7");
    int32_t result = 0;
    EXPECT_EQ(component.DbrDownload(ecu, 2, "", &result), -3);
    EXPECT_EQ(result, -7);
    component.DbrDownload(ecu, 2, "/nonexistent/image.hex", &result);
    EXPECT_EQ(result, -3);

    const std::string text = ":0100000000FF\n:00000001FF";
    component.DbrDownload(ecu, 2, text, &result);
    EXPECT_EQ(result, 0);
    const ServiceOrder& seen = testing::FakeProtocol::lastCreated->lastDownload;
    EXPECT_EQ(seen.hexText, text);  // sent as it is
    EXPECT_EQ(seen.hexFilePath, "");
    EXPECT_EQ(seen.downloadType, 2);
    EXPECT_EQ(seen.downloadOption, 7);

    const std::string path = ::testing::TempDir() + "/download.hex";
    {
        std::ofstream file(path, std::ios::binary);
        file << ":0100000000FF\r\n:00000001FF\r\n";
    }
    component.DbrDownload(ecu, 3, path, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(seen.hexText, ":0100000000FF|:00000001FF|");
    EXPECT_EQ(seen.hexFilePath, path);
    EXPECT_EQ(seen.downloadType, 3);
    {
        std::ofstream file(path, std::ios::binary);
        file << ":0100000000FF\n\n:00000001FF";
    }
    component.DbrDownload(ecu, 3, path, &result);
    EXPECT_EQ(seen.hexText, ":0100000000FF||:00000001FF|");
    std::remove(path.c_str());
}

TEST_F(CommandInterfaceTest, LowerCaseHexTextIsTakenAsText) {
    const int32_t ecu = ConnectedEcu();
    int32_t result = 0;
    const std::string text = ":0100000000ff|:00000001ff|";
    component.DbrDownload(ecu, 2, text, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(testing::FakeProtocol::lastCreated->lastDownload.hexText, text);
    EXPECT_EQ(testing::FakeProtocol::lastCreated->lastDownload.hexFilePath, "");
}

// Only regular files of a HEX file's size are read, and never with a wait: a FIFO without a
// writer or a device that never ends is refused at once.
TEST_F(CommandInterfaceTest, DownloadFilesThatCannotBeHexFilesAreRefused) {
    const int32_t ecu = ConnectedEcu();
    const std::string fifo = ::testing::TempDir() + "/download.fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string large = ::testing::TempDir() + "/large.hex";
    { std::ofstream file(large, std::ios::binary); }
    std::filesystem::resize_file(large, CCommandInterface::kMaxHexFileBytes + 1);  // sparse
    testing::FakeProtocol::lastCreated->lastDownload = ServiceOrder{};
    for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/"), large}) {
        int32_t result = 0;
        EXPECT_EQ(component.DbrDownload(ecu, 2, path, &result), 0) << path;
        EXPECT_EQ(result, kResultBadParameter) << path;
    }
    EXPECT_EQ(testing::FakeProtocol::lastCreated->lastDownload.command, kCommandIdle);
    std::remove(fifo.c_str());
    std::remove(large.c_str());
}

TEST_F(CommandInterfaceTest, UploadIdentAndJobReturnTheEcuTexts) {
    const int32_t ecu = ConnectedEcu();
    int32_t result = 0;
    std::string text;
    component.DbrUpload(ecu, "HEAD", &text, &result);
    EXPECT_EQ(text, "[Header]|HEAD");
    component.DbrGetIdent(ecu, &text, &result);
    EXPECT_EQ(text, "NAME=FAKE|");
    component.DbrJob(ecu, "RESET", &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(testing::FakeProtocol::lastCreated->lastJob, "RESET");
}

TEST_F(CommandInterfaceTest, DeletingAnEcuDetachesIt) {
    const int32_t ecu = ConnectedEcu();
    int32_t result = 0;
    component.DbrDeleteEcuObject(ecu, &result);
    EXPECT_EQ(result, 0);
    // The communication object still works and no longer points at the ECU.
    const int32_t again = CreateEcu(0);
    component.DbrConnect(again, &result);
    EXPECT_EQ(result, 0);
}

TEST_F(CommandInterfaceTest, EcuOfADeletedCommunicationObjectRunsNothing) {
    const int32_t ecu = ConnectedEcu();
    int32_t result = 0;
    component.DbrDeleteCommunicationObject(0, &result);
    EXPECT_EQ(result, 0);
    Request(ecu, "22 F1 90", &result);
    EXPECT_EQ(result, -7);
    component.DbrConnect(ecu, &result);
    EXPECT_EQ(result, -7);
    component.DbrDeleteEcuObject(ecu, &result);
    EXPECT_EQ(result, 0);
}

TEST_F(CommandInterfaceTest, NullOutParametersAreRefused) {
    EXPECT_EQ(component.DbrGetVersion("", nullptr), CCommandInterface::kPointerError);
    EXPECT_EQ(component.DbrCreateCommunicationObject("FAKE", nullptr),
              CCommandInterface::kPointerError);
    EXPECT_EQ(component.CommunicationObjectCount(), 0);
}

class EventDeliveryTest : public CommandInterfaceTest {};

TEST_F(EventDeliveryTest, EventsReachEverySinkInOrderUntilUnadvised) {
    EventRecorder first;
    EventRecorder second;
    EventRecorder third;
    const uint32_t a = component.Advise(&first);
    const uint32_t b = component.Advise(&second);
    EXPECT_EQ(component.Advise(nullptr), 0u);
    EXPECT_EQ(component.Unadvise(b), 0);
    EXPECT_EQ(component.Unadvise(b), -3);
    EXPECT_EQ(component.Advise(&third), b);  // takes the free slot
    EXPECT_EQ(component.Unadvise(a), 0);

    int32_t id = 0;
    component.DbrCreateCommunicationObject("FAKE|STATUS=1|PROGRESS=1|TRACE=1", &id);
    EXPECT_TRUE(first.Events().empty());
    ASSERT_EQ(third.OfKind("status").size(), 1u);
    EXPECT_EQ(third.OfKind("status")[0].text, "Status: 1 CREATED");
    EXPECT_TRUE(second.Events().empty());
    EXPECT_EQ(component.Fire_DbrTraceMessage(0, "x"), 0);
}

TEST(EventWithoutSinksTest, FiringWithoutSinksReturnsZero) {
    CCommandInterface component(FakeRegistry());
    EXPECT_EQ(component.Fire_DbrProgressMessage(0, 0, "x"), 0);
    EXPECT_EQ(component.Fire_DbrStatusMessage(1, "x"), 0);
}

// A sink that leaves the connection point from inside its own event.
class LeavingSink : public EventRecorder {
  public:
    int32_t DbrStatusMessage(int32_t lStatus, const std::string& strStatus) override {
        EventRecorder::DbrStatusMessage(lStatus, strStatus);
        if (component != nullptr) component->Unadvise(cookie);
        return 0;
    }
    CCommandInterface* component = nullptr;
    uint32_t cookie = 0;
};

TEST_F(EventDeliveryTest, ASinkMayUnadviseDuringItsEvent) {
    LeavingSink leaving;
    EventRecorder staying;
    leaving.component = &component;
    leaving.cookie = component.Advise(&leaving);
    component.Advise(&staying);
    component.Fire_DbrStatusMessage(1, "one");
    component.Fire_DbrStatusMessage(2, "two");
    EXPECT_EQ(leaving.OfKind("status").size(), 1u);
    EXPECT_EQ(staying.OfKind("status").size(), 2u);
}

}  // namespace
}  // namespace diagbridge
