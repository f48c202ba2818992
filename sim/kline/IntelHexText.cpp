#include "sim/kline/IntelHexText.h"

#include <algorithm>
#include <cstdio>

namespace diagbridge::sim {

namespace {
constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kExtendedLinear = 0x04;
constexpr uint32_t kPageBytes = 0x10000;
constexpr size_t kMaxRecordBytes = 255;
constexpr const char* kEndOfFile = ":00000001FF";

void AppendRecord(std::string& text, uint16_t offset, uint8_t type, const uint8_t* bytes,
                  size_t count, char separator) {
    char field[16];
    uint8_t sum = static_cast<uint8_t>(count + (offset >> 8) + offset + type);
    std::snprintf(field, sizeof(field), ":%02X%04X%02X", static_cast<unsigned>(count),
                  static_cast<unsigned>(offset), static_cast<unsigned>(type));
    text += field;
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(field, sizeof(field), "%02X", static_cast<unsigned>(bytes[i]));
        text += field;
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    std::snprintf(field, sizeof(field), "%02X", static_cast<unsigned>(static_cast<uint8_t>(-sum)));
    text += field;
    text += separator;
}
}  // namespace

std::string IntelHexText(uint32_t address, const std::vector<uint8_t>& data, size_t recordBytes,
                         char separator) {
    const size_t perRecord = std::clamp<size_t>(recordBytes, 1, kMaxRecordBytes);
    std::string text;
    uint32_t page = 0;
    size_t offset = 0;
    while (offset < data.size()) {
        const uint32_t at = address + static_cast<uint32_t>(offset);
        if (at / kPageBytes != page) {
            page = at / kPageBytes;
            const uint8_t upper[2] = {static_cast<uint8_t>(page >> 8), static_cast<uint8_t>(page)};
            AppendRecord(text, 0, kExtendedLinear, upper, sizeof(upper), separator);
        }
        const size_t count =
            std::min({perRecord, data.size() - offset, size_t{kPageBytes - at % kPageBytes}});
        AppendRecord(text, static_cast<uint16_t>(at), kDataRecord, &data[offset], count, separator);
        offset += count;
    }
    text += kEndOfFile;
    text += separator;
    return text;
}

}  // namespace diagbridge::sim
