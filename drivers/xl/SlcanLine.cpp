#include "drivers/xl/SlcanLine.h"

namespace diagbridge::xl {

namespace {

constexpr std::size_t kStandardIdDigits = 3;
constexpr std::size_t kExtendedIdDigits = 8;
constexpr char kDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads the hex digits of text; false on a non-hex digit.
bool ParseHex(std::string_view text, uint32_t& value) {
    value = 0;
    for (char c : text) {
        const int digit = HexValue(c);
        if (digit < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

// Writes the low count hex digits of value at out.
void WriteHex(uint32_t value, std::size_t count, char* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[count - 1 - i] = kDigits[value & 0xF];
        value >>= 4;
    }
}

}  // namespace

bool ParseSlcanFrameLine(std::string_view line, CanFrame& frame) {
    if (line.empty() || (line[0] != 't' && line[0] != 'T')) return false;
    const bool extended = line[0] == 'T';
    const std::size_t idDigits = extended ? kExtendedIdDigits : kStandardIdDigits;
    if (line.size() < 1 + idDigits + 1) return false;
    uint32_t id = 0;
    uint32_t dlc = 0;
    if (!ParseHex(line.substr(1, idDigits), id) || !ParseHex(line.substr(1 + idDigits, 1), dlc)) {
        return false;
    }
    if (dlc > kMaxDataLength || line.size() < 2 + idDigits + 2 * dlc) return false;
    if (extended ? id > kSocketCanExtendedMask : id > kSocketCanStandardMask) return false;
    frame.id = extended ? (id | kExtendedId) : id;
    frame.dlc = static_cast<uint8_t>(dlc);
    for (uint32_t i = 0; i < dlc; ++i) {
        uint32_t byte = 0;
        if (!ParseHex(line.substr(2 + idDigits + 2 * i, 2), byte)) return false;
        frame.data[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

std::size_t EncodeSlcanFrameLine(const CanFrame& frame, char (&out)[kSlcanMaxLine]) {
    const bool extended = (frame.id & kExtendedId) != 0;
    const std::size_t idDigits = extended ? kExtendedIdDigits : kStandardIdDigits;
    const uint32_t id = frame.id & (extended ? kSocketCanExtendedMask : kSocketCanStandardMask);
    const uint8_t dlc = frame.dlc > kMaxDataLength ? kMaxDataLength : frame.dlc;
    out[0] = extended ? 'T' : 't';
    WriteHex(id, idDigits, out + 1);
    out[1 + idDigits] = kDigits[dlc];
    std::size_t length = 2 + idDigits;
    for (uint8_t i = 0; i < dlc; ++i, length += 2) WriteHex(frame.data[i], 2, out + length);
    return length;
}

}  // namespace diagbridge::xl
