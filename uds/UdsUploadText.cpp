#include "uds/UdsUploadText.h"

#include <cstdio>

#include "engine/CConvert.h"

namespace diagbridge {

namespace {
constexpr std::size_t kPayloadOffset = 3;  // service id and two bytes after it
constexpr std::size_t kDtcRecordBytes = 4;
constexpr std::size_t kBlockRecordBytes = 6;
constexpr std::size_t kExtendedDataOffset = 21;

std::vector<uint8_t> Bytes(const std::string& response) {
    std::vector<uint8_t> bytes(4096);
    std::size_t stored = 0;
    if (HexStringToBytes(response, bytes.data(), bytes.size(), stored) < 0) return {};
    bytes.resize(stored);
    return bytes;
}

ShortByteBuffer Payload(const std::vector<uint8_t>& bytes) {
    ShortByteBuffer field;
    for (std::size_t i = kPayloadOffset; i < bytes.size() && field.length < field.kCapacity; ++i) {
        field.data[field.length++] = bytes[i];
    }
    return field;
}

std::string BcdDate(const ShortByteBuffer& field) {
    if (field.length < 4) return {};
    int digits[8];
    for (int i = 0; i < 4; ++i) {
        digits[2 * i] = field.data[i] >> 4;
        digits[2 * i + 1] = field.data[i] & 0x0F;
    }
    char text[24];  // a nibble above 9 prints two digits
    std::snprintf(text, sizeof(text), "%d%d%d%d-%d%d-%d%d", digits[0], digits[1], digits[2],
                  digits[3], digits[4], digits[5], digits[6], digits[7]);
    return text;
}

bool AllZero(const ShortByteBuffer& field) {
    for (uint16_t i = 0; i < field.length; ++i) {
        if (field.data[i] != 0) return false;
    }
    return true;
}
}  // namespace

std::string DecodeIdent(uint8_t ident, const std::string& response) {
    const std::vector<uint8_t> bytes = Bytes(response);
    if (bytes.size() <= kPayloadOffset || bytes[0] != 0x62) return kUnknownValue;
    const ShortByteBuffer field = Payload(bytes);
    if (AllZero(field)) return kUnknownValue;
    std::string text;
    switch (ident) {
        case 0x8C:
            text = DecodeBytes(field, "U");
            break;
        case 0x8F:
            text = BcdDate(field);
            break;
        case 0xBF:
            text = DecodeBytes(field, "H");
            break;
        default:
            text = DecodeBytes(field, "A");
    }
    return text.empty() ? kUnknownValue : text;
}

std::string DataBlockTable(const std::string& response) {
    const std::vector<uint8_t> bytes = Bytes(response);
    std::string text = "[DataBlocks]|BlockMask=0|";
    char line[48];
    int index = 0;
    for (std::size_t i = kPayloadOffset; i + kBlockRecordBytes <= bytes.size();
         i += kBlockRecordBytes) {
        const unsigned first = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        const unsigned second = (bytes[i + 3] << 16) | (bytes[i + 4] << 8) | bytes[i + 5];
        std::snprintf(line, sizeof(line), "Block%d=%06X, %06X|", index++, first, second);
        text += line;
    }
    return text;
}

std::vector<std::string> DtcTexts(const std::string& response) {
    const std::vector<uint8_t> bytes = Bytes(response);
    std::vector<std::string> dtcs;
    for (std::size_t i = kPayloadOffset; i + kDtcRecordBytes <= bytes.size();
         i += kDtcRecordBytes) {
        dtcs.push_back(BytesToHexString(&bytes[i], kDtcRecordBytes - 1));
    }
    return dtcs;
}

std::vector<std::string> EventLines(const std::string& response) {
    const std::vector<uint8_t> bytes = Bytes(response);
    std::vector<std::string> lines;
    char line[48];
    int index = 0;
    for (std::size_t i = kPayloadOffset; i + kDtcRecordBytes <= bytes.size();
         i += kDtcRecordBytes) {
        std::snprintf(line, sizeof(line), "Event%d=\"%02X %02X %02X %02X\"|", index++, bytes[i],
                      bytes[i + 1], bytes[i + 2], bytes[i + 3]);
        lines.emplace_back(line);
    }
    return lines;
}

std::string ExtendedData(const std::string& response) {
    return response.size() > kExtendedDataOffset ? response.substr(kExtendedDataOffset)
                                                 : std::string();
}

}  // namespace diagbridge
