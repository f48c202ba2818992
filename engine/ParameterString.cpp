#include "engine/ParameterString.h"

#include <cctype>
#include <limits>

namespace diagbridge {

constexpr int32_t kParameterRejected = -3;

std::vector<std::string> SplitParameterTokens(std::string_view text) {
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t bar = text.find('|', pos);
        if (bar == std::string_view::npos) bar = text.size();
        if (bar > pos) tokens.emplace_back(text.substr(pos, bar - pos));
        pos = bar + 1;
    }
    return tokens;
}

std::string ParameterKeyword(std::string_view text) {
    const auto tokens = SplitParameterTokens(text);
    return tokens.empty() ? std::string() : tokens.front();
}

int32_t ParseParameterString(std::string_view text, std::string_view keyword,
                             const ParameterSetter& set) {
    const auto tokens = SplitParameterTokens(text);
    if (tokens.empty() || tokens.front() != keyword) return kParameterRejected;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::size_t equals = tokens[i].find('=');
        if (equals == std::string::npos) continue;
        if (set(tokens[i].substr(0, equals), tokens[i].substr(equals + 1)) < 0) {
            return kParameterRejected;
        }
    }
    return 0;
}

std::string StripBlanks(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c != ' ') out += c;
    }
    return out;
}

int32_t ReadDecimal(std::string_view value) {
    std::size_t pos = 0;
    while (pos < value.size() && value[pos] == ' ') ++pos;
    bool negative = false;
    if (pos < value.size() && (value[pos] == '-' || value[pos] == '+')) {
        negative = value[pos] == '-';
        ++pos;
    }
    int64_t number = 0;
    constexpr int64_t kLimit = std::numeric_limits<int32_t>::max();
    while (pos < value.size() && std::isdigit(static_cast<unsigned char>(value[pos]))) {
        number = number * 10 + (value[pos] - '0');
        if (number > kLimit) number = kLimit;  // saturate instead of wrapping
        ++pos;
    }
    return static_cast<int32_t>(negative ? -number : number);
}

bool ReadSwitch(std::string_view value) {
    const std::string stripped = StripBlanks(value);
    return stripped == "1";
}

bool ReadHexNumber(std::string_view value, uint32_t& number) {
    constexpr std::size_t kMaxDigits = 8;
    std::string digits;
    bool sawDigit = false;
    bool leading = true;
    for (char c : value) {
        if (c == 'h' || c == 'H') continue;
        if (leading && (c == '0' || c == 'x' || c == 'X')) {
            sawDigit = sawDigit || c == '0';
            continue;
        }
        leading = false;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() > kMaxDigits || (!sawDigit && digits.empty())) return false;
    uint32_t result = 0;
    for (char c : digits) {
        const int nibble = std::isdigit(static_cast<unsigned char>(c))
                               ? c - '0'
                               : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        result = (result << 4) | static_cast<uint32_t>(nibble);
    }
    number = result;
    return true;
}

}  // namespace diagbridge
