// Intel-HEX: the one reader, the range scan, the UDS block conversion and the KWP2000 record
// check are read against each other and against a small reference reader written here: they
// accept the same texts, place the same bytes at the same addresses, and every accepted record
// is a valid record.
#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "engine/CConvert.h"
#include "engine/HexRange.h"
#include "engine/IntelHexReader.h"
#include "fuzz/FuzzCheck.h"
#include "uds/HexImage.h"

namespace {

using namespace diagbridge;
using diagbridge::fuzz::Require;

// Reference image: address -> byte, or nothing for a text that must be refused. Byte
// addressing only; an address given twice is remembered as overlap.
struct Image {
    std::map<uint64_t, uint8_t> bytes;
    uint32_t recordLengths = 0;
    bool overlap = false;
};

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '|' && text[i] != '\n') continue;
        std::string_view line = text.substr(begin, i - begin);
        while (!line.empty() && Blank(line.front())) line.remove_prefix(1);
        while (!line.empty() && Blank(line.back())) line.remove_suffix(1);
        if (!line.empty()) lines.push_back(line);
        begin = i + 1;
    }
    return lines;
}

std::optional<std::vector<uint8_t>> RecordBytes(std::string_view line) {
    while (!line.empty() && line.front() == ':') line.remove_prefix(1);
    if (line.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    unsigned sum = 0;
    for (std::size_t i = 0; i < line.size(); i += 2) {
        const int high = Digit(line[i]);
        const int low = Digit(line[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        sum += bytes.back();
    }
    if (bytes.size() < 5 || bytes[0] + 5u != bytes.size() || sum % 256 != 0) return std::nullopt;
    return bytes;
}

std::optional<Image> ReferenceRead(std::string_view text) {
    Image image;
    uint64_t base = 0;
    uint64_t window = 1ull << 32;  // end of the addresses the current base may reach
    const std::vector<std::string_view> lines = Lines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const auto record = RecordBytes(lines[n]);
        if (!record) return std::nullopt;
        const std::vector<uint8_t>& r = *record;
        const uint32_t length = r[0];
        const uint32_t offset = r[1] * 256u + r[2];
        const uint32_t value = length >= 2 ? r[4] * 256u + r[5] : 0;
        switch (r[3]) {
            case 0x00:
                for (uint32_t i = 0; i < length; ++i) {
                    const uint64_t address = base + offset + i;
                    if (address >= window) return std::nullopt;
                    image.overlap = image.overlap || image.bytes.count(address) != 0;
                    image.bytes[address] = r[4 + i];
                }
                break;
            case 0x01:
                // Last non-empty line, no data.
                if (length != 0 || n + 1 != lines.size()) return std::nullopt;
                return image;
            case 0x02:
                if (length != 2) return std::nullopt;
                base = uint64_t{value} * 16;
                window = base + 0x10000;
                break;
            case 0x04:
                if (length != 2) return std::nullopt;
                base = uint64_t{value} << 16;
                window = 1ull << 32;
                break;
            case 0x03:
            case 0x05:
                if (length != 4) return std::nullopt;
                break;
            default:
                return std::nullopt;
        }
        image.recordLengths += length;
    }
    return std::nullopt;  // no end record
}

// The reader's own reading, with every record checked as the KWP2000 download sends it.
std::optional<Image> ReaderRead(std::string_view text) {
    IntelHexReader reader(text);
    IntelHexRecord record;
    Image image;
    for (;;) {
        const IntelHexStep step = reader.Next(record);
        if (step == IntelHexStep::kMalformed) return std::nullopt;
        if (step == IntelHexStep::kEnd) return image;
        // An accepted record is a valid record: length byte, checksum, data inside it.
        Require(record.bytes.size() == record.data.size() + IntelHexReader::kRecordOverhead);
        Require(record.bytes[0] == record.data.size() && record.bytes[3] == record.type);
        uint8_t sum = 0;
        for (uint8_t b : record.bytes) sum = static_cast<uint8_t>(sum + b);
        Require(sum == 0);
        Require(record.data.data() == record.bytes.data() + 4);
        Require(record.dataDigits.size() == 2 * record.data.size());
        Require(BytesToHexString(record.data.data(), record.data.size()).size() ==
                (record.data.empty() ? 0 : 3 * record.data.size() - 1));
        image.recordLengths += static_cast<uint32_t>(record.data.size());
        if (record.type != kHexData) continue;
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            const uint64_t address = record.start + i;
            Require(address < (1ull << 32));
            image.overlap = image.overlap || image.bytes.count(address) != 0;
            image.bytes[address] = record.data[i];
        }
    }
}

void CheckRange(std::string_view text, const std::optional<Image>& image) {
    HexRange range;
    const int32_t found = DetectHexRange(text, range);
    if (!image || image->bytes.empty()) {
        Require(found == 0 && range.start == 0xFFFFFFFFu && range.end == 0 && range.count == 0);
        return;
    }
    Require(found == 1);
    Require(range.start == image->bytes.begin()->first);
    Require(range.end == image->bytes.rbegin()->first + 1);
    Require(range.count == image->recordLengths);
}

std::vector<uint8_t> BlockBytes(const UdsTransferDatablockTag& block) {
    std::string digits = block.data;
    std::replace(digits.begin(), digits.end(), '|', ' ');
    std::vector<uint8_t> bytes(block.length + 1);
    std::size_t stored = 0;
    Require(HexStringToBytes(digits, bytes.data(), bytes.size(), stored) ==
            static_cast<int32_t>(block.length));
    bytes.resize(stored);
    return bytes;
}

void CheckUdsBlocks(std::string_view text, const std::optional<Image>& image) {
    std::vector<UdsTransferDatablockTag> blocks;
    const int32_t total = ConvertHexToDatablocks(text, 0, blocks);
    if (!image || image->bytes.empty() || image->overlap) {
        Require(total == kHexConversionFailed && blocks.empty());
        return;
    }
    Require(total == static_cast<int32_t>(image->bytes.size()));
    // Blocks in address order, none touching the next, holding exactly the image's bytes.
    uint64_t previousEnd = 0;
    uint32_t sum = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const UdsTransferDatablockTag& block = blocks[b];
        Require(block.length > 0 && block.group == static_cast<int32_t>(b));
        Require(b == 0 || block.start > previousEnd);
        const std::vector<uint8_t> bytes = BlockBytes(block);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto at = image->bytes.find(uint64_t{block.start} + i);
            Require(at != image->bytes.end() && at->second == bytes[i]);
        }
        previousEnd = uint64_t{block.start} + block.length;
        sum += block.length;
    }
    Require(sum == image->bytes.size());
    // Word addressing reads the same records: the same data bytes or a refusal.
    std::vector<UdsTransferDatablockTag> words;
    const int32_t wordTotal = ConvertHexToDatablocks(text, 1, words);
    Require(wordTotal == kHexConversionFailed || wordTotal == total);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text = diagbridge::fuzz::AsText(data, size);
    const std::optional<Image> reference = ReferenceRead(text);
    const std::optional<Image> read = ReaderRead(text);
    Require(reference.has_value() == read.has_value());
    if (reference) {
        Require(reference->bytes == read->bytes && reference->overlap == read->overlap);
        Require(reference->recordLengths == read->recordLengths);
    }
    CheckRange(text, read);
    CheckUdsBlocks(text, read);
    HoldsIntelHexEndRecord(text);
    return 0;
}
