#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge::sim {

// The Intel-HEX text of data placed at address (32 bit): data records of at most
// recordBytes (1..255) bytes that never cross a 64 KiB page, an extended linear address
// record before every page other than 0, the end-of-file record last. Lines end with
// separator ('|' as the component's orders carry them, '\n' for a file).
std::string IntelHexText(uint32_t address, const std::vector<uint8_t>& data, size_t recordBytes,
                         char separator);

}  // namespace diagbridge::sim
