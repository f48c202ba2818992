#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace diagbridge::sim {

// The constants of one security level of the virtual ECU: in session `session`, the seed
// request 27 <seedLevel> gives a seed of seedBytes bytes (2 or 4), and the key 27
// <seedLevel + 1> must be KeyFor(seed).
struct UdsKeyRule {
    uint8_t session = 0;
    uint8_t seedLevel = 0;
    int64_t multiplier = 0;
    int64_t addend = 0;
    uint8_t seedBytes = 2;
};

// The key the tester must send for seed under rule: (seed x multiplier + addend) modulo 65536
// for a 2-byte seed, its low 32 bits for a 4-byte seed (64-bit signed arithmetic, as the
// controllers compute it).
uint32_t UdsKeyFor(const UdsKeyRule& rule, uint32_t seed);

// One diagnostic trouble code with its status and extended data record 01.
struct UdsDtc {
    uint32_t code = 0;  // 3 bytes
    uint8_t status = 0;
    std::vector<uint8_t> extendedData;
};

// Flow-control settings of the ECU's ISO-TP receiver.
struct UdsFlowSettings {
    uint8_t blockSize = 0;       // consecutive frames per flow control, 0 = all
    uint8_t separationTime = 0;  // STmin byte as sent (0..0x7F ms, 0xF1..0xF9 100..900 us)
};

// Everything the virtual ECU answers from: addresses, bit rate, sessions, key rules,
// identification, trouble codes and the limits of its programming services.
struct UdsEcuProfile {
    static constexpr uint32_t kDefaultBitRate = 500000;
    static constexpr uint16_t kDefaultMaxBlockLength = 0x0C00;  // bytes per 36 incl. 36 and counter

    std::string model;
    uint8_t ecuAddress = 0x03;
    uint8_t testerAddress = 0xF1;
    uint32_t bitRate = kDefaultBitRate;  // bit/s
    std::vector<uint8_t> sessions = {0x01, 0x02, 0x03, 0x40};
    std::vector<UdsKeyRule> keyRules;
    std::map<uint16_t, std::vector<uint8_t>> identifiers;  // read by 22, written by 2E
    std::vector<uint16_t> writeOnly;                       // accepted by 2E, then readable
    std::vector<UdsDtc> dtcs;                              // primary memory (19 01/02/06)
    std::vector<UdsDtc> mirrorDtcs;                        // mirror memory (19 0F/10/11)
    uint8_t dtcAvailabilityMask = 0xFF;
    uint8_t dtcFormat = 0x01;  // ISO 14229-1 DTC format
    uint16_t maxBlockLength = kDefaultMaxBlockLength;
    UdsFlowSettings flow;

    // The rule for seed level in session, or null.
    const UdsKeyRule* KeyRule(uint8_t session, uint8_t seedLevel) const;
    bool HasSession(uint8_t session) const;
};

// The generic T6x-style profile: the identification data, trouble codes and writable
// fingerprint identifiers of a T60.1 on UDS; no key rules.
UdsEcuProfile DefaultUdsEcuProfile();

// The profile of a controller model ("T60.1", "TCX", ...) from the virtual ECU's own model
// table (addresses, sessions, key constants of every security level); false with error set
// for a keyword it does not know.
bool ProfileForModel(const std::string& keyword, UdsEcuProfile& profile, std::string& error);

}  // namespace diagbridge::sim
