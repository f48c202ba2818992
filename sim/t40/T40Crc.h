#pragma once
#include <cstddef>
#include <cstdint>

namespace diagbridge::sim {

// The controller's login check: CRC-16/MCRF4XX (reflected CCITT, initial 0xFFFF, no final
// XOR) over count bytes, computed byte-wise.
uint16_t T40LoginCrc(const uint8_t* bytes, std::size_t count);

}  // namespace diagbridge::sim
