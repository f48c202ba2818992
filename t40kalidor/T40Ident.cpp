#include "t40kalidor/T40Ident.h"

#include <array>

#include "ecu/KwpUploadValues.h"
#include "engine/CConvert.h"

namespace diagbridge {

namespace {
constexpr std::size_t kMaxBytes = 1024;

constexpr std::array<T40IdentField, 19> kFields = {{
    {"SOFTWAREPARTNUMBER", 1, 8},  {"DIAGNOSTICTYPE", 9, 16},     {"TRANSMISSIONTYPE", 17, 36},
    {"SOFTWAREVERSION", 37, 44},   {"DATASETLENGTH", 45, 46},     {"RESERVE1", 47, 56},
    {"ASSEMBLYNUMBER", 57, 66},    {"HARDWARERESERVE", 67, 74},   {"SEMIFINISHED", 75, 82},
    {"SERIALNUMBER", 83, 90},      {"RESERVE2", 91, 100},         {"ECUNUMBER", 101, 108},
    {"DATASETNUMBER", 109, 116},   {"DATASETACTUAL", 117, 124},   {"DATASETHISTORY1", 125, 132},
    {"DATASETHISTORY2", 133, 140}, {"DATASETHISTORY3", 141, 148}, {"DATASETHISTORY4", 149, 156},
    {"RESERVE3", 157, 208},
}};

// The order of the identification text.
constexpr const char* kTextOrder[] = {
    "SOFTWAREPARTNUMBER", "DIAGNOSTICTYPE",  "TRANSMISSIONTYPE", "SOFTWAREVERSION",
    "DATASETLENGTH",      "ASSEMBLYNUMBER",  "HARDWARERESERVE",  "SEMIFINISHED",
    "SERIALNUMBER",       "ECUNUMBER",       "DATASETNUMBER",    "DATASETACTUAL",
    "DATASETHISTORY1",    "DATASETHISTORY2", "DATASETHISTORY3",  "DATASETHISTORY4",
    "RESERVE1",           "RESERVE2",        "RESERVE3"};
}  // namespace

std::vector<uint8_t> T40Bytes(const std::string& hexText) {
    std::vector<uint8_t> bytes(kMaxBytes);
    std::size_t stored = 0;
    const int32_t count = HexStringToBytes(hexText, bytes.data(), bytes.size(), stored);
    bytes.resize(count < 0 ? 0 : stored);
    return bytes;
}

std::string T40Text(const std::vector<uint8_t>& bytes, std::size_t first, std::size_t last) {
    std::string text;
    for (std::size_t i = first; i <= last && i < bytes.size(); ++i) {
        if (bytes[i] != 0) text += static_cast<char>(bytes[i]);
    }
    return text;
}

uint32_t T40Word(const std::vector<uint8_t>& bytes, std::size_t offset) {
    const uint32_t high = offset < bytes.size() ? bytes[offset] : 0;
    const uint32_t low = offset + 1 < bytes.size() ? bytes[offset + 1] : 0;
    return (high << 8) | low;
}

std::string T40IdentValue(const std::vector<uint8_t>& block, const std::string& key) {
    if (block.empty()) return {};
    for (const T40IdentField& field : kFields) {
        if (key != field.key) continue;
        if (key == "DATASETLENGTH") {
            return FormatText("_%u", T40Word(block, kDataSetLengthOffset));
        }
        return T40Text(block, field.first, field.last);
    }
    return {};
}

std::string T40IdentText(const std::string& hardwareVersion, const std::vector<uint8_t>& block,
                         const std::string& objectType) {
    std::string text = "HARDWAREVERSION=" + hardwareVersion + "|";
    for (const char* key : kTextOrder) {
        text += std::string(key) + "=" + T40IdentValue(block, key) + "|";
    }
    return text + "ECU=" + objectType + "|";
}

}  // namespace diagbridge
