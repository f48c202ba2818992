// KWP2000 download records from Intel-HEX text: an accepted text gives, in order, exactly the
// records the reader reads, each a whole record as the line gets it (length byte matching,
// checksum 0, a type the ECU knows with its length, within the TransferData limit); their
// lengths add up to the range scan's count. A refused text leaves no record behind.
#include <numeric>
#include <string>
#include <vector>

#include "engine/CConvert.h"
#include "engine/HexRange.h"
#include "engine/IntelHexReader.h"
#include "fuzz/FuzzCheck.h"
#include "kwp2000/KwpDownloadRecords.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::AsText;
using diagbridge::fuzz::Require;

constexpr std::size_t kRecordOverhead = IntelHexReader::kRecordOverhead;
constexpr std::size_t kTypeIndex = 3;
constexpr std::size_t kAddressRecordLength = 2;
constexpr std::size_t kStartRecordLength = 4;

// What the reader itself makes of the text.
struct ReaderView {
    bool wellFormed = true;
    bool fits = true;
    bool hasData = false;
    std::vector<std::vector<uint8_t>> records;
};

ReaderView ReadWithReader(std::string_view text) {
    ReaderView view;
    IntelHexReader reader(text);
    IntelHexRecord record;
    for (;;) {
        const IntelHexStep step = reader.Next(record);
        if (step == IntelHexStep::kEnd) return view;
        if (step == IntelHexStep::kMalformed) {
            view.wellFormed = false;
            return view;
        }
        view.fits = view.fits && record.bytes.size() <= kKwpMaxRecordBytes;
        view.hasData = view.hasData || (record.type == kHexData && !record.data.empty());
        view.records.emplace_back(record.bytes.begin(), record.bytes.end());
    }
}

std::size_t ExpectedLength(uint8_t type) {
    switch (type) {
        case kHexExtendedSegmentAddress:
        case kHexExtendedLinearAddress:
            return kAddressRecordLength;
        case kHexStartSegmentAddress:
        case kHexStartLinearAddress:
            return kStartRecordLength;
        default:
            return SIZE_MAX;  // data: any length
    }
}

// One record as the TransferData request carries it; returns its length byte.
uint32_t CheckRecord(const std::string& text, const std::vector<uint8_t>& expected) {
    std::vector<uint8_t> bytes(kKwpMaxRecordBytes + 1);
    std::size_t stored = 0;
    const int32_t count = HexStringToBytes(text, bytes.data(), bytes.size(), stored);
    Require(count >= 0 && static_cast<std::size_t>(count) == stored);
    bytes.resize(stored);
    Require(bytes == expected);
    Require(text.size() == 3 * bytes.size() - 1);
    Require(bytes.size() >= kRecordOverhead && bytes.size() <= kKwpMaxRecordBytes);
    Require(bytes[0] + kRecordOverhead == bytes.size());
    Require(std::accumulate(bytes.begin(), bytes.end(), 0u) % 256 == 0);
    const uint8_t type = bytes[kTypeIndex];
    Require(type != kHexEndOfFile && type <= kHexStartLinearAddress);
    const std::size_t length = ExpectedLength(type);
    Require(length == SIZE_MAX || bytes[0] == length);
    return bytes[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text = AsText(data, size);
    std::vector<std::string> records = {"stale"};
    std::size_t calls = 0;
    const bool accepted = ReadKwpDownloadRecords(text, records, [&calls] { ++calls; });
    const ReaderView view = ReadWithReader(text);
    Require(accepted == (view.wellFormed && view.fits && view.hasData));
    if (!accepted) {
        Require(records.empty());
        return 0;
    }
    Require(records.size() == view.records.size() && calls == records.size() + 1);
    uint64_t lengths = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        lengths += CheckRecord(records[i], view.records[i]);
    }
    HexRange range;
    Require(DetectHexRange(text, range) == 1 && lengths == range.count);
    return 0;
}
