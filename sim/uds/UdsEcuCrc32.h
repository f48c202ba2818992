#pragma once
#include <cstddef>
#include <cstdint>

namespace diagbridge::sim {

// The ECU's CRC-32 (ISO 3309 / IEEE 802.3: reflected polynomial 0xEDB88320, initial value and
// final complement 0xFFFFFFFF), computed by zlib. A running value starts at kEcuCrc32Start
// and is the finished CRC after every update.
constexpr uint32_t kEcuCrc32Start = 0;
uint32_t EcuCrc32Update(uint32_t crc, const uint8_t* bytes, size_t count);
inline uint32_t EcuCrc32(const uint8_t* bytes, size_t count) {
    return EcuCrc32Update(kEcuCrc32Start, bytes, count);
}

}  // namespace diagbridge::sim
