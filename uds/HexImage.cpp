#include "uds/HexImage.h"

#include <algorithm>
#include <array>
#include <limits>

#include "engine/IntelHexReader.h"

namespace diagbridge {
namespace {

constexpr char kLineSeparator = '|';
constexpr size_t kTextCharsPerByte = 3;  // two digits and a blank or "|"
constexpr size_t kMaxRecordDataBytes = 255;
// The byte count must fit the result, and a block's text the address space.
constexpr uint64_t kMaxImageBytes = std::min<uint64_t>(
    std::numeric_limits<int32_t>::max(), std::numeric_limits<size_t>::max() / kTextCharsPerByte);

// Each valid hex digit as written in a hex byte string (upper case).
constexpr std::array<char, 256> MakeUpperDigitTable() {
    std::array<char, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c;
    return table;
}

constexpr std::array<char, 256> kUpperDigit = MakeUpperDigitTable();

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

    bool AddRecord(const IntelHexRecord& record);
    // Fills blocks and returns the number of data bytes, or kHexConversionFailed.
    int32_t Finish(std::vector<UdsTransferDatablockTag>& blocks);

  private:
    uint64_t EndOf(const Piece& piece) const { return piece.start + piece.length / addressUnit_; }
    // The block of the sorted pieces [first, last).
    UdsTransferDatablockTag MakeBlock(size_t first, size_t last, int32_t group) const;
    void AppendText(const Piece& piece, std::string& out) const;

    const uint32_t addressUnit_;  // bytes per address step
    std::vector<Piece> pieces_;
    const std::string_view text_;
    // Where the data digits of each data record start in the text, and its data length; in
    // text order.
    std::vector<size_t> recordDigits_;
    std::vector<uint8_t> recordLengths_;
    uint64_t totalBytes_ = 0;
};

BlockBuilder::BlockBuilder(HexAddressing addressing, std::string_view text)
    : addressUnit_(addressing == HexAddressing::kWord ? 2 : 1), text_(text) {}

// Takes the data records; the reader has placed and checked them already.
bool BlockBuilder::AddRecord(const IntelHexRecord& record) {
    const size_t length = record.data.size();
    if (record.type != kHexData || length == 0) return true;
    if (totalBytes_ + length > kMaxImageBytes) return false;
    // A record that continues the previous one joins its piece, whatever extended address
    // record came between: ordering would merge the two anyway.
    if (pieces_.empty() || record.start != EndOf(pieces_.back())) {
        pieces_.push_back(
            Piece{record.start, 0, record.offset, record.base, recordLengths_.size(), 0});
    }
    Piece& piece = pieces_.back();
    piece.length += length;
    ++piece.recordCount;
    recordDigits_.push_back(static_cast<size_t>(record.dataDigits.data() - text_.data()));
    recordLengths_.push_back(static_cast<uint8_t>(length));
    totalBytes_ += length;
    return true;
}

// Appends each record's data as "XX XX ... XX|". The characters of one record are built on
// the stack and appended at once: the block's text is written once, never zero-filled first.
void BlockBuilder::AppendText(const Piece& piece, std::string& out) const {
    std::array<char, kTextCharsPerByte * kMaxRecordDataBytes> line;
    for (size_t r = piece.firstRecord; r < piece.firstRecord + piece.recordCount; ++r) {
        const size_t length = recordLengths_[r];
        if (length == 0) continue;  // never kept; the separator below needs a byte before it
        const char* digit = text_.data() + recordDigits_[r];
        char* at = line.data();
        for (size_t i = 0; i < length; ++i, digit += 2, at += kTextCharsPerByte) {
            at[0] = kUpperDigit[static_cast<unsigned char>(digit[0])];
            at[1] = kUpperDigit[static_cast<unsigned char>(digit[1])];
            at[2] = ' ';
        }
        const size_t chars = kTextCharsPerByte * length;
        line[chars - 1] = kLineSeparator;
        out.append(line.data(), chars);
    }
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
    block.data.reserve(static_cast<size_t>(kTextCharsPerByte * length));
    for (size_t i = first; i < last; ++i) AppendText(pieces_[i], block.data);
    return block;
}

int32_t BlockBuilder::Finish(std::vector<UdsTransferDatablockTag>& blocks) {
    if (totalBytes_ == 0) return kHexConversionFailed;
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
    const auto addressing = static_cast<HexAddressing>(conversionMode);
    BlockBuilder builder(addressing, hexText);
    IntelHexReader reader(hexText, addressing == HexAddressing::kWord ? 2 : 1);
    IntelHexRecord record;
    for (;;) {
        const IntelHexStep step = reader.Next(record);
        if (step == IntelHexStep::kEnd) return builder.Finish(blocks);
        if (step == IntelHexStep::kMalformed || !builder.AddRecord(record)) {
            return kHexConversionFailed;
        }
    }
}

}  // namespace diagbridge
