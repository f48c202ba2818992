// Faults of the controller and of the client's data in a KWP2000 session through the command
// interface: answer series, silence, a foreign controller, damaged Intel-HEX.
#include <gtest/gtest.h>

#include "KwpSessionSupport.h"
#include "sim/kline/IntelHexText.h"
#include "sim/kline/KwpServiceFaults.h"

namespace diagbridge::testing {
namespace {

using Fault = sim::KwpServiceFault;

constexpr int32_t kMakerOem = 0;
constexpr int32_t kDevelopmentMode = 0x86;
constexpr int32_t kKlineBaud = 10400;
constexpr int32_t kNegativeResponse = -100;
constexpr int32_t kHexConvertFailed = -50;

class KwpEndToEndFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(session.Connect(), 0); }
    void Unlock() { ASSERT_EQ(session.Access(kMakerOem, kDevelopmentMode, kKlineBaud, false), 0); }
    KwpSession session;
};

TEST_F(KwpEndToEndFaultTest, AnswerSeriesEndInTheFinalAnswer) {
    struct Case {
        const char* name;
        Fault fault;
        int32_t result;
        std::string response;  // empty: the controller's own answer
    };
    const Case cases[] = {
        {"three pending answers", {Fault::Kind::kPending, 0x1A, 3, 1}, 0, {}},
        {"two busy answers repeated", {Fault::Kind::kBusy, 0x1A, 0, 2}, 0, {}},
        {"negative answer", {Fault::Kind::kNegative, 0x1A, 0x31, 1}, kNegativeResponse, "7F 1A 31"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes own;
        ASSERT_TRUE(session.ecu->Responder().Respond({0x1A, 0x93}, own));
        session.ecu->Responder().InjectFaults({c.fault});
        int32_t result = 1;
        const std::string response = session.Request("1A 93", result);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(response, c.response.empty() ? HexText(own) : c.response);
        // The session goes on.
        session.Request("1A 93", result);
        EXPECT_EQ(result, 0);
    }
}

TEST_F(KwpEndToEndFaultTest, PendingAnswersDuringADownload) {
    Unlock();
    session.ecu->Responder().InjectFaults({{Fault::Kind::kPending, 0x36, 2, 3}});
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    EXPECT_EQ(session.Download(4, sim::IntelHexText(0x8000, data, 8, '|')), 0);
    Bytes stored;
    ASSERT_TRUE(session.ecu->Responder().Image().Read(0x8000, data.size(), stored));
    EXPECT_EQ(stored, data);
}

// Two attempts of one serial time-out each: within a long service time-out the exchange fails
// (-1); the T60's own 500 ms end the service first (-5). Either way the next request and a
// new connect work once the controller answers again.
TEST(KwpEndToEndSilenceTest, SilentRequestFailsAndTheSessionRecovers) {
    struct Case {
        const char* ecuParameter;
        int32_t result;
    };
    const Case cases[] = {
        {"T60|TIMEOUT_SERVICESINGLEREQUEST=20000", -1},
        {"T60", -5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ecuParameter);
        KwpSession session({true, c.ecuParameter, {}});
        ASSERT_EQ(session.Connect(), 0);
        session.ecu->Responder().InjectFaults(
            {{Fault::Kind::kSilence, 0x21, 0, Fault::kEveryRequest}});
        int32_t result = 1;
        session.Request("21 03", result);
        EXPECT_EQ(result, c.result);
        session.ecu->Responder().InjectFaults({});
        session.Request("1A 93", result);
        EXPECT_EQ(result, 0);

        EXPECT_EQ(session.Connect(), 0);
        session.Request("21 03", result);
        EXPECT_EQ(result, 0);
    }
}

// A request abandoned at its time-out while the controller still sends pending answers and
// then its late answer: none of that becomes the answer of the next requests, not even of the
// next request of the same service (another identification option).
TEST(KwpEndToEndLateAnswerTest, LateAnswersOfAnAbandonedRequestAreNotTakenForTheNext) {
    for (const bool wired : {true, false}) {
        SCOPED_TRACE(wired ? "wired" : "SkyLink");
        KwpSession session({wired, "T60", {}});
        ASSERT_EQ(session.Connect(), 0);
        // Twenty pending answers 40 ms apart outlast the T60's 500 ms single-request time-out.
        session.ecu->Line().SetResponseDelay(40);
        session.ecu->Responder().InjectFaults({{Fault::Kind::kPending, 0x1A, 20, 1}});
        int32_t result = 0;
        session.Request("1A 8C", result);
        EXPECT_EQ(result, -5);
        session.ecu->Line().SetResponseDelay(KwpSession::kResponseDelayMs);
        for (const uint8_t option : {0x93, 0x8C, 0x92}) {
            Bytes own;
            ASSERT_TRUE(session.ecu->Responder().Respond({0x1A, option}, own));
            const std::string response = session.Request("1A " + HexText({option}), result);
            EXPECT_EQ(result, 0) << HexText({option});
            EXPECT_EQ(response, HexText(own));
        }
    }
}

TEST_F(KwpEndToEndFaultTest, SilentControllerIsNotFoundUntilItAnswers) {
    int32_t result = 1;
    EXPECT_EQ(session.component.DbrDisconnect(session.ecuId, &result), 0);
    sim::KlineFaults silent;
    silent.silentRequests = 1000;
    session.ecu->Line().InjectFaults(silent);
    EXPECT_EQ(session.Connect(), -1);
    EXPECT_TRUE(session.HasProgress("ServiceConnectToObject: No ECU found"));

    session.ecu->Line().InjectFaults({});
    EXPECT_EQ(session.Connect(), 0);
}

TEST(KwpEndToEndIdentTest, ForeignControllerFailsTheConnect) {
    sim::KwpResponderOptions foreign;
    foreign.objectType = "T65";
    KwpSession session({true, "T60", foreign});
    EXPECT_EQ(session.Connect(), -2);
    EXPECT_TRUE(session.HasProgress("ServiceConnectToObject: IdentCheck failed"));
    int32_t result = 1;
    session.Request("1A 93", result);
    EXPECT_EQ(result, -7);
}

TEST_F(KwpEndToEndFaultTest, DamagedHexIsRefusedBeforeAnythingIsSent) {
    Unlock();
    const std::string good = sim::IntelHexText(0x8000, {0x10, 0x20, 0x30, 0x40}, 16, '|');
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"wrong checksum", ":0480000010203040FF|" + good},
        {"wrong length byte", ":0580000010203040BC|" + good},
        {"blank inside a line", ":04800000 10203040BC|" + good},
        {"odd digit count", ":0480000010203040BC0|" + good},
        {"not hex", ":04800000102030G0BC|" + good},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.events.Clear();
        EXPECT_EQ(session.Download(4, c.text), kHexConvertFailed);
        EXPECT_TRUE(session.HasProgress("ServiceDownload: Convert hexdata failed"));
        // Nothing but the keep-alive's tester present may have gone out.
        EXPECT_TRUE(session.events.OfKind("trace").empty());
        EXPECT_EQ(session.ecu->Responder().Image().RecordCount(), 0u);
    }
    // The good image alone goes through.
    EXPECT_EQ(session.Download(4, good), 0);
    EXPECT_EQ(session.ecu->Responder().Image().ByteCount(), 4u);
}

}  // namespace
}  // namespace diagbridge::testing
