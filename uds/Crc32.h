#pragma once
#include <cstdint>
#include <span>

namespace diagbridge {

// CRC-32 of ISO 3309 / IEEE 802.3: reflected polynomial 0xEDB88320, register preset to all
// ones, complemented at the end. The CRC-32 of the bytes "abc" is 0x352441C2.

// Register value before the first byte.
inline constexpr uint32_t kCrc32Initial = 0xFFFFFFFFu;

// Feeds bytes, in order, into a running register (start from kCrc32Initial). Feeding a run of
// bytes in pieces gives the same register as feeding it at once.
uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes);

// The check value of a running register: its bitwise complement.
constexpr uint32_t Crc32Final(uint32_t crc) {
    return ~crc;
}

// The check value of bytes in one call.
uint32_t Crc32(std::span<const uint8_t> bytes);

}  // namespace diagbridge
