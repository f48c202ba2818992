#include "tools/diagbridge/TaskData.h"

#include <array>
#include <cctype>
#include <fstream>

#include "engine/CConvert.h"
#include "tools/diagbridge/Json.h"

namespace diagbridge::cli {

namespace {

constexpr size_t kRecordFrameBytes = 5;  // length, address (2), type, checksum
constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kEndRecord = 0x01;
constexpr uint8_t kHighestRecordType = 0x05;
constexpr size_t kMaxRecordBytes = kRecordFrameBytes + 255;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Checks one record; its bytes in out. Empty when it reads, else what is wrong.
std::string CheckRecord(const std::string& line, std::vector<uint8_t>& out) {
    if (line.empty() || line[0] != ':') return "record does not start with ':'";
    if ((line.size() - 1) % 2 != 0) return "odd number of hex digits";
    out.clear();
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        const int high = HexDigit(line[i]);
        const int low = HexDigit(line[i + 1]);
        if (high < 0 || low < 0) return "not a hex digit at column " + std::to_string(i + 1);
        out.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    if (out.size() < kRecordFrameBytes || out.size() > kMaxRecordBytes) return "record too short";
    if (out.size() != kRecordFrameBytes + out[0]) return "record length does not match its data";
    if (out[3] > kHighestRecordType) return "unknown record type " + std::to_string(out[3]);
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < out.size(); ++i) sum = static_cast<uint8_t>(sum + out[i]);
    const auto expected = static_cast<uint8_t>(0x100 - sum);
    if (expected == out.back()) return {};
    char text[64];
    std::snprintf(text, sizeof(text), "bad checksum %02X, expected %02X", out.back(), expected);
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : text) {
        if (c == '|' || c == '\n' || c == '\r') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

constexpr std::array kDtcRequests = {
    DtcRequest{"UDS_ISO_14229", "19 02 FF", 3, 3},
    DtcRequest{"KWP2000", "18 00 FF 00", 2, 2},
};

}  // namespace

bool ReadHexFile(const std::string& path, HexFile& hex, std::string& error, bool& missing) {
    std::ifstream file(path);
    missing = !file;
    if (missing) {
        error = path + ": cannot open the file";
        return false;
    }
    hex = HexFile{};
    std::string line;
    std::vector<uint8_t> record;
    for (int number = 1; std::getline(file, line); ++number) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty()) continue;
        const std::string wrong = CheckRecord(line, record);
        if (!wrong.empty()) {
            error = path + ":" + std::to_string(number) + ": " + wrong;
            return false;
        }
        hex.text += Upper(line) + "|";
        if (record[3] == kDataRecord) hex.dataBytes += record[0];
        if (record[3] == kEndRecord) return true;
    }
    error = path + ": no end record (:00000001FF)";
    return false;
}

std::vector<UploadSection> ParseUpload(const std::string& text) {
    std::vector<UploadSection> sections;
    for (const std::string& line : SplitLines(text)) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            sections.push_back(UploadSection{line.substr(1, line.size() - 2), {}, {}});
            continue;
        }
        if (sections.empty()) sections.emplace_back();
        const auto equals = line.find('=');
        if (equals != std::string::npos && equals > 0 && line[0] != ':') {
            sections.back().values.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        } else {
            sections.back().lines.push_back(line);
        }
    }
    return sections;
}

std::string UploadJson(const std::vector<UploadSection>& sections) {
    std::vector<std::string> items;
    for (const UploadSection& section : sections) {
        JsonObject values;
        for (const auto& [key, value] : section.values) values.Add(key, value);
        std::vector<std::string> lines;
        for (const std::string& line : section.lines) lines.push_back(JsonString(line));
        items.push_back(JsonObject()
                            .Add("name", section.name)
                            .AddJson("values", values.Text())
                            .AddJson("lines", JsonArray(lines))
                            .Text());
    }
    return JsonArray(items);
}

std::vector<std::pair<std::string, std::string>> ParseIdent(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const std::string& line : SplitLines(text)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        pairs.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
    return pairs;
}

const DtcRequest* DtcRequestOf(const std::string& protocol) {
    for (const DtcRequest& request : kDtcRequests) {
        if (protocol == request.protocol) return &request;
    }
    return nullptr;
}

bool ParseTroubleCodes(const DtcRequest& request, const std::string& response,
                       std::vector<TroubleCode>& codes) {
    std::array<uint8_t, 4096> bytes{};
    size_t count = 0;
    if (HexStringToBytes(response, bytes.data(), bytes.size(), count) < 0) return false;
    std::array<uint8_t, 8> requestBytes{};
    size_t ignored = 0;
    if (HexStringToBytes(request.request, requestBytes.data(), requestBytes.size(), ignored) < 0) {
        return false;
    }
    const uint8_t requestService = requestBytes[0];
    constexpr uint8_t kPositiveOffset = 0x40;
    if (count < request.headerBytes || bytes[0] != requestService + kPositiveOffset) return false;
    const size_t recordBytes = request.codeBytes + 1;
    if ((count - request.headerBytes) % recordBytes != 0) return false;
    codes.clear();
    for (size_t at = request.headerBytes; at < count; at += recordBytes) {
        TroubleCode code;
        for (size_t i = 0; i < request.codeBytes; ++i) code.code = code.code << 8 | bytes[at + i];
        code.status = bytes[at + request.codeBytes];
        codes.push_back(code);
    }
    return true;
}

}  // namespace diagbridge::cli
