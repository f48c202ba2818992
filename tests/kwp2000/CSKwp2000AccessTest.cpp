// Diagnostic session, security access and timing parameters of the KWP2000 object.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "KwpStackSupport.h"
#include "kwp2000/KwpTiming.h"

namespace diagbridge::testing {
namespace {

ServiceOrder AccessOrder(int32_t mode, int32_t baudrate, bool specialTiming = false) {
    ServiceOrder order;
    order.command = kCommandSetDiagnosticAccess;
    order.predefinedSession = kExplicitAccess;
    order.diagnosticMode = mode;
    order.baudrate = baudrate;
    order.specialTiming = specialTiming;
    return order;
}

KwpStackFixture::Responder Table(std::map<std::string, std::string> table) {
    return [table](const std::string& request) {
        const auto it = table.find(request);
        return it != table.end() ? it->second : KwpT60Answer(request);
    };
}

std::vector<std::string> AccessRequests(KwpStackFixture::Options options, ServiceOrder order,
                                        int32_t& result) {
    KwpStackFixture f(std::move(options));
    if (f.CreateAndConnect() != 0) {
        result = -999;
        return {};
    }
    f.ClearSent();
    result = f.ecu->RunService(order);
    return f.Requests();
}

struct SessionCase {
    const char* parameter;
    int32_t slot;
    int32_t baudrate;
    const char* request;
};

TEST(Kwp2000Session, RequestFormByBaudrateAndAdapter) {
    const SessionCase cases[] = {
        {"KWP2000|RS232=1", 1, 10400, "10 85"},
        {"KWP2000|RS232=1", 1, 9600, "10 85 01"},
        {"KWP2000|RS232=1", 1, 19200, "10 85 02"},
        {"KWP2000|RS232=1", 1, 115200, "10 85 05"},
        {"KWP2000|RS232=1", 1, 12345, "10 85 06 00 30 39"},
        {"KWP2000|SKYLINK=2", 2, 10400, "10 85 06 00 28 A0"},
        {"KWP2000|SKYLINK=2", 2, 19200, "10 85 06 00 4B 00"},
    };
    for (const SessionCase& c : cases) {
        KwpStackFixture::Options options;
        options.parameter = c.parameter;
        options.slots = {{c.slot, {{0xFA, 0x18}}}};
        options.respond = Table({{"27 FD", "67 FD 00 00"}});
        KwpStackFixture f(options);
        ASSERT_EQ(f.CreateAndConnect(), 0);
        f.ClearSent();
        EXPECT_EQ(f.ecu->RunService(AccessOrder(0x85, c.baudrate)), 0) << c.request;
        ASSERT_FALSE(f.Requests().empty());
        EXPECT_EQ(f.Requests().front(), c.request);
        EXPECT_EQ(f.containers.front()->baudrates, std::vector<int32_t>{c.baudrate});
    }
}

TEST(Kwp2000Session, RefusedSessionKeepsBaudrateAndEndsAccess) {
    KwpStackFixture::Options options;
    options.respond = Table({{"10 85 02", "7F 10 12"}});
    KwpStackFixture f(options);
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    EXPECT_EQ(f.ecu->RunService(AccessOrder(0x85, 19200)), CSKwp2000::kNegativeResponse);
    EXPECT_EQ(f.Requests(), std::vector<std::string>{"10 85 02"});
    EXPECT_TRUE(f.containers.front()->baudrates.empty());
}

TEST(Kwp2000Session, PredefinedAccessIsRefused) {
    KwpStackFixture f;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    ServiceOrder predefined = AccessOrder(0x85, 10400);
    predefined.predefinedSession = 2;
    EXPECT_EQ(f.ecu->RunService(predefined), kResultNotPermitted);
    EXPECT_TRUE(f.Requests().empty());
}

// A baud rate of 0 or less has no id of its own: the six-byte form carries it, and the line
// keeps its speed.
TEST(Kwp2000Session, BaudrateOfZeroOrLessSendsTheSixByteForm) {
    const struct {
        int32_t baudrate;
        const char* request;
    } cases[] = {{0, "10 85 06 00 00 00"}, {-1, "10 85 06 FF FF FF"}};
    for (const auto& c : cases) {
        KwpStackFixture::Options options;
        options.respond = Table({{"27 FD", "67 FD 00 00"}});
        KwpStackFixture f(options);
        ASSERT_EQ(f.CreateAndConnect(), 0);
        f.ClearSent();
        EXPECT_EQ(f.ecu->RunService(AccessOrder(0x85, c.baudrate)), 0) << c.baudrate;
        ASSERT_FALSE(f.Requests().empty());
        EXPECT_EQ(f.Requests().front(), c.request);
        EXPECT_TRUE(f.containers.front()->baudrates.empty()) << c.baudrate;
    }
}

TEST(Kwp2000Access, OemTesterAddress) {
    KwpStackFixture::Options options;
    options.slots = {{1, {{0xFA, 0x18}, {0xF0, 0x18}}}};
    options.respond = Table({{"27 FD", "67 FD 00 00"}});
    KwpStackFixture f(options);
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    ServiceOrder order = AccessOrder(0x81, 10400);
    order.oemId = 0;  // table value FA: below F0, addresses untouched
    EXPECT_EQ(f.ecu->RunService(order), 0);
    std::vector<SentRequest> sent = f.sent.Items();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].tester, 0xFA);
    f.ClearSent();
    order.oemId = 1;  // F0: reconnect under the OEM tester address
    EXPECT_EQ(f.ecu->RunService(order), 0);
    sent = f.sent.Items();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].tester, 0xF0);
    EXPECT_EQ(sent[0].request, "10 81");
    order.oemId = 16;
    EXPECT_EQ(f.ecu->RunService(order), kResultBadParameter);
}

struct SecurityCase {
    const char* name;
    int32_t mode;
    const char* seedAnswer;
    const char* keyAnswer;
    int32_t result;
    std::vector<std::string> requests;  // after the session request
};

class SecurityAccess : public ::testing::TestWithParam<SecurityCase> {};

TEST_P(SecurityAccess, SeedKeyAndRefusals) {
    const SecurityCase& c = GetParam();
    KwpStackFixture::Options options;
    options.respond = Table({{"27 FD", c.seedAnswer}, {"27 FE 26 26", c.keyAnswer}});
    int32_t result = 0;
    std::vector<std::string> requests = AccessRequests(options, AccessOrder(c.mode, 10400), result);
    EXPECT_EQ(result, c.result);
    ASSERT_FALSE(requests.empty());
    requests.erase(requests.begin());
    EXPECT_EQ(requests, c.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Kwp2000, SecurityAccess,
    ::testing::Values(
        SecurityCase{"DefaultSession", 0x81, "67 FD 12 34", "67 FE", 0, {}},
        SecurityCase{"ZeroSeed", 0x85, "67 FD 00 00", "67 FE", 0, {"27 FD"}},
        SecurityCase{"SeedAndKey", 0x85, "67 FD 12 34", "67 FE", 0, {"27 FD", "27 FE 26 26"}},
        SecurityCase{"InvalidKeyOnSeed", 0x85, "7F 27 35", "67 FE", -102, {"27 FD"}},
        SecurityCase{"AttemptsOnSeed", 0x85, "7F 27 36", "67 FE", -102, {"27 FD"}},
        SecurityCase{"DelayOnSeed", 0x85, "7F 27 37", "67 FE", -103, {"27 FD"}},
        SecurityCase{"OtherRefusalOnSeed", 0x85, "7F 27 12", "67 FE", -100, {"27 FD"}},
        SecurityCase{"ShortSeed", 0x85, "67 FD", "67 FE", -101, {"27 FD"}},
        SecurityCase{"KeyRefused", 0x85, "67 FD 12 34", "7F 27 35", -102, {"27 FD", "27 FE 26 26"}},
        SecurityCase{"KeyDelay", 0x85, "67 FD 12 34", "7F 27 37", -103, {"27 FD", "27 FE 26 26"}},
        SecurityCase{"KeyDenied", 0x85, "67 FD 12 34", "7F 27 33", -100, {"27 FD", "27 FE 26 26"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Kwp2000Access, ModelWithoutAccessSendsNoSeed) {
    KwpStackFixture f;
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ecu->seedRequest.clear();
    f.ClearSent();
    EXPECT_EQ(f.ecu->RunService(AccessOrder(0x85, 10400)), 0);
    EXPECT_EQ(f.Requests(), std::vector<std::string>{"10 85"});
}

// ---------------------------------------------------------------- timing parameters

TEST(Kwp2000Timing, TablesEncodeFirstCodeNotShorter) {
    const KwpTimingTables tables;
    using T = KwpTimingTables;
    struct Case {
        T::Parameter parameter;
        double ms;
        uint8_t code;
    };
    const Case cases[] = {
        {T::kP2Min, 5, 10},      {T::kP2Min, 5.2, 11},    {T::kP3Min, 0, 0},
        {T::kP2Max, 50, 2},      {T::kP2Max, 6000, 240},  {T::kP2Max, 6001, 241},
        {T::kP2Max, 6400, 241},  {T::kP3Max, 5000, 20},   {T::kP3Max, 63750, 255},
        {T::kP3Max, 70000, 255}, {T::kP4Min, 127.5, 255}, {T::kP4Min, 500, 255},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tables.Encode(c.parameter, c.ms), c.code) << c.parameter << " " << c.ms;
    }
    EXPECT_DOUBLE_EQ(tables.Ms(T::kP2Max, 242), 2 * 256 * 25.0);
}

struct TimingCase {
    const char* name;
    const char* limits;   // answer to 83 00
    const char* current;  // answer to 83 02
    const char* set;      // the 83 03 request
    int32_t result;
    bool defaults;                // 83 01 sent
    std::vector<int32_t> p3Mins;  // P3min (ms) put in force on the line
    const char* defaultsAnswer = "C3 01";
};

class AccessTiming : public ::testing::TestWithParam<TimingCase> {};

TEST_P(AccessTiming, ClampsToLimitsAndVerifies) {
    const TimingCase& c = GetParam();
    KwpStackFixture::Options options;
    options.respond = Table({{"27 FD", "67 FD 00 00"},
                             {"83 00", c.limits},
                             {"83 02", c.current},
                             {"83 01", c.defaultsAnswer}});
    KwpStackFixture f(options);
    ASSERT_EQ(f.CreateAndConnect(), 0);
    f.ClearSent();
    f.containers.front()->p3Mins.clear();
    // The model wishes 5, 50, 0, 5000, 0 ms.
    EXPECT_EQ(f.ecu->RunService(AccessOrder(0x85, 10400, true)), c.result);
    const std::vector<std::string> requests = f.Requests();
    std::vector<std::string> expected = {"10 85", "27 FD", "83 00"};
    if (c.set[0] != '\0') {
        expected.push_back(c.set);
        expected.push_back("83 02");
    }
    if (c.defaults) expected.push_back("83 01");
    EXPECT_EQ(requests, expected);
    // The model's timing first (ReInit), then what was agreed or restored.
    std::vector<int32_t> p3Mins = {0};
    p3Mins.insert(p3Mins.end(), c.p3Mins.begin(), c.p3Mins.end());
    EXPECT_EQ(f.containers.front()->p3Mins, p3Mins);
    if (!c.defaults) return;
    const std::vector<std::string> progress = f.ProgressTexts();
    EXPECT_NE(std::find(progress.begin(), progress.end(),
                        std::string("ServiceSetDiagnosticAccess: Special Timing rejected: set "
                                    "[0A 02 00 14 00], read back [") +
                            c.current + "]"),
              progress.end());
}

INSTANTIATE_TEST_SUITE_P(
    Kwp2000, AccessTiming,
    ::testing::Values(
        // Limits 10, 25, 5, 10000, 1 ms: minima raised to them, P2MAX cut to 25.
        TimingCase{"Clamped",
                   "C3 00 14 01 0A 28 02",
                   "C3 02 14 01 0A 14 02",
                   "83 03 14 01 0A 14 02",
                   0,
                   false,
                   {5}},
        // Wide limits leave the wishes.
        TimingCase{"Wishes",
                   "C3 00 00 FF 00 FF 00",
                   "C3 02 0A 02 00 14 00",
                   "83 03 0A 02 00 14 00",
                   0,
                   false,
                   {0}},
        // Not taken: back to the defaults, the session stays open.
        TimingCase{"NotTaken",
                   "C3 00 00 FF 00 FF 00",
                   "C3 02 0A 02 00 15 00",
                   "83 03 0A 02 00 14 00",
                   0,
                   true,
                   {0}},
        TimingCase{"NotTakenDefaultsRefused",
                   "C3 00 00 FF 00 FF 00",
                   "C3 02 0A 02 00 15 00",
                   "83 03 0A 02 00 14 00",
                   -100,
                   true,
                   {},
                   "7F 83 22"},
        TimingCase{"ShortLimits", "C3 00 00 FF", "", "", -101, false, {}},
        TimingCase{"LimitsRefused", "7F 83 11", "", "", -100, false, {}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace diagbridge::testing
