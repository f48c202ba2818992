#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace diagbridge {

// The one reading of Intel-HEX text that every protocol uses (range scan, UDS blocks,
// KWP2000 records).
//
// Lines are separated by "|" or line breaks. White space at both ends of a line is ignored,
// and so is a line that is empty then; leading colons are stripped. What remains must be hex
// digit pairs (either case) that form one record: length, 16-bit address, type, data,
// checksum, with the length byte matching and all bytes summing to 0 modulo 256.
// Records, told apart by their bytes, never by their text:
// - 00 data at base + address field (address units: bytes, or words for word-addressed
//   images, whose data length must then be even); it must end at or below 2^32 units, and
//   under a segment base inside the segment's 64 KiB window;
// - 01 end of file: length 0, exactly once; after it only empty lines may follow;
// - 02 extended segment address (length 2): base := value x 16;
// - 04 extended linear address (length 2): base := value << 16;
//   the last extended address record read is the one in force, they never add up;
// - 03 and 05 start addresses (length 4): passed on, place nothing;
// - any other type is malformed. A text without the end record is malformed.
struct IntelHexRecord {
    uint8_t type = 0;
    uint16_t offset = 0;             // the 16-bit address field
    std::span<const uint8_t> bytes;  // the whole record, length byte to checksum
    std::span<const uint8_t> data;   // the data bytes
    std::string_view dataDigits;     // the data as its digits stand in the text
    uint32_t base = 0;               // extended address value: segment, or upper bits << 16
    uint64_t start = 0;              // data records: first address, in address units
};

enum class IntelHexStep {
    kRecord,     // record filled in (any type but the end record)
    kEnd,        // the end record was read and nothing follows it
    kMalformed,  // the text is no Intel-HEX file; nothing of it may be used
};

enum IntelHexType : uint8_t {
    kHexData = 0x00,
    kHexEndOfFile = 0x01,
    kHexExtendedSegmentAddress = 0x02,
    kHexStartSegmentAddress = 0x03,
    kHexExtendedLinearAddress = 0x04,
    kHexStartLinearAddress = 0x05,
};

// Splits a text into its lines at "|" and line breaks, untrimmed; scans the text once for
// each separator, however the lines are separated.
class IntelHexLines {
  public:
    explicit IntelHexLines(std::string_view text);
    // The next line; false at the end of the text.
    bool Next(std::string_view& line);

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t nextBar_;    // the next "|" at or after pos_, or the text's size
    std::size_t nextBreak_;  // the next line break likewise
};

class IntelHexReader {
  public:
    static constexpr std::size_t kRecordOverhead = 5;  // length, address (2), type, checksum
    static constexpr std::size_t kMaxRecordBytes = 255 + kRecordOverhead;

    // addressUnit: bytes per address step, 1 or 2. text must outlive the reader.
    explicit IntelHexReader(std::string_view text, uint32_t addressUnit = 1);

    // Reads the next record; the spans of record stay valid until the next call.
    IntelHexStep Next(IntelHexRecord& record);

  private:
    bool NextLine(std::string_view& line);
    bool Decode(std::string_view digits, IntelHexRecord& record);
    bool Place(IntelHexRecord& record);
    bool OnlyBlankLinesFollow();

    IntelHexLines lines_;
    uint32_t addressUnit_;
    uint32_t base_ = 0;
    bool segment_ = false;
    bool ended_ = false;
    std::array<uint8_t, kMaxRecordBytes> bytes_{};
};

// True when one line of text is the end record (":00000001FF" in either case).
bool HoldsIntelHexEndRecord(std::string_view text);

}  // namespace diagbridge
