#include "engine/HexRange.h"

#include <algorithm>

namespace diagbridge {

namespace {
constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kEndRecord = 0x01;
constexpr uint8_t kSegmentRecord = 0x02;
constexpr uint8_t kLinearRecord = 0x04;
// Orders carry lines separated by "|"; a client's own text may keep its line breaks.
constexpr const char* kLineSeparators = "|\n";

// Reads digits hex digits at text[pos]; false when they are not there.
bool ReadHex(std::string_view text, std::size_t pos, std::size_t digits, uint32_t& value) {
    if (pos + digits > text.size()) return false;
    value = 0;
    for (std::size_t i = pos; i < pos + digits; ++i) {
        const char c = text[i];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    return true;
}

std::string_view Trim(std::string_view line) {
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}
}  // namespace

int32_t DetectHexRange(std::string_view hexText, HexRange& range) {
    range = HexRange{};
    uint32_t segment = 0;
    uint32_t upper = 0;
    std::size_t pos = 0;
    while (pos < hexText.size()) {
        std::size_t bar = hexText.find_first_of(kLineSeparators, pos);
        if (bar == std::string_view::npos) bar = hexText.size();
        const std::string_view line = Trim(hexText.substr(pos, bar - pos));
        pos = bar + 1;
        if (line.empty() || line[0] != ':') continue;
        uint32_t length = 0;
        uint32_t address = 0;
        uint32_t type = 0;
        if (!ReadHex(line, 1, 2, length) || !ReadHex(line, 3, 4, address) ||
            !ReadHex(line, 7, 2, type)) {
            break;
        }
        range.count += length;
        if (type == kEndRecord) break;
        if (type == kSegmentRecord || type == kLinearRecord) {
            uint32_t base = 0;
            if (!ReadHex(line, 9, 4, base)) break;
            (type == kSegmentRecord ? segment : upper) = base;
            continue;
        }
        if (type != kDataRecord) continue;
        const uint32_t linear = (upper << 16) + (segment << 4) + address;
        range.end = std::max(range.end, linear + length);
        range.start = std::min(range.start, linear);
    }
    return range.start < range.end ? 1 : 0;
}

}  // namespace diagbridge
