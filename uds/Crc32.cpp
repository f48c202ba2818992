#include "uds/Crc32.h"

#include <array>

namespace diagbridge {
namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;

// Register update for each byte value, least significant bit first.
constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t value = 0; value < table.size(); ++value) {
        uint32_t crc = value;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ kReflectedPolynomial : crc >> 1;
        }
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) {
        crc = kTable[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    }
    return crc;
}

uint32_t Crc32(std::span<const uint8_t> bytes) {
    return Crc32Final(Crc32Update(kCrc32Initial, bytes));
}

}  // namespace diagbridge
