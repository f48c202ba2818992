#include "ecu/CEcuT6xUdsIso14229.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ecu/UdsModelTestSupport.h"
#include "uds/UdsStackSupport.h"

namespace diagbridge {
namespace {

using testing::MakeUdsModel;

const CalendarDate kDate{2014, 3, 27};

TEST(T6xAccessTableTest, SequencesOfTheOrlanControllers) {
    const auto steps =
        CEcuT6xUdsIso14229::OrlanAccessSequences(kDate, "ab", CEcuT6xUdsIso14229::kKeyConstants);
    ASSERT_EQ(steps.size(), 13u);
    struct Row {
        const char* session;
        const char* seed;
        const char* key;
        const char* write;  // prefix of writeRequests[0]
        const char* after;
        const char* fallback;  // prefix of writeRequests[2]
    };
    const Row rows[] = {
        {"10 01", "", "", "", "", ""},
        {"10 01", "", "", "2E FE FF 20 14 03 27 01 02 03 04 61 62 00", "",
         "2E FE FF 20 14 03 27 01 02 03 04 61 62 00"},
        {"10 02", "27 61", "27 62", "2E FE FE 20 14 03 27 01 02 03 04 61 62 00", "", ""},
        {"10 03", "27 61", "27 62", "2E FE FE 20 14 03 27 01 02 03 04 61 62 00", "", ""},
        {"10 40", "27 61", "27 62", "2E FE FE 20 14 03 27 01 02 03 04 61 62 00", "", ""},
        {"10 02", "27 05", "27 06", "2E F1 5A 00 00 5B 0E 03 1B 01 02 03 04", "", ""},
        {"10 03", "27 07", "27 08", "2E F1 5C 00 00 5B 0E 03 1B 01 02 03 04", "", ""},
        {"10 03", "27 09", "27 0A", "2E F1 5E 00 00 5B 0E 03 1B 01 02 03 04", "", ""},
        {"10 02", "27 01", "27 02", "2E F1 98 01 02 03 04 FF 08 15 00 00 00", "2E F1 99 14 03 27",
         ""},
        {"10 03", "27 01", "27 02", "2E F1 9A 01 02 03 04 FF 08 15 00 00 00", "2E F1 9B 14 03 27",
         ""},
        {"10 03", "27 03", "27 04", "2E F1 9A 01 02 03 04 FF 08 15 00 00 00", "2E F1 9B 14 03 27",
         ""},
        {"", "", "", "", "", ""},
        {"", "", "", "", "", ""},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const AccessStep& step = steps[i];
        const Row& row = rows[i];
        EXPECT_EQ(step.sessionRequest, row.session) << i;
        EXPECT_EQ(step.seedRequest, row.seed) << i;
        EXPECT_EQ(step.keyRequestPrefix, row.key) << i;
        EXPECT_EQ(step.writeRequests[0].rfind(row.write, 0), 0u) << i << step.writeRequests[0];
        EXPECT_EQ(step.writeRequests[1], row.after) << i;
        EXPECT_EQ(step.writeRequests[2].rfind(row.fallback, 0), 0u) << i;
        EXPECT_EQ(step.writeRequests[2].empty(), std::string(row.fallback).empty()) << i;
        EXPECT_TRUE(step.enabled) << i;
        // Security access has its constants, the others none.
        EXPECT_EQ(step.keyMultiplier != 0, !step.seedRequest.empty()) << i;
        EXPECT_EQ(step.keyAddend != 0, !step.seedRequest.empty()) << i;
        EXPECT_LE(step.keyMultiplier, 9999) << i;
        EXPECT_LE(step.keyAddend, 9999) << i;
    }
    // The fingerprint records: 60 data bytes for the writes, 25 for the fallback.
    EXPECT_EQ(steps[1].writeRequests[0].size(), (3 + 60) * 3 - 1);
    EXPECT_EQ(steps[1].writeRequests[2].size(), (3 + 25) * 3 - 1);
    EXPECT_EQ(steps[2].writeRequests[0].size(), (3 + 60) * 3 - 1);
    // The security levels of the programming and the extended session differ.
    EXPECT_NE(steps[2].keyMultiplier, steps[3].keyMultiplier);
}

TEST(T6xAccessTableTest, ModelTableIsTheFamilyTableOfToday) {
    const auto ecu = MakeUdsModel("T60.1|USER=ab");
    ASSERT_EQ(ecu->AccessCount(), 13);
    const auto expected = CEcuT6xUdsIso14229::OrlanAccessSequences(
        CEcuUdsModel::Today(), "ab", CEcuT6xUdsIso14229::kKeyConstants);
    for (int32_t i = 0; i < 13; ++i) {
        EXPECT_EQ(ecu->Access(i)->sessionRequest, expected[i].sessionRequest) << i;
        EXPECT_EQ(ecu->Access(i)->keyMultiplier, expected[i].keyMultiplier) << i;
        EXPECT_EQ(ecu->Access(i)->writeRequests[1], expected[i].writeRequests[1]) << i;
    }
    EXPECT_EQ(ecu->Access(-1), nullptr);
    EXPECT_EQ(ecu->Access(13), nullptr);
    // The connect fingerprints are the step 1 writes.
    EXPECT_EQ(ecu->Parameters().uds.fingerprint60, ecu->Access(1)->writeRequests[0]);
    EXPECT_EQ(ecu->Parameters().uds.fingerprint25, ecu->Access(1)->writeRequests[2]);
}

TEST(T6xKeyTest, KeyRequestsOfKnownSeeds) {
    const auto ecu = MakeUdsModel("T60.1");
    struct Case {
        int32_t step;
        const char* response;
        const char* request;
    };
    const Case cases[] = {
        {2, "67 61 12 34", "27 62 1F 19"},
        {3, "67 61 12 34", "27 62 70 4F"},
        {3, "67 61 FF FF", "27 62 F9 4C"},
        {3, "67 61 12 34 56 78", "27 62 70 4F"},  // bytes after the seed are not read
        {3, " 67 61 12 34 ", "27 62 70 4F"},
        {8, "67 01 00 01", "27 02 0F A6"},
        {0, "67 61 AB CD", " 00 00"},  // no constants, no prefix: key 0
        {3, "67 61 12", ""},           // too short
        {3, "7F 27 35", ""},           // refused
        {3, "6761 12 34", ""},         // malformed
        {3, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ecu->BuildAccessRequest(*ecu->Access(c.step), c.response), c.request)
            << c.step << " " << c.response;
    }
}

TEST(T6xMemoryTest, SectionUnderFram) {
    const auto ecu = MakeUdsModel("T60.1");
    ecu->Upload().memoryLines = {"63 01 02 03 04"};
    const std::string section = ecu->BuildMemorySection();
    EXPECT_EQ(section, "[FRAM]|:020000040040BA|:040180000102030471|:00000001FF|");
}

// ---------------------------------------------------------------- on the UDS stack

class T601OnStack : public ::testing::Test {
  protected:
    T601OnStack() : scoped_(clock_), object_(&events_, "UDS_ISO_14229|VECTOR=1") {}
    ~T601OnStack() override {
        ecu_.reset();
        object_.StopWorker();
    }
    void Start(testing::ScriptedUdsContainer::Responder respond,
               const std::string& parameter = "T60.1") {
        object_.UseContainer([this, respond](const EcuParameterBlock&, const UdsInterfaceSettings&,
                                             platform::CancelFlag*) {
            return std::make_unique<testing::ScriptedUdsContainer>(sent_, respond);
        });
        ecu_ = std::make_unique<CEcuT601UdsIso14229>(&object_, parameter);
        ServiceOrder create;
        create.command = kCommandCreateHWObject;
        ASSERT_EQ(object_.ExecuteService(create), 0);
    }
    int32_t Run(int32_t command, int32_t access = 0) {
        ServiceOrder order;
        order.command = command;
        order.predefinedSession = access;
        return ecu_->RunService(order);
    }
    std::vector<std::string> Requests() const {
        std::vector<std::string> texts;
        for (const auto& [mode, text] : sent_) texts.push_back(text);
        return texts;
    }

    platform::ManualClock clock_;
    platform::ScopedClock scoped_;
    testing::EventRecorder events_;
    CSUdsIso14229 object_;
    std::vector<std::pair<int32_t, std::string>> sent_;
    std::unique_ptr<CEcuT601UdsIso14229> ecu_;
};

std::string SeedOrEcho(const std::string& request) {
    if (request == "27 61") return "67 61 12 34";
    return testing::PositiveEcho(request);
}

TEST_F(T601OnStack, ConnectWritesTheFingerprintAndAccessSendsTheKey) {
    Start(SeedOrEcho);
    ASSERT_EQ(ecu_->Connect(), 0);
    ASSERT_FALSE(sent_.empty());
    EXPECT_EQ(sent_.front().second, ecu_->Parameters().uds.fingerprint60);

    sent_.clear();
    ASSERT_EQ(Run(kCommandSetDiagnosticAccess, 3), 0);
    const std::vector<std::string> expected = {"10 03", "27 61", "27 62 70 4F",
                                               ecu_->Access(3)->writeRequests[0]};
    EXPECT_EQ(Requests(), expected);

    // One past the last step.
    EXPECT_EQ(Run(kCommandSetDiagnosticAccess, 13), -105);
}

TEST_F(T601OnStack, EvoBusControllerGetsTheShortFingerprintInItsAccessSteps) {
    Start([](const std::string& request) {
        if (request.rfind("2E FE FF", 0) == 0 && request.size() > (3 + 25) * 3) {
            return std::string("7F 2E 13");
        }
        if (request == "22 FE FD") return std::string("62 FE FD 03");
        return SeedOrEcho(request);
    });
    const std::string shortFingerprint = ecu_->Parameters().uds.fingerprint25;
    ASSERT_EQ(ecu_->Connect(), 0);
    EXPECT_EQ(ecu_->Access(1)->writeRequests[0], shortFingerprint);
    for (int32_t i = 1; i <= 4; ++i) EXPECT_TRUE(ecu_->Access(i)->writeRequests[2].empty()) << i;
    EXPECT_TRUE(ecu_->Access(2)->writeRequests[0].empty());
    // The programming session now answers to the extended session's key.
    EXPECT_EQ(ecu_->Access(2)->keyMultiplier, CEcuT6xUdsIso14229::kKeyConstants[3].multiplier);

    sent_.clear();
    ASSERT_EQ(Run(kCommandSetDiagnosticAccess, 2), 0);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"10 02", "27 61", "27 62 70 4F"}));
}

TEST_F(T601OnStack, UploadWritesTheMemoryAreaAsIntelHex) {
    std::string data;
    for (int i = 0; i < 0x80; ++i) data += " 5A";
    Start([&](const std::string& request) {
        if (request.rfind("23 13", 0) == 0) return "63" + data;
        if (request.rfind("19 ", 0) == 0) return std::string("59 02 FF");
        return SeedOrEcho(request);
    });
    ASSERT_EQ(ecu_->Connect(), 0);
    sent_.clear();
    ASSERT_EQ(Run(kCommandUpload), 0);
    const std::vector<std::string> requests = Requests();
    const auto reads = std::count_if(requests.begin(), requests.end(),
                                     [](const std::string& r) { return r.rfind("23 13", 0) == 0; });
    EXPECT_EQ(reads, 0xFE80 / 0x80);
    EXPECT_NE(std::find(requests.begin(), requests.end(), "23 13 40 01 80 80"), requests.end());
    EXPECT_NE(std::find(requests.begin(), requests.end(), "23 13 40 FF 80 80"), requests.end());

    const std::string& text = ecu_->UploadText();
    const std::string ffRecord = [&] {
        std::string record = ":80FF8000";
        for (int i = 0; i < 0x80; ++i) record += "5A";
        return record;
    }();
    EXPECT_NE(text.find("[FRAM]|:020000040040BA|:80018000"), std::string::npos);
    EXPECT_NE(text.find(ffRecord), std::string::npos);
    EXPECT_NE(text.find(ffRecord + "01|:00000001FF|"), std::string::npos);
    EXPECT_NE(text.find("[KOBOLD]|Version=4.x|FormatType=3|TheUser="), std::string::npos);
}

}  // namespace
}  // namespace diagbridge
