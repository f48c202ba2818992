#include "uds/HexImage.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>

namespace diagbridge {
namespace {

constexpr char kLineSeparator = '|';
constexpr std::string_view kWhiteSpace = " \t\r\n";
constexpr char kRecordMark = ':';
// Record length, address high and low, type and checksum around the data bytes.
constexpr size_t kRecordOverhead = 5;
constexpr size_t kMaxRecordBytes = std::numeric_limits<uint8_t>::max() + kRecordOverhead;
// Addresses one 16-bit address field reaches above a segment base.
constexpr uint64_t kAddressWindow = 0x10000;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr uint32_t kSegmentMultiplier = 16;
constexpr uint32_t kLinearShift = 16;
constexpr uint8_t kExtendedAddressLength = 2;
constexpr uint8_t kStartAddressLength = 4;
constexpr size_t kTextCharsPerByte = 3;  // two digits and a blank or "|"
// The byte count must fit the result, and a block's text the address space.
constexpr uint64_t kMaxImageBytes = std::min<uint64_t>(
    std::numeric_limits<int32_t>::max(), std::numeric_limits<size_t>::max() / kTextCharsPerByte);

enum RecordType : uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

constexpr uint8_t kNotADigit = 0xFF;

constexpr std::array<uint8_t, 256> MakeDigitTable() {
    std::array<uint8_t, 256> table{};
    table.fill(kNotADigit);
    for (int digit = 0; digit < 10; ++digit) table['0' + digit] = static_cast<uint8_t>(digit);
    for (int digit = 0; digit < 6; ++digit) {
        table['A' + digit] = static_cast<uint8_t>(10 + digit);
        table['a' + digit] = static_cast<uint8_t>(10 + digit);
    }
    return table;
}

constexpr std::array<uint8_t, 256> kDigitValue = MakeDigitTable();

// Each valid hex digit as written in a hex byte string (upper case).
constexpr std::array<char, 256> MakeUpperDigitTable() {
    std::array<char, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c;
    return table;
}

constexpr std::array<char, 256> kUpperDigit = MakeUpperDigitTable();
constexpr size_t kDataDigitsOffset = 8;  // length, address and type before the data

struct Record {
    uint8_t type = 0;
    uint16_t address = 0;
    std::span<const uint8_t> data;
    const char* dataDigits = nullptr;  // the data bytes as they stand in the text
};

std::string_view TrimWhiteSpace(std::string_view line) {
    const size_t first = line.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) return {};
    const size_t last = line.find_last_not_of(kWhiteSpace);
    return line.substr(first, last - first + 1);
}

// Decodes the digit pairs of one record into bytes; false unless they form a complete record
// with a matching length byte and checksum.
bool DecodeRecord(std::string_view digits, std::array<uint8_t, kMaxRecordBytes>& bytes,
                  Record& record) {
    const size_t count = digits.size() / 2;
    if (digits.size() % 2 != 0 || count < kRecordOverhead || count > kMaxRecordBytes) {
        return false;
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t high = kDigitValue[static_cast<unsigned char>(digits[2 * i])];
        const uint8_t low = kDigitValue[static_cast<unsigned char>(digits[2 * i + 1])];
        if (high == kNotADigit || low == kNotADigit) return false;
        bytes[i] = static_cast<uint8_t>((high << 4) | low);
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    if (sum != 0 || bytes[0] + kRecordOverhead != count) return false;
    record.address = static_cast<uint16_t>((bytes[1] << 8) | bytes[2]);
    record.type = bytes[3];
    record.data = std::span<const uint8_t>(bytes.data() + 4, bytes[0]);
    record.dataDigits = digits.data() + kDataDigitsOffset;
    return true;
}

// A run of records in text order whose data follow each other without a gap.
struct Piece {
    uint64_t start = 0;   // address units
    uint64_t length = 0;  // bytes
    uint32_t recordOffset = 0;
    uint32_t base = 0;
    size_t firstRecord = 0;  // index into the record lengths
    size_t recordCount = 0;
};

// Collects the records of one text as pieces, then orders them and writes each run of
// contiguous pieces out as one block, copying the data digits straight from the text.
class BlockBuilder {
  public:
    BlockBuilder(HexAddressing addressing, std::string_view text);

    bool AddLine(std::string_view line);
    // Fills blocks and returns the number of data bytes, or kHexConversionFailed.
    int32_t Finish(std::vector<UdsTransferDatablockTag>& blocks);

  private:
    bool AddRecord(const Record& record);
    bool AddData(const Record& record);
    bool SetBase(const Record& record, uint32_t shift, uint32_t multiplier);
    uint64_t EndOf(const Piece& piece) const { return piece.start + piece.length / addressUnit_; }
    // The block of the sorted pieces [first, last).
    UdsTransferDatablockTag MakeBlock(size_t first, size_t last, int32_t group) const;
    char* AppendText(const Piece& piece, char* out) const;

    const uint32_t addressUnit_;  // bytes per address step
    std::vector<Piece> pieces_;
    const std::string_view text_;
    // Where the data digits of each data record start in the text, and its data length; in
    // text order.
    std::vector<size_t> recordDigits_;
    std::vector<uint8_t> recordLengths_;
    uint64_t totalBytes_ = 0;
    uint32_t base_ = 0;
    uint32_t multiplier_ = 1;
    bool ended_ = false;
    std::array<uint8_t, kMaxRecordBytes> line_{};
};

// The smallest record line: a colon and the five bytes around no data.
constexpr size_t kMinLineChars = 1 + 2 * kRecordOverhead;

BlockBuilder::BlockBuilder(HexAddressing addressing, std::string_view text)
    : addressUnit_(addressing == HexAddressing::kWord ? 2 : 1), text_(text) {
    // Upper bounds; pages never written are never touched.
    recordDigits_.reserve(text.size() / kMinLineChars);
    recordLengths_.reserve(text.size() / kMinLineChars);
}

bool BlockBuilder::AddLine(std::string_view line) {
    line = TrimWhiteSpace(line);
    if (line.empty()) return true;
    line.remove_prefix(std::min(line.find_first_not_of(kRecordMark), line.size()));
    Record record;
    return DecodeRecord(line, line_, record) && AddRecord(record);
}

bool BlockBuilder::AddRecord(const Record& record) {
    if (ended_) return false;
    switch (record.type) {
        case kData:
            return AddData(record);
        case kEndOfFile:
            ended_ = true;
            return record.data.empty();
        case kExtendedSegmentAddress:
            return SetBase(record, 0, kSegmentMultiplier);
        case kExtendedLinearAddress:
            return SetBase(record, kLinearShift, 1);
        case kStartSegmentAddress:
        case kStartLinearAddress:
            return record.data.size() == kStartAddressLength;
        default:
            return false;
    }
}

bool BlockBuilder::AddData(const Record& record) {
    const size_t length = record.data.size();
    if (length == 0) return true;
    const uint64_t units = length / addressUnit_;
    const uint64_t start = uint64_t{base_} * multiplier_ + record.address;
    const bool leavesSegment =
        multiplier_ == kSegmentMultiplier && record.address + units > kAddressWindow;
    if (length % addressUnit_ != 0 || leavesSegment || start + units > kAddressSpace ||
        totalBytes_ + length > kMaxImageBytes) {
        return false;
    }
    // A record that continues the previous one joins its piece, whatever extended address
    // record came between: ordering would merge the two anyway.
    if (pieces_.empty() || start != EndOf(pieces_.back())) {
        pieces_.push_back(Piece{start, 0, record.address, base_, recordLengths_.size(), 0});
    }
    Piece& piece = pieces_.back();
    piece.length += length;
    ++piece.recordCount;
    recordDigits_.push_back(static_cast<size_t>(record.dataDigits - text_.data()));
    recordLengths_.push_back(static_cast<uint8_t>(length));
    totalBytes_ += length;
    return true;
}

bool BlockBuilder::SetBase(const Record& record, uint32_t shift, uint32_t multiplier) {
    if (record.data.size() != kExtendedAddressLength) return false;
    base_ = static_cast<uint32_t>((record.data[0] << 8) | record.data[1]) << shift;
    multiplier_ = multiplier;
    return true;
}

char* BlockBuilder::AppendText(const Piece& piece, char* out) const {
    for (size_t r = piece.firstRecord; r < piece.firstRecord + piece.recordCount; ++r) {
        const char* digit = text_.data() + recordDigits_[r];
        for (size_t i = recordLengths_[r]; i > 0; --i, digit += 2) {
            *out++ = kUpperDigit[static_cast<unsigned char>(digit[0])];
            *out++ = kUpperDigit[static_cast<unsigned char>(digit[1])];
            *out++ = ' ';
        }
        out[-1] = kLineSeparator;
    }
    return out;
}

UdsTransferDatablockTag BlockBuilder::MakeBlock(size_t first, size_t last, int32_t group) const {
    UdsTransferDatablockTag block;
    uint64_t length = 0;
    for (size_t i = first; i < last; ++i) length += pieces_[i].length;
    block.start = static_cast<uint32_t>(pieces_[first].start);
    block.length = static_cast<uint32_t>(length);
    block.recordOffset = pieces_[first].recordOffset;
    block.base = pieces_[first].base;
    block.group = group;
    block.data.resize(static_cast<size_t>(kTextCharsPerByte * length));
    char* out = block.data.data();
    for (size_t i = first; i < last; ++i) out = AppendText(pieces_[i], out);
    return block;
}

int32_t BlockBuilder::Finish(std::vector<UdsTransferDatablockTag>& blocks) {
    if (!ended_ || totalBytes_ == 0) return kHexConversionFailed;
    std::sort(pieces_.begin(), pieces_.end(),
              [](const Piece& left, const Piece& right) { return left.start < right.start; });
    // Sorted pieces that do not overlap their neighbours overlap no other piece.
    std::vector<size_t> groupStarts{0};
    for (size_t i = 1; i < pieces_.size(); ++i) {
        const uint64_t previousEnd = EndOf(pieces_[i - 1]);
        if (pieces_[i].start < previousEnd) return kHexConversionFailed;
        if (pieces_[i].start > previousEnd) groupStarts.push_back(i);
    }
    groupStarts.push_back(pieces_.size());
    blocks.reserve(groupStarts.size() - 1);
    for (size_t g = 0; g + 1 < groupStarts.size(); ++g) {
        blocks.push_back(MakeBlock(groupStarts[g], groupStarts[g + 1], static_cast<int32_t>(g)));
    }
    return static_cast<int32_t>(totalBytes_);
}

bool IsKnownMode(uint8_t mode) {
    return mode == static_cast<uint8_t>(HexAddressing::kByte) ||
           mode == static_cast<uint8_t>(HexAddressing::kWord);
}

}  // namespace

int32_t ConvertHexToDatablocks(std::string_view hexText, uint8_t conversionMode,
                               std::vector<UdsTransferDatablockTag>& blocks) {
    blocks.clear();
    if (!IsKnownMode(conversionMode)) return kHexConversionFailed;
    BlockBuilder builder(static_cast<HexAddressing>(conversionMode), hexText);
    size_t pos = 0;
    while (pos <= hexText.size()) {
        const size_t separator = std::min(hexText.find(kLineSeparator, pos), hexText.size());
        if (!builder.AddLine(hexText.substr(pos, separator - pos))) return kHexConversionFailed;
        pos = separator + 1;
    }
    return builder.Finish(blocks);
}

}  // namespace diagbridge
