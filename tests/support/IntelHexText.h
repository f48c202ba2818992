#pragma once
// Intel-HEX lines for tests, built with correct length bytes and checksums.
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace diagbridge::test {

inline constexpr const char* kEndRecord = ":00000001FF";

// ":" and the bytes with a checksum appended, whatever they say.
inline std::string RawRecord(std::vector<uint8_t> bytes) {
    uint8_t sum = 0;
    for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
    bytes.push_back(static_cast<uint8_t>(0x100 - sum));
    std::string line = ":";
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
    }
    return line;
}

// One Intel-HEX line with a correct length byte and checksum.
inline std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()),
                               static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return RawRecord(std::move(bytes));
}

inline std::string DataRecord(uint16_t address, const std::vector<uint8_t>& data) {
    return HexRecord(0x00, address, data);
}

inline std::string LinearRecord(uint16_t upper) {
    return HexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

inline std::string SegmentRecord(uint16_t segment) {
    return HexRecord(0x02, 0, {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)});
}

// The lines joined the way a download order carries them.
inline std::string HexText(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty()) text += '|';
        text += line;
    }
    return text;
}

}  // namespace diagbridge::test
