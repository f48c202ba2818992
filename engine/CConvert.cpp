#include "engine/CConvert.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace diagbridge {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::size_t kResponseHeaderBytes = 3;  // service id and two-byte identifier

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One token of one or two hex digits; -1 when it is anything else.
int TokenValue(std::string_view token) {
    if (token.empty() || token.size() > 2) return -1;
    int value = 0;
    for (char c : token) {
        const int digit = HexValue(c);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

template <typename Buffer>
int32_t ReadInto(const std::string& text, Buffer& out) {
    out = Buffer{};
    std::size_t stored = 0;
    const int32_t result = HexStringToBytes(text, out.data, Buffer::kCapacity, stored);
    out.length = static_cast<uint16_t>(stored);
    return result;
}
}  // namespace

std::string BytesToHexString(const uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += ' ';
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

namespace {
struct HexScan {
    std::size_t total = 0;  // bytes the text holds
    bool malformed = false;
};

// Reads the tokens of text, storing at most capacity bytes.
HexScan ScanHexString(std::string_view text, uint8_t* out, std::size_t capacity,
                      std::size_t& stored) {
    HexScan scan;
    stored = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && IsSpace(text[pos])) ++pos;
        if (pos == text.size()) break;
        std::size_t end = pos;
        while (end < text.size() && !IsSpace(text[end])) ++end;
        const int value = TokenValue(text.substr(pos, end - pos));
        pos = end;
        if (value < 0) {
            scan.malformed = true;
            continue;
        }
        if (stored < capacity) out[stored++] = static_cast<uint8_t>(value);
        ++scan.total;
    }
    return scan;
}
}  // namespace

int32_t HexStringToBytes(std::string_view text, uint8_t* out, std::size_t capacity,
                         std::size_t& stored) {
    const HexScan scan = ScanHexString(text, out, capacity, stored);
    if (scan.malformed || scan.total > capacity) return kHexMalformed;
    return static_cast<int32_t>(scan.total);
}

void AppendLatin1(std::string& text, uint8_t byte) {
    if (byte < 0x80) {
        text += static_cast<char>(byte);
        return;
    }
    text += static_cast<char>(0xC0 | (byte >> 6));
    text += static_cast<char>(0x80 | (byte & 0x3F));
}

std::string Latin1ToUtf8(const uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) AppendLatin1(text, bytes[i]);
    return text;
}

void CConvert::BytesToHex(const ByteBuffer& in) {
    text = BytesToHexString(in.data, in.length);
}

void CConvert::BytesToHex(const ShortByteBuffer& in) {
    text = BytesToHexString(in.data, in.length);
}

int32_t CConvert::HexToBytes(ByteBuffer& out) const {
    return ReadInto(text, out);
}

int32_t CConvert::HexToBytes(ShortByteBuffer& out) const {
    return ReadInto(text, out);
}

std::string DecodeBytes(const ShortByteBuffer& field, const std::string& type) {
    const std::size_t count = std::min<std::size_t>(field.length, ShortByteBuffer::kCapacity);
    std::string text;
    char digits[24];
    if (type == "A") {
        for (std::size_t i = 0; i < count; ++i) {
            if (field.data[i] != 0) AppendLatin1(text, field.data[i]);
        }
    } else if (type == "H") {
        text = count == 0 ? std::string("00") : BytesToHexString(field.data, count);
    } else if (type == "U") {
        // Big-endian like the ECUs' own multi-byte values; at most eight bytes count.
        uint64_t value = 0;
        for (std::size_t i = count > 8 ? count - 8 : 0; i < count; ++i) {
            value = (value << 8) | field.data[i];
        }
        std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(value));
        text = digits;
    } else if (type == "I" || type == "D") {
        const char* format = type == "I" ? "%d" : "%02d";
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(digits, sizeof(digits), format, field.data[i]);
            text += digits;
        }
    }
    return text;
}

std::string DecodeScaledResponse(const std::string& responseHex, const std::string& scaling,
                                 const std::string& separator) {
    // Fields lie in the first ShortByteBuffer bytes; a longer response is cut, not refused.
    ShortByteBuffer response;
    std::size_t stored = 0;
    if (ScanHexString(responseHex, response.data, ShortByteBuffer::kCapacity, stored).malformed) {
        return {};
    }
    response.length = static_cast<uint16_t>(stored);
    std::size_t offset = std::min<std::size_t>(kResponseHeaderBytes, response.length);
    std::string result;
    std::size_t start = 0;
    while (start <= scaling.size()) {
        std::size_t end = scaling.find('_', start);
        if (end == std::string::npos) end = scaling.size();
        const std::string token = scaling.substr(start, end - start);
        start = end + 1;
        if (token.empty()) continue;
        const std::string letter = token.substr(0, 1);
        const unsigned long wanted = std::strtoul(token.c_str() + 1, nullptr, 10);
        const std::size_t take = std::min<std::size_t>(wanted, response.length - offset);
        ShortByteBuffer field;
        std::memcpy(field.data, response.data + offset, take);
        field.length = static_cast<uint16_t>(take);
        offset += take;
        const std::string decoded = DecodeBytes(field, letter);
        if (!result.empty()) result += separator;
        result += decoded;
    }
    return result;
}

}  // namespace diagbridge
