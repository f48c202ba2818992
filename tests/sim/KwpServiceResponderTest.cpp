#include "sim/kline/KwpServiceResponder.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "tests/sim/KwpTestSupport.h"

namespace diagbridge::sim {
namespace {

using test::Ask;
using test::AskAll;
using test::Bytes;

struct ServiceCase {
    const char* what;
    Bytes request;
    std::optional<Bytes> answer;  // nullopt: silent
};

// One request after the other on a fresh T60 in the default session.
const ServiceCase kT60Cases[] = {
    {"tester present", {0x3E}, Bytes{0x7E}},
    {"tester present, answer wanted", {0x3E, 0x01}, Bytes{0x7E}},
    {"tester present, no answer wanted", {0x3E, 0x02}, std::nullopt},
    {"tester present, unknown mode", {0x3E, 0x05}, Bytes{0x7F, 0x3E, 0x12}},
    {"session", {0x10, 0x81}, Bytes{0x50, 0x81}},
    {"session with baud-rate id", {0x10, 0x85, 0x02}, Bytes{0x50, 0x85}},
    {"session with baud rate", {0x10, 0x86, 0x06, 0x00, 0x30, 0x39}, Bytes{0x50, 0x86}},
    {"session the controller lacks", {0x10, 0x99}, Bytes{0x7F, 0x10, 0x12}},
    {"session with unknown baud-rate id", {0x10, 0x85, 0x07}, Bytes{0x7F, 0x10, 0x12}},
    {"session with baud rate 0", {0x10, 0x85, 0x06, 0, 0, 0}, Bytes{0x7F, 0x10, 0x12}},
    {"session without mode", {0x10}, Bytes{0x7F, 0x10, 0x12}},
    {"hardware version: the object type",
     {0x1A, 0x93},
     Bytes{0x5A, 0x93, 'T', '6', '0', 0, 0, 0, 0, 0}},
    {"production date", {0x1A, 0x8F}, Bytes{0x5A, 0x8F, 0x20, 0x19, 0x05, 0x14, 0x00, 0x03}},
    {"numeric OEM id", {0x1A, 0xBF}, Bytes{0x5A, 0xBF, 0, 0, 0, 1}},
    {"ident option unknown", {0x1A, 0x42}, Bytes{0x7F, 0x1A, 0x31}},
    {"ident without option", {0x1A}, Bytes{0x7F, 0x1A, 0x12}},
    {"FRAM layout", {0x21, 0x01}, Bytes{0x61, 0x01, 0x40, 0x01, 0x80, 0x00, 0xFE, 0x80}},
    {"memory map", {0x21, 0x02}, Bytes{0x61, 0x02, 0x40, 0x01, 0x80, 0x00, 0x7E, 0xE0}},
    {"upgrade status before any download", {0x21, 0x03}, Bytes{0x61, 0x03, 0x00, 0x00}},
    {"local identifier unknown", {0x21, 0x55}, Bytes{0x7F, 0x21, 0x31}},
    {"memory outside every area", {0x23, 0x00, 0x00, 0x00, 0x04}, Bytes{0x7F, 0x23, 0x31}},
    {"memory read across the end of the area",
     {0x23, 0x40, 0xFF, 0xFE, 0x04},
     Bytes{0x7F, 0x23, 0x31}},
    {"memory read of 0 bytes", {0x23, 0x40, 0x01, 0x80, 0x00}, Bytes{0x7F, 0x23, 0x12}},
    {"memory read of 255 bytes", {0x23, 0x40, 0x01, 0x80, 0xFF}, Bytes{0x7F, 0x23, 0x12}},
    {"timing limits", {0x83, 0x00}, Bytes{0xC3, 0x00, 0x00, 0x28, 0x00, 0x28, 0x00}},
    {"timing current: the defaults", {0x83, 0x02}, Bytes{0xC3, 0x02, 0x32, 0x02, 0x6E, 0x14, 0x0A}},
    {"timing set within the limits", {0x83, 0x03, 0x0A, 0x02, 0x00, 0x14, 0x00}, Bytes{0xC3, 0x03}},
    {"timing current: as set", {0x83, 0x02}, Bytes{0xC3, 0x02, 0x0A, 0x02, 0x00, 0x14, 0x00}},
    {"timing set: P2MAX beyond its limit",
     {0x83, 0x03, 0x0A, 0x29, 0x00, 0x14, 0x00},
     Bytes{0x7F, 0x83, 0x31}},
    {"timing set: a code missing", {0x83, 0x03, 0x0A, 0x02, 0x00, 0x14}, Bytes{0x7F, 0x83, 0x12}},
    {"timing defaults", {0x83, 0x01}, Bytes{0xC3, 0x01}},
    {"timing current: the defaults again",
     {0x83, 0x02},
     Bytes{0xC3, 0x02, 0x32, 0x02, 0x6E, 0x14, 0x0A}},
    {"timing, unknown", {0x83, 0x04}, Bytes{0x7F, 0x83, 0x12}},
    {"trouble codes, all groups",
     {0x18, 0x02, 0xFF, 0xFF},
     Bytes{0x58, 0x03, 0x50, 0x12, 0x62, 0x61, 0x01, 0x22, 0x7A, 0x03, 0xE2}},
    {"trouble codes, one", {0x18, 0x00, 0x61, 0x01}, Bytes{0x58, 0x01, 0x61, 0x01, 0x22}},
    {"trouble codes, wrong length", {0x18, 0x02, 0xFF}, Bytes{0x7F, 0x18, 0x12}},
    {"trouble code status",
     {0x17, 0x50, 0x12},
     Bytes{0x57, 0x01, 0x50, 0x12, 0x62, 0x01, 0x2C, 0x00, 0x4B}},
    {"trouble code status, not stored", {0x17, 0x12, 0x34}, Bytes{0x7F, 0x17, 0x31}},
    {"download while locked",
     {0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     Bytes{0x7F, 0x34, 0x33}},
    {"programming date write while locked",
     {0x3B, 0x8F, 0x20, 0x24, 0x03, 0x07, 0x00, 0x03},
     Bytes{0x7F, 0x3B, 0x33}},
    {"write of another identifier", {0x3B, 0x93, 0x41}, Bytes{0x7F, 0x3B, 0x31}},
    {"transfer without download", {0x36, 0x00, 0x00, 0x00, 0x01, 0xFF}, Bytes{0x7F, 0x36, 0x22}},
    {"transfer exit without download", {0x37}, Bytes{0x7F, 0x37, 0x22}},
    {"service not offered", {0x31, 0x01}, Bytes{0x7F, 0x31, 0x11}},
};

TEST(KwpServiceResponderTest, AnswersEveryServiceAsTheTesterExpects) {
    KwpServiceResponder responder(test::Model("T60"), {});
    for (const ServiceCase& c : kT60Cases) {
        EXPECT_EQ(Ask(responder, c.request), c.answer) << c.what;
    }
}

TEST(KwpServiceResponderTest, ModelsDifferInAddressesMemoryAndLevels) {
    const struct {
        const char* model;
        uint8_t ecuAddress;
        Bytes request;
        Bytes answer;
    } cases[] = {
        {"T65", 0x18, {0x21, 0x02}, {0x61, 0x02, 0x40, 0x01, 0x80, 0x00, 0xFE, 0xE0}},
        {"R60", 0xEF, {0x27, 0x01}, {0x7F, 0x27, 0x12}},  // the maker's access only
        {"LUMA_STANDARD", 0x29, {0x21, 0x04}, {0x61, 0x04, 0x80, 0x00, 0x00, 0x00, 0x08, 0x00}},
        {"LUMA_STANDARD", 0x29, {0x21, 0x03}, {0x7F, 0x21, 0x31}},  // no upgrade status
        {"LUMA_MAN_RETARDER",
         0x2D,
         {0x1A, 0x91},
         Bytes{0x5A, 0x91, '8', '1', '.', '6', '2', '1', '9', '0', '.', '6', '0', '2', '1'}},
        {"LUMA_KODIERSTATION", 0x2F, {0x23, 0x80, 0x08, 0x00, 0x01}, {0x7F, 0x23, 0x31}},
    };
    for (const auto& c : cases) {
        KwpServiceResponder responder(test::Model(c.model), {});
        EXPECT_EQ(responder.Model().ecuAddress, c.ecuAddress) << c.model;
        EXPECT_EQ(Ask(responder, c.request), c.answer) << c.model;
    }
}

TEST(KwpServiceResponderTest, SessionRequestSetsModeAndBaudRate) {
    KwpServiceResponder responder(test::Model("T60"), {});
    Ask(responder, {0x10, 0x85, 0x02});
    EXPECT_EQ(responder.Session(), 0x85);
    EXPECT_EQ(responder.BaudRate(), 19200u);
    Ask(responder, {0x10, 0x86, 0x06, 0x00, 0x30, 0x39});
    EXPECT_EQ(responder.BaudRate(), 12345u);
    responder.CommunicationChanged(false);
    EXPECT_EQ(responder.Session(), KwpServiceResponder::kDefaultSession);
    EXPECT_EQ(responder.BaudRate(), KwpServiceResponder::kDefaultBaudRate);
}

TEST(KwpServiceResponderTest, IdentListNamesEveryOptionTheControllerAnswers) {
    for (const std::string& name : KwpEcuModelNames()) {
        KwpServiceResponder responder(test::Model(name.c_str()), {});
        const std::optional<Bytes> list = Ask(responder, {0x1A, 0x80});
        ASSERT_TRUE(list && list->size() > 2) << name;
        EXPECT_EQ((*list)[0], 0x5A);
        for (size_t i = 2; i < list->size(); ++i) {
            const std::optional<Bytes> answer = Ask(responder, {0x1A, (*list)[i]});
            ASSERT_TRUE(answer) << name;
            EXPECT_EQ((*answer)[0], 0x5A) << name << " option " << int((*list)[i]);
        }
    }
}

TEST(KwpServiceResponderTest, MemoryReadsAreConsistentByAddress) {
    KwpServiceResponder responder(test::Model("T60"), {});
    const std::optional<Bytes> whole = Ask(responder, {0x23, 0x40, 0x01, 0x80, 0x10});
    const std::optional<Bytes> tail = Ask(responder, {0x23, 0x40, 0x01, 0x88, 0x08});
    ASSERT_TRUE(whole && tail);
    ASSERT_EQ(whole->size(), 17u);
    EXPECT_EQ((*whole)[0], 0x63);
    EXPECT_EQ(Bytes(whole->begin() + 9, whole->end()), Bytes(tail->begin() + 1, tail->end()));
    // The last byte of the area can be read, one past it cannot.
    EXPECT_EQ(Ask(responder, {0x23, 0x40, 0xFF, 0xFF, 0x01})->size(), 2u);
    EXPECT_EQ(Ask(responder, {0x23, 0x41, 0x00, 0x00, 0x01}), (Bytes{0x7F, 0x23, 0x31}));
}

TEST(KwpServiceResponderTest, ClearedTroubleCodesAreGone) {
    KwpServiceResponder responder(test::Model("T60"), {});
    EXPECT_EQ(Ask(responder, {0x14, 0x61, 0x01}), (Bytes{0x54, 0x61, 0x01}));
    EXPECT_EQ(Ask(responder, {0x18, 0x02, 0xFF, 0xFF}),
              (Bytes{0x58, 0x02, 0x50, 0x12, 0x62, 0x7A, 0x03, 0xE2}));
    EXPECT_EQ(Ask(responder, {0x17, 0x61, 0x01}), (Bytes{0x7F, 0x17, 0x31}));
    Ask(responder, {0x14, 0xFF, 0xFF});
    EXPECT_EQ(Ask(responder, {0x18, 0x02, 0xFF, 0xFF}), (Bytes{0x58, 0x00}));
}

TEST(KwpServiceResponderTest, ProgrammingDateIsWrittenOnlyWhole) {
    KwpServiceResponder responder(test::Model("T60"), {});
    test::Unlock(responder, 0x85, 0xFD, KwpKeyRoutine::kMaker);
    ASSERT_EQ(responder.UnlockedLevel(), 0xFD);
    const struct {
        Bytes request;
        Bytes answer;
    } cases[] = {
        {{0x3B, 0x8F, 0x20, 0x24, 0x03, 0x07, 0x00}, {0x7F, 0x3B, 0x12}},        // tail short
        {{0x3B, 0x8F, 0x20, 0x24, 0x13, 0x07, 0x00, 0x03}, {0x7F, 0x3B, 0x31}},  // month 13
        {{0x3B, 0x8F, 0x20, 0x24, 0x03, 0x3A, 0x00, 0x03}, {0x7F, 0x3B, 0x31}},  // no digit
        {{0x3B, 0x8F, 0x20, 0x24, 0x03, 0x07, 0x00, 0x03}, {0x7B, 0x8F}},
    };
    for (const auto& c : cases) EXPECT_EQ(Ask(responder, c.request), c.answer);
    EXPECT_EQ(Ask(responder, {0x1A, 0x8F}),
              (Bytes{0x5A, 0x8F, 0x20, 0x24, 0x03, 0x07, 0x00, 0x03}));
}

TEST(KwpServiceResponderTest, WrongIdentReportsTheOtherObjectType) {
    KwpResponderOptions options;
    options.objectType = "T65";
    KwpServiceResponder responder(test::Model("T60"), options);
    EXPECT_EQ(Ask(responder, {0x1A, 0x93}), (Bytes{0x5A, 0x93, 'T', '6', '5'}));
    EXPECT_EQ(Ask(responder, {0x1A, 0x8E}), (Bytes{0x5A, 0x8E, 'T', '6', '5'}));
}

// ---------------------------------------------------------------- security access

TEST(KwpAccessKeysTest, MatchKnownKeys) {
    const struct {
        KwpKeyRoutine routine;
        uint8_t mode;
        uint16_t key;
    } cases[] = {
        {KwpKeyRoutine::kMaker, 0x85, 0xE676},        {KwpKeyRoutine::kMaker, 0x81, 0xDB99},
        {KwpKeyRoutine::kVehicleMaker, 0x83, 0xC9BE}, {KwpKeyRoutine::kVehicleMaker, 0x89, 0x4030},
        {KwpKeyRoutine::kMan, 0x84, 0xCFF5},          {KwpKeyRoutine::kMan, 0x81, 0xCAE0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KwpAccessKey(c.routine, 0x1234, c.mode), c.key) << int(c.mode);
    }
}

// Worked by hand from the routines' steps.
TEST(KwpAccessKeysTest, HandWorkedKeys) {
    // Maker, mode 83: -1234 = EDCC = 1110 1101 1100 1100; rotated left by 3:
    // 0110 1110 0110 0111 = 6E67.
    EXPECT_EQ(KwpAccessKey(KwpKeyRoutine::kMaker, 0x1234, 0x83), 0x6E67);
    // Maker, mode 87: -FFFF = 0001, rotated left by 11 = 0800.
    EXPECT_EQ(KwpAccessKey(KwpKeyRoutine::kMaker, 0xFFFF, 0x87), 0x0800);
    // Vehicle maker, mode 85: 1234 rotated left by 5 = 4682 (18050); x 1C4D (7245) =
    // 130772250; / 7 = 18681750 = 0x011D0F96; low 16 bits 0F96.
    EXPECT_EQ(KwpAccessKey(KwpKeyRoutine::kVehicleMaker, 0x1234, 0x85), 0x0F96);
    // MAN, mode 83: 1234 rotated left by 3 = 91A0 (37280); x 4E2D (20013) = 746084640;
    // / 5 = 149216928 = 0x08E4DEA0; low 16 bits DEA0.
    EXPECT_EQ(KwpAccessKey(KwpKeyRoutine::kMan, 0x1234, 0x83), 0xDEA0);
}

struct LevelCase {
    const char* model;
    uint8_t mode;
    uint8_t seedLevel;
    KwpKeyRoutine routine;
};

const LevelCase kLevels[] = {
    {"T60", 0x85, 0xFD, KwpKeyRoutine::kMaker},
    {"T60", 0x83, 0x01, KwpKeyRoutine::kVehicleMaker},
    {"R60", 0x86, 0xFD, KwpKeyRoutine::kMaker},
    {"LUMA_STANDARD", 0x87, 0xFD, KwpKeyRoutine::kMaker},
    {"LUMA_STANDARD", 0x83, 0x01, KwpKeyRoutine::kMan},
    {"LUMA_MAN_RETARDER", 0x89, 0xFB, KwpKeyRoutine::kMan},
};

TEST(KwpSecurityTest, AcceptsTheKeyOfEachLevelAndAnswersZeroSeedOnceUnlocked) {
    for (const LevelCase& c : kLevels) {
        KwpServiceResponder responder(test::Model(c.model), {});
        test::Unlock(responder, c.mode, c.seedLevel, c.routine);
        EXPECT_EQ(responder.UnlockedLevel(), c.seedLevel) << c.model << " " << int(c.seedLevel);
        EXPECT_EQ(Ask(responder, {0x27, c.seedLevel}), (Bytes{0x67, c.seedLevel, 0x00, 0x00}));
        // A new session starts locked again.
        Ask(responder, {0x10, c.mode});
        EXPECT_EQ(responder.UnlockedLevel(), 0);
    }
}

TEST(KwpSecurityTest, KeyOfAnotherModeOrLevelIsRefused) {
    KwpServiceResponder responder(test::Model("T60"), {});
    Ask(responder, {0x10, 0x85});
    const std::optional<Bytes> seed = Ask(responder, {0x27, 0xFD});
    ASSERT_TRUE(seed && seed->size() == 4);
    const auto value = static_cast<uint16_t>(((*seed)[2] << 8) | (*seed)[3]);
    EXPECT_NE(value, 0);
    const uint16_t wrongMode = KwpAccessKey(KwpKeyRoutine::kMaker, value, 0x83);
    EXPECT_EQ(Ask(responder, {0x27, 0xFE, static_cast<uint8_t>(wrongMode >> 8),
                              static_cast<uint8_t>(wrongMode)}),
              (Bytes{0x7F, 0x27, 0x35}));
    EXPECT_EQ(responder.UnlockedLevel(), 0);
    // The key of a level whose seed was not asked for is out of sequence.
    EXPECT_EQ(Ask(responder, {0x27, 0x02, 0x12, 0x34}), (Bytes{0x7F, 0x27, 0x22}));
    EXPECT_EQ(Ask(responder, {0x27, 0x03}), (Bytes{0x7F, 0x27, 0x12}));
    EXPECT_EQ(Ask(responder, {0x27, 0xFD, 0x00}), (Bytes{0x7F, 0x27, 0x12}));
}

TEST(KwpSecurityTest, TooManyWrongKeysLockOutUntilTheDelayPassed) {
    platform::ManualClock clock(1000);
    platform::ScopedClock installed(clock);
    KwpServiceResponder responder(test::Model("T60"), {});
    Ask(responder, {0x10, 0x85});
    const Bytes wrongKey = {0x27, 0xFE, 0x00, 0x00};
    for (uint32_t attempt = 1; attempt <= KwpSecurityAccess::kMaxAttempts; ++attempt) {
        Ask(responder, {0x27, 0xFD});
        const uint8_t code = attempt < KwpSecurityAccess::kMaxAttempts ? 0x35 : 0x36;
        EXPECT_EQ(Ask(responder, wrongKey), (Bytes{0x7F, 0x27, code})) << attempt;
    }
    EXPECT_EQ(Ask(responder, {0x27, 0xFD}), (Bytes{0x7F, 0x27, 0x37}));
    clock.Advance(KwpSecurityAccess::kLockoutMs - 1);
    EXPECT_EQ(Ask(responder, {0x27, 0xFD}), (Bytes{0x7F, 0x27, 0x37}));
    clock.Advance(1);
    test::Unlock(responder, 0x85, 0xFD, KwpKeyRoutine::kMaker);
    EXPECT_EQ(responder.UnlockedLevel(), 0xFD);
}

TEST(KwpSecurityTest, StoppedCommunicationLocks) {
    KwpServiceResponder responder(test::Model("T60"), {});
    test::Unlock(responder, 0x85, 0xFD, KwpKeyRoutine::kMaker);
    ASSERT_EQ(responder.UnlockedLevel(), 0xFD);
    responder.CommunicationChanged(false);
    EXPECT_EQ(responder.UnlockedLevel(), 0);
    ASSERT_EQ(Ask(responder, {0x10, 0x85}), (Bytes{0x50, 0x85}));
    EXPECT_EQ(Ask(responder, {0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
              (Bytes{0x7F, 0x34, 0x33}));
}

// ---------------------------------------------------------------- injected faults

struct FaultCase {
    const char* what;
    std::vector<KwpServiceFault> faults;
    std::vector<Bytes> requests;
    std::vector<std::vector<Bytes>> answers;  // the frames of each request; empty: silent
};

using Kind = KwpServiceFault::Kind;
const Bytes kPending1A = {0x7F, 0x1A, 0x78};
const Bytes kAnswer93 = {0x5A, 0x93, 'T', '6', '0', 0, 0, 0, 0, 0};

const FaultCase kFaultCases[] = {
    {"silence of one service for one request",
     {{Kind::kSilence, 0x1A, 0, 1}},
     {{0x3E}, {0x1A, 0x93}, {0x1A, 0x93}},
     {{{0x7E}}, {}, {kAnswer93}}},
    {"silence of every service",
     {{Kind::kSilence, KwpServiceFault::kAnyService, 0, KwpServiceFault::kEveryRequest}},
     {{0x3E}, {0x1A, 0x93}},
     {{}, {}}},
    {"pending answers before the real one",
     {{Kind::kPending, 0x1A, 3, 1}},
     {{0x1A, 0x93}, {0x1A, 0x93}},
     {{kPending1A, kPending1A, kPending1A, kAnswer93}, {kAnswer93}}},
    {"pending before a silent answer",
     {{Kind::kPending, 0x3E, 1, 1}},
     {{0x3E, 0x02}},
     {{{0x7F, 0x3E, 0x78}}}},
    {"busy answers, then the real one",
     {{Kind::kBusy, 0x1A, 0, 2}},
     {{0x1A, 0x93}, {0x1A, 0x93}, {0x1A, 0x93}},
     {{{0x7F, 0x1A, 0x21}}, {{0x7F, 0x1A, 0x21}}, {kAnswer93}}},
    {"negative answer of one service, for good",
     {{Kind::kNegative, 0x21, 0x22, KwpServiceFault::kEveryRequest}},
     {{0x21, 0x02}, {0x21, 0x02}, {0x3E}},
     {{{0x7F, 0x21, 0x22}}, {{0x7F, 0x21, 0x22}}, {{0x7E}}}},
    {"another service's answer once",
     {{Kind::kForeign, 0x1A, 0, 1, {0x7E, 0x00}}},
     {{0x1A, 0x93}, {0x1A, 0x93}},
     {{{0x7E, 0x00}}, {kAnswer93}}},
    {"the first fault that fits acts",
     {{Kind::kNegative, 0x3E, 0x10, 1}, {Kind::kBusy, KwpServiceFault::kAnyService, 0, 1}},
     {{0x3E}, {0x3E}, {0x3E}},
     {{{0x7F, 0x3E, 0x10}}, {{0x7F, 0x3E, 0x21}}, {{0x7E}}}},
};

TEST(KwpServiceFaultTest, FaultsActOnTheirServiceUntilUsedUp) {
    for (const FaultCase& c : kFaultCases) {
        KwpServiceResponder responder(test::Model("T60"), {});
        responder.InjectFaults(c.faults);
        for (size_t i = 0; i < c.requests.size(); ++i) {
            EXPECT_EQ(AskAll(responder, c.requests[i]), c.answers[i])
                << c.what << ", request " << i;
        }
    }
}

TEST(KwpServiceFaultTest, ParsesTheFaultTexts) {
    KwpFaultOptions options;
    std::string error;
    for (const char* text :
         {"silence@1A*2", "pending:3@36", "busy*4", "negative:31@23*1", "silence*3", "checksum*2",
          "ident:T65", "upgrade-fail", "foreign:7F3E11@1A*1"}) {
        EXPECT_TRUE(ParseKwpFault(text, options, error)) << text;
    }
    ASSERT_EQ(options.serviceFaults.size(), 5u);
    const KwpServiceFault& silence = options.serviceFaults[0];
    EXPECT_EQ(silence.kind, Kind::kSilence);
    EXPECT_EQ(silence.service, 0x1A);
    EXPECT_EQ(silence.times, 2u);
    const KwpServiceFault& pending = options.serviceFaults[1];
    EXPECT_EQ(pending.kind, Kind::kPending);
    EXPECT_EQ(pending.value, 3);
    EXPECT_EQ(pending.service, 0x36);
    EXPECT_EQ(pending.times, KwpServiceFault::kEveryRequest);
    EXPECT_EQ(options.serviceFaults[2].service, KwpServiceFault::kAnyService);
    EXPECT_EQ(options.serviceFaults[3].value, 0x31);
    const KwpServiceFault& foreign = options.serviceFaults[4];
    EXPECT_EQ(foreign.kind, Kind::kForeign);
    EXPECT_EQ(foreign.answer, (Bytes{0x7F, 0x3E, 0x11}));
    EXPECT_EQ(foreign.service, 0x1A);
    EXPECT_EQ(foreign.times, 1u);
    EXPECT_EQ(options.silentRequests, 3u);
    EXPECT_EQ(options.badChecksumResponses, 2u);
    EXPECT_EQ(options.objectType, "T65");
    EXPECT_TRUE(options.upgradeFails);

    for (const char* text :
         {"",         "noise",       "pending",    "pending:0",   "pending:300",
          "negative", "negative:XY", "silence:1",  "busy@1G",     "busy@123",
          "busy*x",   "checksum@10", "checksum*0", "ident:",      "ident:T65*2",
          "busy@81",  "silence@82",  "foreign",    "foreign:7E0", "foreign:ZZ@1A"}) {
        KwpFaultOptions untouched;
        EXPECT_FALSE(ParseKwpFault(text, untouched, error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(untouched.serviceFaults.empty()) << text;
        EXPECT_EQ(untouched.silentRequests, 0u) << text;
    }
}

}  // namespace
}  // namespace diagbridge::sim
