#include "engine/HexRange.h"

#include <algorithm>

#include "engine/IntelHexReader.h"

namespace diagbridge {

int32_t DetectHexRange(std::string_view hexText, HexRange& range) {
    range = HexRange{};
    IntelHexReader reader(hexText);
    IntelHexRecord record;
    HexRange scanned;
    for (;;) {
        const IntelHexStep step = reader.Next(record);
        if (step == IntelHexStep::kMalformed) return 0;
        if (step == IntelHexStep::kEnd) break;
        scanned.count += static_cast<uint32_t>(record.data.size());
        if (record.type != kHexData || record.data.empty()) continue;
        scanned.start = static_cast<uint32_t>(std::min<uint64_t>(scanned.start, record.start));
        scanned.end = std::max<uint64_t>(scanned.end, record.start + record.data.size());
    }
    if (scanned.start >= scanned.end) return 0;
    range = scanned;
    return 1;
}

}  // namespace diagbridge
