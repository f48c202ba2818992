#pragma once
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "uds/UdsTransferDatablock.h"

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

// count bytes first, first + 1, ... (mod 256).
inline std::vector<uint8_t> Ramp(size_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// The bytes of a block's data text; an entry that is no two-digit hex byte becomes a marker
// that no expected vector contains, so that a malformed text fails the comparison.
inline std::vector<int> DataBytes(const UdsTransferDatablockTag& block) {
    std::vector<int> bytes;
    size_t pos = 0;
    while (pos < block.data.size()) {
        const size_t end = block.data.find_first_of(" |", pos);
        const std::string token = block.data.substr(pos, end - pos);
        const bool isByte =
            token.size() == 2 && token.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        bytes.push_back(isByte ? std::stoi(token, nullptr, 16) : -1);
        pos = end == std::string::npos ? block.data.size() : end + 1;
    }
    return bytes;
}

inline std::vector<int> AsInts(const std::vector<uint8_t>& bytes) {
    return std::vector<int>(bytes.begin(), bytes.end());
}

}  // namespace diagbridge::test
