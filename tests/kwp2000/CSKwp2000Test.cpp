// Service sequences of the KWP2000 communication object on scripted containers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "KwpStackSupport.h"
#include "kwp2000/CHKwp2000.h"
#include "platform/Notifier.h"

namespace diagbridge::testing {
namespace {

using Pairs = std::set<std::pair<uint8_t, uint8_t>>;

// Answers from a table; requests not in it get the T60 answers.
ScriptedKwpContainer::Responder Answers(std::map<std::string, std::string> table) {
    return [table](const std::string& request) {
        const auto it = table.find(request);
        return it != table.end() ? it->second : KwpT60Answer(request);
    };
}

int32_t Count(const std::vector<std::string>& texts, const std::string& text) {
    return static_cast<int32_t>(std::count(texts.begin(), texts.end(), text));
}

// ---------------------------------------------------------------- parameters

TEST(Kwp2000Parameters, KeysAndParameterString) {
    EventRecorder events;
    CSKwp2000 object(&events,
                     "KWP2000|RS232=3|SAMTECUSB=5|SKYLINK=4|SKYLINKINIT=115000|BAUDRATE=9600|"
                     "TESTERPRESENT=1500|TIMEOUT_RS232=700|TIMEOUT_SKYLINK=900|TRACE=1|");
    EXPECT_TRUE(object.ParametersAccepted());
    EXPECT_EQ(object.GetParameterString(),
              "KWP2000|RS232=3|SAMTECUSB=1|SKYLINK=4|BAUDRATE=9600|TESTERPRESENT=1500|TRACE=1|"
              "PROGRESS=0|STATUS=0");
    EXPECT_EQ(object.InterfaceSettings().rs232TimeoutMs, 700);
    EXPECT_EQ(object.InterfaceSettings().skyLinkTimeoutMs, 900);
    EXPECT_EQ(object.InterfaceSettings().skyLinkInit, 115000);
    CSKwp2000 rejected(&events, "KWP2000|PORT=1");
    EXPECT_FALSE(rejected.ParametersAccepted());
    CSKwp2000 wrongKeyword(&events, "KWP|RS232=1");
    EXPECT_FALSE(wrongKeyword.ParametersAccepted());
}

TEST(Kwp2000Create, NoAdapterFailsAndSamtecIsReported) {
    std::vector<std::string> notes;
    platform::ScopedNotifier notifier([&](const std::string& text) { notes.push_back(text); });
    EventRecorder events;
    CSKwp2000 object(&events, "KWP2000|SAMTECUSB=1|PROGRESS=1");
    ServiceOrder order;
    order.command = kCommandCreateHWObject;
    EXPECT_EQ(object.ExecuteService(order), kResultFailure);
    EXPECT_EQ(notes, std::vector<std::string>{CHKwp2000::kSamtecError});
    EXPECT_EQ(object.HardwareInterface(), nullptr);
    object.StopWorker();
}

// ---------------------------------------------------------------- ECU search

struct SearchCase {
    const char* name;
    bool samtec;
    Pairs samtecAnswers;
    Pairs rs232Answers;
    bool scanAll;
    int32_t result;
    int32_t currentSlot;
    std::vector<int32_t> found;  // found flag per address entry
    uint8_t ecu;
};

class EcuSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(EcuSearch, ContainersTimesAddresses) {
    const SearchCase& c = GetParam();
    SentLog sent;
    std::vector<ScriptedKwpContainer*> made;
    EcuParameterBlock block;
    block.kwp.addressCount = 2;
    block.kwp.addressTable[0] = {0xFA, 0x18, 0, {}, {}};
    block.kwp.addressTable[1] = {0xF0, 0x29, 0, {}, {}};
    block.kwp.scanAllAddresses = c.scanAll;
    KwpInterfaceSettings settings;
    settings.rs232Port = 1;
    settings.samtecUsb = c.samtec;
    CHKwp2000 hardware(block, settings,
                       [&](int32_t slot, const EcuParameterBlock&, const InterfaceSettings&) {
                           auto container = std::make_unique<ScriptedKwpContainer>(
                               slot, sent, KwpT60Answer,
                               slot == CHKwp2000::kSamtecSlot ? c.samtecAnswers : c.rs232Answers);
                           made.push_back(container.get());
                           return container;
                       });
    const std::string before = hardware.HardwareText();
    EXPECT_EQ(hardware.HALDetectEcu(), c.result);
    if (c.result != 0) {
        EXPECT_EQ(hardware.HardwareText(), before);
        return;
    }
    EXPECT_EQ(hardware.CurrentIndex(), c.currentSlot);
    EXPECT_EQ(hardware.HardwareText(), "SCRIPTED " + std::to_string(c.currentSlot));
    const KwpParameterBlock& kwp = hardware.Configuration().kwp;
    for (std::size_t i = 0; i < c.found.size(); ++i) {
        EXPECT_EQ(kwp.addressTable[i].found, c.found[i]) << "entry " << i;
        if (c.found[i] == 1) {
            EXPECT_EQ(kwp.addressTable[i].hardwareVersion, "T60");
        }
    }
    EXPECT_EQ(kwp.ecuAddress, c.ecu);
}

INSTANTIATE_TEST_SUITE_P(
    Kwp2000, EcuSearch,
    ::testing::Values(
        SearchCase{"FirstPair", false, {}, {{0xFA, 0x18}}, false, 0, 1, {1, 0}, 0x18},
        SearchCase{"SecondPair", false, {}, {{0xF0, 0x29}}, false, 0, 1, {0, 1}, 0x29},
        SearchCase{
            "StopsAtFirst", false, {}, {{0xFA, 0x18}, {0xF0, 0x29}}, false, 0, 1, {1, 0}, 0x18},
        SearchCase{
            "ScanAllTakesLast", false, {}, {{0xFA, 0x18}, {0xF0, 0x29}}, true, 0, 1, {1, 1}, 0x29},
        SearchCase{"SamtecFirst", true, {{0xF0, 0x29}}, {{0xFA, 0x18}}, false, 0, 0, {0, 1}, 0x29},
        SearchCase{"NoAnswer", false, {}, {}, false, -7, 0, {}, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Kwp2000Hardware, IdentTextSkipsZeroBytesAndBaudrateIdOnSkyLink) {
    SentLog sent;
    EcuParameterBlock block;
    block.kwp.addressCount = 1;
    block.kwp.addressTable[0] = {0xFA, 0x18, 0, {}, {}};
    KwpInterfaceSettings settings;
    settings.skyLinkPort = 2;
    CHKwp2000 hardware(
        block, settings, [&](int32_t slot, const EcuParameterBlock&, const InterfaceSettings&) {
            return std::make_unique<ScriptedKwpContainer>(
                slot, sent, Answers({{"1A 93", "5A 93 41 00 42 E4"}, {"1A 92", "7F 1A 31"}}),
                Pairs{{0xFA, 0x18}});
        });
    EXPECT_EQ(hardware.HALDetectEcu(), 0);  // the SkyLink container becomes current
    EXPECT_EQ(hardware.HALGetEcuHardwareVersion(), "AB\xC3\xA4");  // Latin-1 E4 is "ä"
    EXPECT_EQ(hardware.GetEcuHardwareNumber(), "");
    EXPECT_EQ(hardware.HALAdjustBaudrateId(3), 6);
    CHKwp2000 wired(block, KwpInterfaceSettings{1},
                    [&](int32_t slot, const EcuParameterBlock&, const InterfaceSettings&) {
                        return std::make_unique<ScriptedKwpContainer>(slot, sent, KwpT60Answer,
                                                                      Pairs{});
                    });
    EXPECT_EQ(wired.HALAdjustBaudrateId(3), 3);
}

// ---------------------------------------------------------------- connect

TEST(Kwp2000Connect, FindsConnectsAndChecksIdent) {
    KwpStackFixture f;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    EXPECT_EQ(f.Object().StatusCode(), kStatusConnected);
    EXPECT_TRUE(f.ecu->IsConnected());
    EXPECT_TRUE(f.HasProgress("ServiceConnectToObject: Scan Device: [0xFAh, 0x18h],"));
    EXPECT_TRUE(f.HasProgress("ServiceConnectToObject: ECU T60 found at: [0x18h, 0xFAh]"));
    EXPECT_TRUE(f.HasProgress("ServiceConnectToObject: IdentCheck OK"));
    EXPECT_EQ(f.Object().Parameters().kwp.addressTable[0].found, 1);
}

TEST(Kwp2000Connect, WrongObjectTypeAndSilentEcu) {
    KwpStackFixture::Options wrongType;
    wrongType.respond = Answers({{"1A 93", "5A 93 54 36 35"}});
    KwpStackFixture f(wrongType);
    EXPECT_EQ(f.CreateAndConnect(), kResultConnectionLost);
    EXPECT_TRUE(f.HasProgress("ServiceConnectToObject: IdentCheck failed"));
    EXPECT_FALSE(f.ecu->IsConnected());

    KwpStackFixture::Options silent;
    silent.slots = {{1, {}}};
    KwpStackFixture g(silent);
    EXPECT_EQ(g.CreateAndConnect(), kResultCommunication);
    EXPECT_TRUE(g.HasProgress("ServiceConnectToObject: No ECU found"));
}

TEST(Kwp2000Connect, LostPortEndsServiceAndNextConnectWorks) {
    bool gone = false;
    KwpStackFixture::Options options;
    options.respond = [&](const std::string& request) {
        return gone ? std::string("FAIL") : KwpT60Answer(request);
    };
    KwpStackFixture f(options);
    ASSERT_EQ(f.CreateAndConnect(), 0);
    gone = true;
    EXPECT_EQ(f.Run(kCommandSingleRequest, [](ServiceOrder& o) { o.request = "21 05"; }),
              kResultCommunication);
    EXPECT_EQ(f.Run(kCommandUpload), kResultCommunication);
    gone = false;
    EXPECT_EQ(f.Run(kCommandConnect), 0);
    EXPECT_EQ(f.Run(kCommandSingleRequest, [](ServiceOrder& o) { o.request = "21 05"; }), 0);
    EXPECT_EQ(f.ecu->ResponseText(), "61 05");
}

// ---------------------------------------------------------------- exchange

struct CheckCase {
    const char* answer;
    bool check;
    int32_t result;
};

TEST(Kwp2000DataTransfer, ServiceIdCheck) {
    const CheckCase cases[] = {
        {"7F 1A 31", true, -100}, {"5B 93", true, -101}, {"5A 93 41", true, 0},  {"", true, -101},
        {"7F 1A 31", false, 0},   {"5B 93", false, 0},   {"5A 93 41", false, 0},
    };
    std::string answer;
    KwpStackFixture::Options options;
    options.respond = [&answer](const std::string& request) {
        return request == "1A 93" && !answer.empty() ? answer : KwpT60Answer(request);
    };
    options.parameter = "KWP2000|RS232=1|TESTERPRESENT=0";
    KwpStackFixture f(options);
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.Object().StopWorker();
    f.Object().Cancel().Reset();
    for (const CheckCase& c : cases) {
        answer = c.answer;
        if (answer.empty()) answer = " ";
        std::string response;
        EXPECT_EQ(f.Object().DataTransfer("1A 93", response, c.check, true), c.result)
            << c.answer << " check " << c.check;
        EXPECT_EQ(response, answer);
    }
}

TEST(Kwp2000DataTransfer, TraceLinesAndBadRequests) {
    KwpStackFixture f;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    f.events.Clear();
    for (const char* bad : {"", "1G", "21 005", "21,05"}) {
        EXPECT_EQ(f.Run(kCommandSingleRequest, [&](ServiceOrder& o) { o.request = bad; }),
                  kResultBadParameter)
            << bad;
    }
    EXPECT_TRUE(f.Requests().empty());
    EXPECT_EQ(f.Run(kCommandSingleRequest, [](ServiceOrder& o) { o.request = "21 05"; }), 0);
    const auto traces = f.events.OfKind("trace");
    ASSERT_FALSE(traces.empty());
    EXPECT_EQ(traces.back().text, " 000 ms |21 05|61 05|");
    EXPECT_EQ(f.Object().StatusCode(), kStatusConnected);  // a single request keeps the status
}

TEST(Kwp2000Job, SendsNothing) {
    KwpStackFixture f;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    EXPECT_EQ(f.Run(kCommandJob), 0);
    EXPECT_TRUE(f.Requests().empty());
}

// ---------------------------------------------------------------- keep-alive

TEST(Kwp2000KeepAlive, TesterPresentOnlyWhenDue) {
    KwpStackFixture f;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.Object().StopWorker();  // drive the passes by hand
    f.ClearSent();
    f.clock.Advance(2500);
    EXPECT_EQ(f.Object().ServiceKeepAlive(), 0);
    EXPECT_EQ(f.Requests(), std::vector<std::string>{"3E"});
    f.clock.Advance(1999);
    EXPECT_EQ(f.Object().ServiceKeepAlive(), kResultNothingDue);
    EXPECT_EQ(f.Requests().size(), 1u);
    f.clock.Advance(1);
    EXPECT_EQ(f.Object().ServiceKeepAlive(), 0);
    EXPECT_EQ(f.Requests().size(), 2u);
}

TEST(Kwp2000KeepAlive, OffOrNotConnected) {
    KwpStackFixture::Options options;
    options.parameter = "KWP2000|RS232=1|TESTERPRESENT=0";
    KwpStackFixture f(options);
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.Object().StopWorker();
    f.ClearSent();
    f.clock.Advance(100000);
    EXPECT_EQ(f.Object().ServiceKeepAlive(), kResultNothingDue);
    KwpStackFixture g;
    ASSERT_EQ(g.Run(kCommandCreateHWObject), 0);
    g.Object().StopWorker();
    g.ClearSent();
    g.clock.Advance(100000);
    EXPECT_EQ(g.Object().ServiceKeepAlive(), kResultNothingDue);
    EXPECT_TRUE(f.Requests().empty());
    EXPECT_TRUE(g.Requests().empty());
}

TEST(Kwp2000KeepAlive, WorkerSendsTesterPresentBetweenServices) {
    KwpStackFixture f;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.clock.Advance(5000);
    ASSERT_TRUE(f.events.WaitFor("status", 3));  // CREATED, CONNECTED, ALIVE
    EXPECT_EQ(f.events.OfKind("status").back().text, "Status: 6 ALIVE");
    EXPECT_EQ(f.Run(kCommandJob), 0);
    EXPECT_GE(Count(f.Requests(), "3E"), 1);
}

}  // namespace
}  // namespace diagbridge::testing
