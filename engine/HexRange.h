#pragma once
#include <cstdint>
#include <string_view>

namespace diagbridge {

// Address range of an Intel-HEX text whose lines are separated by "|" (or line breaks).
struct HexRange {
    uint32_t start = 0xFFFFFFFFu;  // lowest data address
    uint32_t end = 0;              // one past the highest data byte
    uint32_t count = 0;            // sum of the record lengths, all record types
};

// Scans the data records (00) under segment (02) and linear (04) base addresses up to the
// end record (01) or the first line whose header does not read; lines not starting with ":"
// are passed over. Returns 1 when the text holds data (start < end), else 0.
int32_t DetectHexRange(std::string_view hexText, HexRange& range);

}  // namespace diagbridge
