#include "sim/t40/T40Crc.h"

namespace diagbridge::sim {

uint16_t T40LoginCrc(const uint8_t* bytes, std::size_t count) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        auto x = static_cast<uint8_t>((crc ^ bytes[i]) & 0xFF);
        x = static_cast<uint8_t>(x ^ (x << 4));
        crc = static_cast<uint16_t>((crc >> 8) ^ (x << 8) ^ (x << 3) ^ (x >> 4));
    }
    return crc;
}

}  // namespace diagbridge::sim
