#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/kline/KwpAccessKeys.h"

namespace diagbridge::sim {

// One security level of SecurityAccess (27): the seed request's sub-function, the key's, and
// the routine the key is checked with.
struct KwpSecurityLevel {
    uint8_t seedSubFunction = 0;
    uint8_t keySubFunction = 0;
    KwpKeyRoutine routine = KwpKeyRoutine::kMaker;
};

// Bytes start .. start + length - 1 of the ECU's address space (24-bit addresses).
struct KwpAddressRange {
    uint32_t start = 0;
    uint32_t length = 0;
    // True when all count bytes from address lie in the range (count 0: address <= end).
    bool Contains(uint32_t address, uint32_t count) const {
        return address >= start && count <= length && address - start <= length - count;
    }
};

// The answer data of ReadEcuIdentification (1A) for one option, without 5A and the option.
struct KwpIdentRecord {
    uint8_t option = 0;
    std::vector<uint8_t> value;
};

// The answer of ReadDataByLocalIdentifier (21) for one identifier: a list of areas.
struct KwpAreaList {
    uint8_t identifier = 0;
    std::vector<KwpAddressRange> areas;
};

// A stored trouble code: its number, status byte and the environment data of 17.
struct KwpTroubleCode {
    uint16_t code = 0;
    uint8_t status = 0;
    std::vector<uint8_t> environment;
};

// What a virtual KWP2000 controller is: addresses, sessions, security levels,
// identification, memory, download regions and event memory.
struct KwpEcuModel {
    std::string name;  // the model name that selects it ("T60", "LUMA_STANDARD" ...)
    uint8_t ecuAddress = 0;
    uint8_t testerAddress = 0;  // the tester address the controller is usually found under
    std::vector<uint8_t> testerAddresses;  // every tester address the controller answers
    std::vector<uint8_t> sessions;         // diagnostic modes of StartDiagnosticSession (10)
    std::vector<KwpSecurityLevel> securityLevels;
    std::vector<KwpIdentRecord> idents;  // 1A options; 80 lists them
    // ReadDataByLocalIdentifier (21): the FRAM layout (01) and the memory map, and whether
    // 21 03 reports the upgrade status of the last download.
    std::vector<KwpAreaList> areaLists;
    bool upgradeStatus = false;
    std::vector<KwpAddressRange> memoryAreas;      // readable by ReadMemoryByAddress (23)
    std::vector<KwpAddressRange> downloadRegions;  // writable by a download (34/36/37)
    std::vector<KwpTroubleCode> troubleCodes;
};

// The model of that name (exact, case-sensitive), or null.
const KwpEcuModel* FindKwpEcuModel(std::string_view name);
// The names of all models, in a fixed order.
std::vector<std::string> KwpEcuModelNames();

}  // namespace diagbridge::sim
