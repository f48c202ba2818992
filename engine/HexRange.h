#pragma once
#include <cstdint>
#include <string_view>

namespace diagbridge {

// Address range of an Intel-HEX text (lines separated by "|" or line breaks).
struct HexRange {
    uint32_t start = 0xFFFFFFFFu;  // lowest data address
    uint64_t end = 0;              // one past the highest data byte (2^32 at the top)
    uint32_t count = 0;            // sum of the record lengths, all record types
};

// Scans the text as IntelHexReader reads it. Returns 1 when it is a well-formed Intel-HEX
// text that holds data (start < end), else 0 with an empty range.
int32_t DetectHexRange(std::string_view hexText, HexRange& range);

}  // namespace diagbridge
