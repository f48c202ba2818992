#include "ecu/KwpUploadValues.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "engine/CConvert.h"
#include "platform/SystemInfo.h"

namespace diagbridge {
namespace {

constexpr int32_t kRejected = -3;
constexpr uint8_t kMemoryMapAnswer = 0x61;      // positive answer of 21
constexpr uint8_t kReadMemoryAnswer = 0x63;     // positive answer of 23
constexpr std::size_t kMemoryMapFirstArea = 2;  // after 61 and the local identifier
constexpr std::size_t kAreaBytes = 6;
constexpr std::size_t kMaxRecordBytes = 255;
constexpr uint32_t kPageBytes = 0x10000;
constexpr uint8_t kRecordData = 0x00;
constexpr uint8_t kRecordExtendedLinear = 0x04;

// The bytes of a hex byte string; false for a malformed or over-long text.
bool ReadBytes(const std::string& text, std::vector<uint8_t>& bytes) {
    ByteBuffer buffer;
    std::size_t stored = 0;
    if (HexStringToBytes(text, buffer.data, ByteBuffer::kCapacity, stored) < 0) return false;
    bytes.assign(buffer.data, buffer.data + stored);
    return true;
}

uint32_t Read24(const std::vector<uint8_t>& bytes, std::size_t at) {
    return (static_cast<uint32_t>(bytes[at]) << 16) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
           bytes[at + 2];
}

// Two's complement of the low 8 bits of the sum.
uint8_t RecordChecksum(uint32_t sum) {
    return static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

std::string ExtendedLinearRecord(uint32_t upper) {
    const auto high = static_cast<uint8_t>(upper >> 8);
    const auto low = static_cast<uint8_t>(upper);
    const uint32_t sum = 2u + kRecordExtendedLinear + high + low;
    return FormatText(":%02X%04X%02X%02X%02X%02X", 2u, 0u, kRecordExtendedLinear, high, low,
                      RecordChecksum(sum));
}

std::string DataRecord(uint16_t offset, const uint8_t* data, std::size_t count) {
    std::string record =
        FormatText("|:%02X%04X%02X", static_cast<unsigned>(count), offset, kRecordData);
    uint32_t sum = static_cast<uint32_t>(count) + (offset >> 8) + (offset & 0xFF);
    for (std::size_t i = 0; i < count; ++i) {
        record += FormatText("%02X", data[i]);
        sum += data[i];
    }
    return record + FormatText("%02X", RecordChecksum(sum));
}

}  // namespace

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}

void KwpUploadValues::Clear() {
    *this = KwpUploadValues{};
}

int32_t KwpUploadValues::SetMemoryMap(const std::string& response) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(response, bytes) || bytes.empty() || bytes[0] != kMemoryMapAnswer) {
        return kRejected;
    }
    memoryMap.clear();
    for (std::size_t at = kMemoryMapFirstArea; at + kAreaBytes <= bytes.size(); at += kAreaBytes) {
        memoryMap.push_back({Read24(bytes, at), Read24(bytes, at + 3)});
    }
    return static_cast<int32_t>(memoryMap.size());
}

int32_t KwpUploadValues::AddMemoryAnswer(uint32_t address, const std::string& response) {
    std::vector<uint8_t> bytes;
    if (!ReadBytes(response, bytes) || bytes.empty() || bytes[0] != kReadMemoryAnswer) {
        return kRejected;
    }
    memory.push_back({address, std::vector<uint8_t>(bytes.begin() + 1, bytes.end())});
    return 0;
}

int32_t KwpUploadValues::AddEvent(const std::string& response) {
    if (events.size() >= kMaxEvents) return kRejected;
    ShortByteBuffer event;
    std::size_t stored = 0;
    if (HexStringToBytes(response, event.data, ShortByteBuffer::kCapacity, stored) < 0) {
        return kRejected;
    }
    event.length = static_cast<uint16_t>(stored);
    events.push_back(event);
    return 0;
}

std::string KwpUploadValues::DateText() const {
    return date.empty() ? platform::TodayIsoDate() : date;
}

std::string KwpMemorySection(const std::string& heading,
                             const std::vector<KwpMemoryPiece>& pieces) {
    if (pieces.empty()) return {};
    std::string text = heading;
    bool pageWritten = false;
    uint32_t page = 0;
    for (const KwpMemoryPiece& piece : pieces) {
        uint32_t address = piece.address;
        std::size_t offset = 0;
        while (offset < piece.data.size()) {
            if (!pageWritten || address >> 16 != page) {
                page = address >> 16;
                pageWritten = true;
                text += "|" + ExtendedLinearRecord(page);
            }
            const uint32_t toPageEnd = kPageBytes - (address & 0xFFFF);
            const std::size_t count =
                std::min({piece.data.size() - offset, kMaxRecordBytes, std::size_t{toPageEnd}});
            text += DataRecord(static_cast<uint16_t>(address & 0xFFFF), &piece.data[offset], count);
            offset += count;
            address += static_cast<uint32_t>(count);
        }
    }
    return text + FormatText("%s:00000001FF%s", "|", "|");
}

std::string KwpDataBlockSection(const std::vector<KwpMemoryArea>& areas) {
    if (areas.empty()) return {};
    std::string text = "[DataBlocks]|BlockMask=0|";
    int index = 0;
    for (const KwpMemoryArea& area : areas) {
        text += FormatText("Block%d=", index++) +
                FormatText("%06X, %06X%s", area.start, area.length, "|");
    }
    return text;
}

std::string KwpSidSection(const std::string& heading, const std::vector<std::string>& lines) {
    if (lines.empty()) return {};
    std::string text = heading + "|";
    for (const std::string& line : lines) text += line;
    return text;
}

}  // namespace diagbridge
