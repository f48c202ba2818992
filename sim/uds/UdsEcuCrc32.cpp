#include "sim/uds/UdsEcuCrc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace diagbridge::sim {

uint32_t EcuCrc32Update(uint32_t crc, const uint8_t* bytes, size_t count) {
    uLong value = crc;
    // zlib takes at most a uInt of bytes per call.
    while (count > 0) {
        const size_t piece = std::min<size_t>(count, std::numeric_limits<uInt>::max());
        value = crc32(value, bytes, static_cast<uInt>(piece));
        bytes += piece;
        count -= piece;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace diagbridge::sim
