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
constexpr uint64_t kMaxImageBytes = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());

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
constexpr std::string_view kUpperDigits = "0123456789ABCDEF";

struct Record {
    uint8_t type = 0;
    uint16_t address = 0;
    std::span<const uint8_t> data;
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
    return true;
}

// Collects the records of one text into blocks in text order, then orders and merges them.
class BlockBuilder {
  public:
    BlockBuilder(HexAddressing addressing, std::vector<UdsTransferDatablockTag>& blocks)
        : addressUnit_(addressing == HexAddressing::kWord ? 2 : 1), blocks_(blocks) {}

    bool AddLine(std::string_view line);
    // Returns the number of data bytes, or kHexConversionFailed.
    int32_t Finish();

  private:
    bool AddRecord(const Record& record);
    bool AddData(const Record& record);
    bool SetBase(const Record& record, uint32_t base, uint32_t multiplier);
    void CloseBlock();
    uint64_t EndOf(const UdsTransferDatablockTag& block) const {
        return uint64_t{block.start} + block.length / addressUnit_;
    }

    const uint32_t addressUnit_;  // bytes per address step
    std::vector<UdsTransferDatablockTag>& blocks_;
    UdsTransferDatablockTag open_;
    bool blockOpen_ = false;
    uint32_t nextAddress_ = 0;  // address field that continues the open block
    uint32_t base_ = 0;
    uint32_t multiplier_ = 1;
    uint64_t totalBytes_ = 0;
    bool ended_ = false;
    std::array<uint8_t, kMaxRecordBytes> bytes_{};
};

bool BlockBuilder::AddLine(std::string_view line) {
    line = TrimWhiteSpace(line);
    if (line.empty()) return true;
    line.remove_prefix(std::min(line.find_first_not_of(kRecordMark), line.size()));
    Record record;
    return DecodeRecord(line, bytes_, record) && AddRecord(record);
}

bool BlockBuilder::AddRecord(const Record& record) {
    if (ended_) return false;
    switch (record.type) {
        case kData:
            return AddData(record);
        case kEndOfFile:
            CloseBlock();
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
    if (!blockOpen_ || record.address != nextAddress_) {
        CloseBlock();
        open_.start = static_cast<uint32_t>(start);
        open_.recordOffset = record.address;
        open_.base = base_;
        blockOpen_ = true;
    }
    const size_t old = open_.data.size();
    open_.data.resize(old + 3 * length);
    char* out = open_.data.data() + old;
    for (uint8_t byte : record.data) {
        *out++ = kUpperDigits[byte >> 4];
        *out++ = kUpperDigits[byte & 0x0F];
        *out++ = ' ';
    }
    out[-1] = kLineSeparator;
    open_.length += static_cast<uint32_t>(length);
    totalBytes_ += length;
    nextAddress_ = static_cast<uint32_t>(record.address + units);
    return true;
}

bool BlockBuilder::SetBase(const Record& record, uint32_t shift, uint32_t multiplier) {
    if (record.data.size() != kExtendedAddressLength) return false;
    CloseBlock();
    base_ = static_cast<uint32_t>((record.data[0] << 8) | record.data[1]) << shift;
    multiplier_ = multiplier;
    return true;
}

void BlockBuilder::CloseBlock() {
    if (blockOpen_ && open_.length > 0) blocks_.push_back(std::move(open_));
    open_ = UdsTransferDatablockTag{};
    blockOpen_ = false;
}

int32_t BlockBuilder::Finish() {
    CloseBlock();
    if (!ended_ || totalBytes_ == 0) return kHexConversionFailed;
    std::sort(blocks_.begin(), blocks_.end(),
              [](const auto& left, const auto& right) { return left.start < right.start; });
    size_t merged = 0;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        UdsTransferDatablockTag& block = blocks_[i];
        if (merged > 0) {
            UdsTransferDatablockTag& last = blocks_[merged - 1];
            const uint64_t lastEnd = EndOf(last);
            if (block.start < lastEnd) return kHexConversionFailed;
            if (block.start == lastEnd) {
                last.data += block.data;
                last.length += block.length;
                continue;
            }
        }
        block.group = static_cast<int32_t>(merged);
        if (i != merged) blocks_[merged] = std::move(block);
        ++merged;
    }
    blocks_.resize(merged);
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
    BlockBuilder builder(static_cast<HexAddressing>(conversionMode), blocks);
    size_t pos = 0;
    while (pos <= hexText.size()) {
        const size_t separator = std::min(hexText.find(kLineSeparator, pos), hexText.size());
        if (!builder.AddLine(hexText.substr(pos, separator - pos))) {
            blocks.clear();
            return kHexConversionFailed;
        }
        pos = separator + 1;
    }
    const int32_t result = builder.Finish();
    if (result < 0) blocks.clear();
    return result;
}

}  // namespace diagbridge
