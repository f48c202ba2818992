#include "sim/kline/KwpDownloadImage.h"

#include <algorithm>

#include "sim/kline/KwpNegativeCodes.h"

namespace diagbridge::sim {

namespace {
constexpr uint8_t kFormatPlain = 0x00;
constexpr uint8_t kFormatDefault = 0xFF;
// Count, two address bytes, type and checksum around the data of a record.
constexpr size_t kRecordOverhead = 5;
constexpr size_t kDataOffset = 4;
constexpr uint8_t kData = 0x00;
constexpr uint8_t kEndOfFile = 0x01;
constexpr uint8_t kExtendedSegment = 0x02;
constexpr uint8_t kStartSegment = 0x03;
constexpr uint8_t kExtendedLinear = 0x04;
constexpr uint8_t kStartLinear = 0x05;
constexpr size_t kBaseBytes = 2;
constexpr size_t kStartBytes = 4;
constexpr uint32_t kSegmentShift = 4;
constexpr uint32_t kLinearShift = 16;
constexpr uint32_t kOffsetSpan = 0x10000;  // a record's data never wraps its 64 KiB window

bool InRegions(const std::vector<KwpAddressRange>& regions, uint32_t address, uint32_t count) {
    return std::any_of(regions.begin(), regions.end(), [&](const KwpAddressRange& region) {
        return region.Contains(address, count);
    });
}

bool ChecksumMatches(const uint8_t* record, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + record[i]);
    return sum == 0;
}
}  // namespace

uint8_t KwpDownloadImage::Begin(uint32_t address, uint8_t format, uint32_t size,
                                const std::vector<KwpAddressRange>& regions) {
    if (active_) return kwpnrc::kSequenceError;
    if (format != kFormatPlain && format != kFormatDefault) return kwpnrc::kImproperDownloadType;
    if (address != kWholeArea && !InRegions(regions, address, 1)) {
        return kwpnrc::kAddressNotDownloadable;
    }
    if (address != kWholeArea && size != kWholeArea && !InRegions(regions, address, size)) {
        return kwpnrc::kSizeNotDownloadable;
    }
    regions_ = regions;
    areaAddress_ = address;
    areaSize_ = size;
    base_ = 0;
    active_ = true;
    endSeen_ = false;
    complete_ = false;
    records_ = 0;
    bytes_ = 0;
    runs_.clear();
    return kwpnrc::kNone;
}

uint8_t KwpDownloadImage::AddRecord(const uint8_t* record, size_t length) {
    if (!active_) return kwpnrc::kSequenceError;
    if (length < kRecordOverhead) return kwpnrc::kInvalidFormat;
    const size_t count = record[0];
    if (count != length - kRecordOverhead) return kwpnrc::kWrongByteCount;
    if (!ChecksumMatches(record, length)) return kwpnrc::kRecordChecksum;
    if (endSeen_) return kwpnrc::kSequenceError;
    const uint8_t* data = record + kDataOffset;
    const auto offset = static_cast<uint16_t>((record[1] << 8) | record[2]);
    const uint8_t type = record[3];
    uint8_t result = kwpnrc::kNone;
    switch (type) {
        case kData:
            result = AddData(offset, data, count);
            break;
        case kEndOfFile:
            endSeen_ = true;
            break;
        case kExtendedSegment:
        case kExtendedLinear:
            if (count != kBaseBytes) return kwpnrc::kWrongByteCount;
            base_ = static_cast<uint32_t>((data[0] << 8) | data[1])
                    << (type == kExtendedLinear ? kLinearShift : kSegmentShift);
            break;
        case kStartSegment:
        case kStartLinear:
            if (count != kStartBytes) return kwpnrc::kWrongByteCount;
            break;
        default:
            return kwpnrc::kIllegalRecordType;
    }
    if (result == kwpnrc::kNone) ++records_;
    return result;
}

uint8_t KwpDownloadImage::AddData(uint16_t offset, const uint8_t* data, size_t count) {
    if (count == 0) return kwpnrc::kNone;
    if (offset + count > kOffsetSpan) return kwpnrc::kIllegalAddress;
    const uint32_t address = base_ + offset;
    const auto length = static_cast<uint32_t>(count);
    if (!InsideArea(address, length)) return kwpnrc::kIllegalAddress;
    // A record written twice or into bytes already written is out of sequence.
    if (Overlaps(address, length)) return kwpnrc::kSequenceError;
    Store(address, data, count);
    bytes_ += length;
    return kwpnrc::kNone;
}

uint8_t KwpDownloadImage::Finish() {
    if (!active_ || !endSeen_) return kwpnrc::kSequenceError;
    active_ = false;
    complete_ = true;
    return kwpnrc::kNone;
}

bool KwpDownloadImage::InsideArea(uint32_t address, uint32_t count) const {
    if (areaAddress_ != kWholeArea) {
        if (address < areaAddress_) return false;
        if (areaSize_ != kWholeArea &&
            !KwpAddressRange{areaAddress_, areaSize_}.Contains(address, count)) {
            return false;
        }
    }
    return InRegions(regions_, address, count);
}

bool KwpDownloadImage::Overlaps(uint32_t address, uint32_t count) const {
    auto next = runs_.lower_bound(address);
    if (next != runs_.end() && next->first - address < count) return true;
    if (next == runs_.begin()) return false;
    const auto& previous = *std::prev(next);
    return address - previous.first < previous.second.size();
}

void KwpDownloadImage::Store(uint32_t address, const uint8_t* data, size_t count) {
    auto next = runs_.lower_bound(address);
    std::vector<uint8_t>* run = nullptr;
    if (next != runs_.begin()) {
        auto previous = std::prev(next);
        if (previous->first + previous->second.size() == address) run = &previous->second;
    }
    if (run == nullptr) {
        next = runs_.emplace_hint(next, address, std::vector<uint8_t>{});
        run = &next->second;
        ++next;
    }
    run->insert(run->end(), data, data + count);
    if (next != runs_.end() && next->first == address + count) {
        run->insert(run->end(), next->second.begin(), next->second.end());
        runs_.erase(next);
    }
}

bool KwpDownloadImage::Read(uint32_t address, size_t count, std::vector<uint8_t>& out) const {
    auto after = runs_.upper_bound(address);
    if (after == runs_.begin()) return false;
    const auto& run = *std::prev(after);
    const uint32_t skip = address - run.first;
    if (skip > run.second.size() || count > run.second.size() - skip) return false;
    out.assign(run.second.begin() + static_cast<std::ptrdiff_t>(skip),
               run.second.begin() + static_cast<std::ptrdiff_t>(skip + count));
    return true;
}

}  // namespace diagbridge::sim
