#include "sim/uds/UdsEcuServices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/CConvert.h"
#include "sim/uds/UdsEcuCrc32.h"
#include "uds/Crc32.h"

namespace diagbridge::sim {
namespace {

constexpr UdsKeyRule kProgrammingRule = {0x02, 0x61, 3, 5, 2};
constexpr UdsKeyRule kExtendedRule = {0x03, 0x61, 7, 11, 2};
constexpr UdsKeyRule kWideRule = {0x03, 0x05, 3, 1, 4};

UdsEcuProfile TestProfile() {
    UdsEcuProfile profile = DefaultUdsEcuProfile();
    profile.keyRules = {kProgrammingRule, kExtendedRule, kWideRule};
    profile.maxBlockLength = 0x0C00;
    return profile;
}

UdsDownloadStyle Restarting() {
    UdsDownloadStyle style;
    style.counterRestarts = true;
    return style;
}

// The services with requests and answers as hex byte strings; "" for silence.
class Ecu {
  public:
    explicit Ecu(UdsEcuProfile profile = TestProfile(), UdsDownloadStyle style = Restarting())
        : services(std::move(profile)) {
        services.SetDownloadStyle(style);
    }

    std::string Ask(const std::string& request, bool functional = false) {
        uint8_t bytes[4096];
        std::size_t length = 0;
        EXPECT_GT(HexStringToBytes(request, bytes, sizeof(bytes), length), 0) << request;
        return Ask(bytes, length, functional);
    }
    std::string Ask(const std::vector<uint8_t>& request) {
        return Ask(request.data(), request.size(), false);
    }
    // Opens the session and security level of rule with the right key.
    void Unlock(const UdsKeyRule& rule) {
        char text[32];
        std::snprintf(text, sizeof(text), "10 %02X", rule.session);
        ASSERT_EQ(Ask(text).substr(0, 5), "50 " + std::string(text + 3));
        std::snprintf(text, sizeof(text), "27 %02X", rule.seedLevel);
        const std::string seed = Ask(text);
        ASSERT_EQ(seed.size(), 2u + 3u * (1u + rule.seedBytes)) << seed;
        ASSERT_EQ(Ask(KeyRequest(rule, seed)), KeyAnswer(rule));
    }
    static std::string KeyRequest(const UdsKeyRule& rule, const std::string& seedAnswer,
                                  uint32_t delta = 0) {
        uint8_t bytes[8];
        std::size_t length = 0;
        HexStringToBytes(seedAnswer, bytes, sizeof(bytes), length);
        uint32_t seed = 0;
        for (std::size_t i = 2; i < length; ++i) seed = (seed << 8) | bytes[i];
        const uint32_t key = UdsKeyFor(rule, seed) + delta;
        char text[40];
        if (rule.seedBytes == 4) {
            std::snprintf(text, sizeof(text), "27 %02X %02X %02X %02X %02X", rule.seedLevel + 1,
                          key >> 24, (key >> 16) & 0xFF, (key >> 8) & 0xFF, key & 0xFF);
        } else {
            std::snprintf(text, sizeof(text), "27 %02X %02X %02X", rule.seedLevel + 1,
                          (key >> 8) & 0xFF, key & 0xFF);
        }
        return text;
    }
    static std::string KeyAnswer(const UdsKeyRule& rule) {
        char text[8];
        std::snprintf(text, sizeof(text), "67 %02X", rule.seedLevel + 1);
        return text;
    }

    UdsEcuServices services;

  private:
    std::string Ask(const uint8_t* bytes, std::size_t length, bool functional) {
        uint8_t response[4095];
        const UdsAnswer answer =
            services.Handle(bytes, length, functional, response, sizeof(response));
        return answer.suppressed ? "" : BytesToHexString(response, answer.length);
    }
};

TEST(UdsKeyTest, KeysOfTwoAndFourByteSeeds) {
    EXPECT_EQ(UdsKeyFor({0x02, 0x61, 3, 5, 2}, 0x1234), (0x1234u * 3 + 5) & 0xFFFF);
    EXPECT_EQ(UdsKeyFor({0x02, 0x61, 9999, 9999, 2}, 0xFFFF), (0xFFFFu * 9999 + 9999) % 65536);
    EXPECT_EQ(UdsKeyFor({0x03, 0x05, 3, 1, 4}, 0x80000000u), 0x80000001u);
}

TEST(UdsEcuServicesTest, AnswersOfTheDiagnosticServices) {
    struct Case {
        const char* request;
        const char* answer;
    };
    const Case cases[] = {
        {"10 03", "50 03 00 32 01 F4"},
        {"10 83", ""},  // suppressed positive response
        {"10 05", "7F 10 12"},
        {"10", "7F 10 13"},
        {"3E 00", "7E 00"},
        {"3E 80", ""},
        {"3E 01", "7F 3E 12"},
        {"22 F1 8C", "62 F1 8C 00 12 D6 87"},
        {"22 FD 02 F1 8C", "62 FD 02 20 14 03 27 F1 8C 00 12 D6 87"},
        {"22 12 34", "7F 22 31"},
        {"22 F1", "7F 22 13"},
        {"2E FE FF 20 14 03 27", "6E FE FF"},
        {"22 FE FF", "62 FE FF 20 14 03 27"},
        {"2E 12 34 01", "7F 2E 31"},
        {"23 13 10 00", "7F 23 13"},
        {"23 05 00 00 00 00 00 01", "7F 23 31"},
        {"19 01 FF", "59 01 FF 01 00 02"},
        {"19 01 08", "59 01 FF 01 00 02"},
        {"19 01 20", "59 01 FF 01 00 01"},
        {"19 02 FF", "59 02 FF 01 23 45 2F C1 00 00 08"},
        {"19 02 04", "59 02 FF 01 23 45 2F"},
        {"19 06 01 23 45 01", "59 06 01 23 45 2F 01 01 05 10 00 3C"},
        {"19 06 01 23 46 01", "7F 19 31"},
        {"19 11 FF", "59 11 FF 01 00 01"},
        {"19 0F FF", "59 0F FF 05 43 21 28"},
        {"19 10 05 43 21 01", "59 10 05 43 21 28 01 01 02 00 00 07"},
        {"19 42 FF", "7F 19 12"},
        {"28 81 01", ""},
        {"28 03 01", "68 03"},
        {"28 04 01", "7F 28 12"},
        {"85 82", ""},
        {"85 01", "C5 01"},
        {"14 FF FF FF", "7F 14 11"},
        {"11 01", "51 01"},
        {"11 81", ""},
    };
    Ecu ecu;
    for (const Case& c : cases) {
        EXPECT_EQ(ecu.Ask(c.request), c.answer) << c.request;
    }
    const std::string memory = ecu.Ask("23 13 10 00 00 04");
    EXPECT_EQ(memory.size(), 2u + 3u * 4u) << memory;
    EXPECT_EQ(memory.substr(0, 2), "63");
    EXPECT_EQ(ecu.services.Resets(), 2u);
    EXPECT_EQ(ecu.services.CommunicationControl(), 0x00);  // the reset ended the session
}

TEST(UdsEcuServicesTest, FunctionalRequestsStaySilentOnUnsupportedServices) {
    Ecu ecu;
    EXPECT_EQ(ecu.Ask("14 FF FF FF", true), "");
    EXPECT_EQ(ecu.Ask("22 12 34", true), "");
    EXPECT_EQ(ecu.Ask("10 01 02", true), "7F 10 13");  // not one of the silent codes
    EXPECT_EQ(ecu.Ask("3E 00", true), "7E 00");
}

TEST(UdsEcuServicesTest, ResponseLongerThanTheBufferIsRefused) {
    Ecu ecu;
    EXPECT_EQ(ecu.Ask("23 24 00 00 00 00 10 00"), "7F 23 14");
    EXPECT_EQ(ecu.Ask("23 24 FF FF FF F0 00 20"), "7F 23 31");  // beyond the address space
}

TEST(UdsEcuServicesTest, SecurityAccessByTheSessionsKeyRule) {
    Ecu ecu;
    EXPECT_EQ(ecu.Ask("27 61"), "7F 27 7E");  // default session: no rule for the level here
    EXPECT_EQ(ecu.Ask("27 41"), "7F 27 12");  // no rule for the level anywhere
    EXPECT_EQ(ecu.Ask("10 02").substr(0, 5), "50 02");
    EXPECT_EQ(ecu.Ask("27 62 00 00"), "7F 27 24");  // key before seed
    const std::string seed = ecu.Ask("27 61");
    EXPECT_EQ(ecu.Ask(Ecu::KeyRequest(kExtendedRule, seed)).substr(0, 8), "7F 27 35")
        << "the key of another session's rule";
    EXPECT_EQ(ecu.Ask(Ecu::KeyRequest(kProgrammingRule, seed)), "7F 27 24")
        << "a seed serves one key";
    const std::string second = ecu.Ask("27 61");
    EXPECT_EQ(ecu.Ask(Ecu::KeyRequest(kProgrammingRule, second)), "67 62");
    EXPECT_EQ(ecu.services.UnlockedLevel(), 0x61);
    EXPECT_EQ(ecu.Ask("27 61"), "67 61 00 00");  // unlocked: the zero seed
    EXPECT_EQ(ecu.Ask("10 03").substr(0, 5), "50 03");
    EXPECT_EQ(ecu.services.UnlockedLevel(), 0);  // a session change locks
    ecu.Unlock(kWideRule);                       // 4-byte seed and key
}

TEST(UdsEcuServicesTest, ThreeWrongKeysLockUntilReset) {
    Ecu ecu;
    ecu.Ask("10 02");
    const char* expected[] = {"7F 27 35", "7F 27 35", "7F 27 36"};
    for (const char* answer : expected) {
        const std::string seed = ecu.Ask("27 61");
        EXPECT_EQ(ecu.Ask(Ecu::KeyRequest(kProgrammingRule, seed, 1)), answer);
    }
    EXPECT_EQ(ecu.Ask("27 61"), "7F 27 37");
    ecu.Ask("11 01");
    ecu.Unlock(kProgrammingRule);
}

// Request download, transfers and exit for data at start; bytes per transfer as the ECU
// allows (the tester's rule: maximum block length - 2).
void Download(Ecu& ecu, uint32_t start, const std::vector<uint8_t>& data) {
    char text[64];
    std::snprintf(text, sizeof(text), "34 00 33 %02X %02X %02X %02X %02X %02X", start >> 16,
                  (start >> 8) & 0xFF, start & 0xFF, unsigned(data.size() >> 16),
                  unsigned((data.size() >> 8) & 0xFF), unsigned(data.size() & 0xFF));
    ASSERT_EQ(ecu.Ask(text), "74 20 0C 00");
    uint8_t counter = 1;
    for (std::size_t offset = 0; offset < data.size(); offset += 0xC00 - 2, ++counter) {
        std::vector<uint8_t> request = {0x36, counter};
        const std::size_t count = std::min<std::size_t>(0xC00 - 2, data.size() - offset);
        request.insert(request.end(), data.begin() + long(offset),
                       data.begin() + long(offset + count));
        char answer[8];
        std::snprintf(answer, sizeof(answer), "76 %02X", counter);
        ASSERT_EQ(ecu.Ask(request), answer);
    }
    ASSERT_EQ(ecu.Ask("37"), "77");
}

std::string DependencyCheck(uint32_t crc) {
    char text[64];
    std::snprintf(text, sizeof(text), "31 01 FF 01 00 04 %02X %02X %02X %02X", crc >> 24,
                  (crc >> 16) & 0xFF, (crc >> 8) & 0xFF, crc & 0xFF);
    return text;
}

TEST(UdsEcuServicesTest, ProgrammingStoresTheImageAndChecksItsCrc) {
    Ecu ecu;
    EXPECT_EQ(ecu.Ask("31 01 FF 00"), "7F 31 7F");  // default session
    ecu.Ask("10 02");
    EXPECT_EQ(ecu.Ask("31 01 FF 00"), "7F 31 33");  // locked
    EXPECT_EQ(ecu.Ask("34 00 33 00 00 00 00 00 10"), "7F 34 33");
    ecu.Unlock(kProgrammingRule);
    EXPECT_EQ(ecu.Ask("34 00 33 00 00 00 00 00 10"), "7F 34 22");  // not erased
    EXPECT_EQ(ecu.Ask("31 01 FF 00"), "71 01 FF 00 00");
    std::vector<uint8_t> first(7000);
    std::vector<uint8_t> second(100);
    for (std::size_t i = 0; i < first.size(); ++i) first[i] = uint8_t(i * 7);
    for (std::size_t i = 0; i < second.size(); ++i) second[i] = uint8_t(0xA0 + i);
    Download(ecu, 0x010000, first);
    EXPECT_EQ(ecu.Ask("31 01 FF 01"), "71 01 FF 01 00");
    Download(ecu, 0x020000, second);
    std::vector<uint8_t> all = first;
    all.insert(all.end(), second.begin(), second.end());
    const uint32_t crc = Crc32(all);
    EXPECT_EQ(ecu.services.ImageCrc(), crc);
    EXPECT_EQ(ecu.Ask(DependencyCheck(crc)), "71 01 FF 01 00");
    EXPECT_EQ(ecu.Ask(DependencyCheck(crc ^ 1)), "71 01 FF 01 01");
    ASSERT_EQ(ecu.services.Image().size(), 2u);
    EXPECT_EQ(ecu.services.Image()[0].data, first);
    EXPECT_EQ(ecu.services.Image()[1].start, 0x020000u);
    EXPECT_EQ(ecu.Ask("23 14 00 02 00 00 02"), "63 A0 A1");        // downloaded bytes read back
    EXPECT_EQ(ecu.Ask("34 00 33 02 00 10 00 00 10"), "7F 34 31");  // overlaps the second
}

TEST(UdsEcuServicesTest, TransferChecksCounterLengthAndSequence) {
    Ecu ecu;
    ecu.Unlock(kProgrammingRule);
    EXPECT_EQ(ecu.Ask("36 01 00"), "7F 36 24");  // no download
    ecu.Ask("31 01 FF 00");
    EXPECT_EQ(ecu.Ask("34 00 33 00 10 00 00 00 04"), "74 20 0C 00");
    EXPECT_EQ(ecu.Ask("34 00 33 00 20 00 00 00 04"), "7F 34 22");  // one at a time
    EXPECT_EQ(ecu.Ask("36 02 01 02"), "7F 36 73");
    EXPECT_EQ(ecu.Ask("36 00 01 02"), "7F 36 73");  // nothing yet to repeat
    EXPECT_EQ(ecu.Ask("36 01"), "7F 36 13");
    EXPECT_EQ(ecu.Ask("36 01 01 02"), "76 01");
    EXPECT_EQ(ecu.Ask("36 01 01 02"), "76 01");  // a repeat is not stored twice
    EXPECT_EQ(ecu.Ask("37"), "7F 37 24");        // two bytes missing
    EXPECT_EQ(ecu.Ask("36 02 03 04 05"), "7F 36 71");
    EXPECT_EQ(ecu.Ask("36 02 03 04"), "76 02");
    EXPECT_EQ(ecu.Ask("37 00 00 00 00"), "7F 37 72");  // wrong CRC of the segment
    char exit[32];
    const uint32_t crc = Crc32(std::vector<uint8_t>{1, 2, 3, 4});
    std::snprintf(exit, sizeof(exit), "37 %02X %02X %02X %02X", crc >> 24, (crc >> 16) & 0xFF,
                  (crc >> 8) & 0xFF, crc & 0xFF);
    EXPECT_EQ(ecu.Ask(exit), "77");
    EXPECT_EQ(ecu.Ask("37"), "7F 37 24");
    EXPECT_EQ(ecu.Ask(DependencyCheck(crc)), "71 01 FF 01 00");
}

TEST(UdsEcuServicesTest, CounterWrapsAfter255Transfers) {
    Ecu ecu;
    ecu.Unlock(kProgrammingRule);
    ecu.Ask("31 01 FF 00");
    EXPECT_EQ(ecu.Ask("34 00 33 00 00 00 00 01 01"), "74 20 0C 00");  // 257 bytes
    for (unsigned transfer = 1; transfer <= 257; ++transfer) {
        char request[16];
        char answer[8];
        std::snprintf(request, sizeof(request), "36 %02X 5A", transfer & 0xFF);
        std::snprintf(answer, sizeof(answer), "76 %02X", transfer & 0xFF);
        ASSERT_EQ(ecu.Ask(request), answer) << transfer;
    }
    EXPECT_EQ(ecu.Ask("37"), "77");
}

TEST(UdsEcuServicesTest, TheT6xCounterRunsOnAcrossTheBlocksOfADownload) {
    Ecu ecu(TestProfile(), UdsDownloadStyle{});
    ecu.Unlock(kProgrammingRule);
    ecu.Ask("31 01 FF 00");
    EXPECT_EQ(ecu.Ask("34 00 33 00 00 00 00 00 01"), "74 20 0C 00");
    EXPECT_EQ(ecu.Ask("36 01 AA"), "76 01");
    EXPECT_EQ(ecu.Ask("37"), "77");
    EXPECT_EQ(ecu.Ask("34 00 33 00 10 00 00 00 01"), "74 20 0C 00");
    EXPECT_EQ(ecu.Ask("36 01 BB"), "7F 36 73");
    EXPECT_EQ(ecu.Ask("36 02 BB"), "76 02");
    EXPECT_EQ(ecu.Ask("37"), "77");
    ecu.Ask("31 01 FF 00");  // a new erase starts the count again
    EXPECT_EQ(ecu.Ask("34 00 33 00 00 00 00 00 01"), "74 20 0C 00");
    EXPECT_EQ(ecu.Ask("36 01 CC"), "76 01");
}

TEST(UdsEcuServicesTest, ASessionChangeAbandonsTheDownload) {
    Ecu ecu;
    ecu.Unlock(kProgrammingRule);
    ecu.Ask("31 01 FF 00");
    ecu.Ask("34 00 33 00 00 00 00 00 01");
    ecu.Ask("10 01");
    EXPECT_EQ(ecu.Ask("36 01 00"), "7F 36 24");
    ecu.Unlock(kProgrammingRule);
    EXPECT_EQ(ecu.Ask("31 01 FF 01"), "71 01 FF 01 01");  // the segment never ended
}

TEST(UdsEcuServicesTest, TheMaximumBlockLengthComesInTheChosenNumberOfBytes) {
    struct Case {
        uint8_t bytes;
        const char* answer;
    };
    const Case cases[] = {
        {1, "74 10 FF"}, {2, "74 20 0C 00"}, {3, "74 30 00 0C 00"}, {4, "74 40 00 00 0C 00"}};
    for (const Case& c : cases) {
        UdsDownloadStyle style;
        style.lengthBytes = c.bytes;
        Ecu ecu(TestProfile(), style);
        ecu.Unlock(kProgrammingRule);
        ecu.Ask("31 01 FF 00");
        EXPECT_EQ(ecu.Ask("34 00 33 00 00 00 00 01 00"), c.answer);
        // A transfer longer than the announced length is refused.
        std::vector<uint8_t> tooLong(c.bytes == 1 ? 0x100 : 0x0C01, 0x5A);
        tooLong[0] = 0x36;
        tooLong[1] = 0x01;
        EXPECT_EQ(ecu.Ask(tooLong), "7F 36 13") << int(c.bytes);
    }
}

// Check values written down from the CRC-32 of ISO 3309 / IEEE 802.3 (the CRC-32/ISO-HDLC
// catalogue entry) and from the download's description ("abc").
TEST(UdsEcuCrc32Test, KnownAnswers) {
    struct Case {
        std::string text;
        uint32_t crc;
    };
    const Case cases[] = {
        {"", 0x00000000u},
        {"123456789", 0xCBF43926u},
        {"abc", 0x352441C2u},
        {"a", 0xE8B7BE43u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.text.data());
        EXPECT_EQ(EcuCrc32(bytes, c.text.size()), c.crc) << c.text;
        const uint32_t first = EcuCrc32Update(kEcuCrc32Start, bytes, c.text.size() / 2);
        EXPECT_EQ(
            EcuCrc32Update(first, bytes + c.text.size() / 2, c.text.size() - c.text.size() / 2),
            c.crc)
            << "in two pieces: " << c.text;
    }
}

}  // namespace
}  // namespace diagbridge::sim
