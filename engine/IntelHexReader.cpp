#include "engine/IntelHexReader.h"

#include <algorithm>
#include <array>

namespace diagbridge {

namespace {
constexpr char kBarSeparator = '|';
constexpr char kLineBreak = '\n';
constexpr char kRecordMark = ':';
constexpr uint64_t kAddressWindow = 0x10000;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr uint32_t kSegmentMultiplier = 16;
constexpr uint32_t kLinearShift = 16;
constexpr std::size_t kExtendedAddressLength = 2;
constexpr std::size_t kStartAddressLength = 4;
constexpr std::size_t kDataDigitsOffset = 8;  // length, address and type before the data

constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Each character's digit value, or kNotADigit; one look-up per character in the hot loop.
constexpr uint8_t kNotADigit = 0x10;
constexpr std::array<uint8_t, 256> MakeDigitTable() {
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const int value = HexValue(static_cast<char>(c));
        table[c] = value < 0 ? kNotADigit : static_cast<uint8_t>(value);
    }
    return table;
}
constexpr std::array<uint8_t, 256> kDigitValue = MakeDigitTable();

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view line) {
    while (!line.empty() && IsWhiteSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsWhiteSpace(line.back())) line.remove_suffix(1);
    return line;
}

std::string_view StripMarks(std::string_view line) {
    line.remove_prefix(std::min(line.find_first_not_of(kRecordMark), line.size()));
    return line;
}

// Position of the next c at or after from, or the text's size.
std::size_t NextOf(std::string_view text, std::size_t from, char c) {
    const std::size_t at = text.find(c, from);
    return at == std::string_view::npos ? text.size() : at;
}
}  // namespace

IntelHexReader::IntelHexReader(std::string_view text, uint32_t addressUnit)
    : lines_(text), addressUnit_(addressUnit == 2 ? 2 : 1) {}

IntelHexLines::IntelHexLines(std::string_view text)
    : text_(text),
      nextBar_(NextOf(text, 0, kBarSeparator)),
      nextBreak_(NextOf(text, 0, kLineBreak)) {}

// Each separator's next position is remembered and searched again only once passed.
bool IntelHexLines::Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    if (nextBar_ < pos_) nextBar_ = NextOf(text_, pos_, kBarSeparator);
    if (nextBreak_ < pos_) nextBreak_ = NextOf(text_, pos_, kLineBreak);
    const std::size_t end = std::min(nextBar_, nextBreak_);
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
}

// The next non-empty line, trimmed, without its colons; false at the end of the text.
bool IntelHexReader::NextLine(std::string_view& line) {
    while (lines_.Next(line)) {
        line = Trim(line);
        if (!line.empty()) {
            line = StripMarks(line);
            return true;
        }
    }
    return false;
}

bool IntelHexReader::Decode(std::string_view digits, IntelHexRecord& record) {
    const std::size_t count = digits.size() / 2;
    if (digits.size() % 2 != 0 || count < kRecordOverhead || count > kMaxRecordBytes) {
        return false;
    }
    uint8_t sum = 0;
    uint8_t notDigits = 0;  // kNotADigit once any character is no hex digit
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t high = kDigitValue[static_cast<unsigned char>(digits[2 * i])];
        const uint8_t low = kDigitValue[static_cast<unsigned char>(digits[2 * i + 1])];
        notDigits |= high | low;
        bytes_[i] = static_cast<uint8_t>((high << 4) | low);
        sum = static_cast<uint8_t>(sum + bytes_[i]);
    }
    if ((notDigits & kNotADigit) != 0) return false;
    if (sum != 0 || bytes_[0] + kRecordOverhead != count) return false;
    record = IntelHexRecord{};
    record.type = bytes_[3];
    record.offset = static_cast<uint16_t>((bytes_[1] << 8) | bytes_[2]);
    record.bytes = std::span<const uint8_t>(bytes_.data(), count);
    record.data = std::span<const uint8_t>(bytes_.data() + 4, bytes_[0]);
    record.dataDigits = digits.substr(kDataDigitsOffset, 2 * record.data.size());
    return true;
}

// Applies an address record or places a data record; false for a record that breaks a rule.
bool IntelHexReader::Place(IntelHexRecord& record) {
    const std::size_t length = record.data.size();
    switch (record.type) {
        case kHexExtendedSegmentAddress:
        case kHexExtendedLinearAddress: {
            if (length != kExtendedAddressLength) return false;
            segment_ = record.type == kHexExtendedSegmentAddress;
            const uint32_t value = static_cast<uint32_t>((record.data[0] << 8) | record.data[1]);
            base_ = segment_ ? value : value << kLinearShift;
            record.base = base_;
            return true;
        }
        case kHexStartSegmentAddress:
        case kHexStartLinearAddress:
            record.base = base_;
            return length == kStartAddressLength;
        case kHexData:
            break;
        default:
            return false;
    }
    const uint64_t units = length / addressUnit_;
    record.base = base_;
    record.start = uint64_t{base_} * (segment_ ? kSegmentMultiplier : 1) + record.offset;
    if (length % addressUnit_ != 0 || record.start + units > kAddressSpace) return false;
    return !segment_ || record.offset + units <= kAddressWindow;
}

bool IntelHexReader::OnlyBlankLinesFollow() {
    std::string_view line;
    return !NextLine(line);
}

IntelHexStep IntelHexReader::Next(IntelHexRecord& record) {
    std::string_view line;
    if (ended_ || !NextLine(line) || !Decode(line, record)) return IntelHexStep::kMalformed;
    if (record.type == kHexEndOfFile) {
        ended_ = true;
        return record.data.empty() && OnlyBlankLinesFollow() ? IntelHexStep::kEnd
                                                             : IntelHexStep::kMalformed;
    }
    return Place(record) ? IntelHexStep::kRecord : IntelHexStep::kMalformed;
}

bool HoldsIntelHexEndRecord(std::string_view text) {
    // The end record's bytes 00 00 00 01 FF as digits; compared digit by digit in either case.
    constexpr std::string_view kEndRecordDigits = "00000001FF";
    IntelHexLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        line = StripMarks(Trim(line));
        if (line.size() == kEndRecordDigits.size() &&
            std::equal(line.begin(), line.end(), kEndRecordDigits.begin(),
                       [](char c, char digit) { return HexValue(c) == HexValue(digit); })) {
            return true;
        }
    }
    return false;
}

}  // namespace diagbridge
