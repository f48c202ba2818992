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

std::string TrimBlanks(std::string_view value) {
    const std::size_t first = value.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(value.substr(first, value.find_last_not_of(' ') - first + 1));
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
    return ReadDecimal(StripBlanks(value)) == 1;
}

namespace {

bool HasHexPrefix(std::string_view text) {
    return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

bool HasHexSuffix(std::string_view text) {
    return !text.empty() && (text.back() == 'h' || text.back() == 'H');
}

// All of digits read in base (10 or 16); false for none, a stray character or an overflow.
bool ReadDigits(std::string_view digits, uint32_t base, uint32_t& number) {
    if (digits.empty()) return false;
    uint64_t value = 0;
    for (char c : digits) {
        const auto u = static_cast<unsigned char>(c);
        uint32_t digit = 0;
        if (std::isdigit(u)) {
            digit = static_cast<uint32_t>(c - '0');
        } else if (base == 16 && std::isxdigit(u)) {
            digit = static_cast<uint32_t>(std::tolower(u) - 'a' + 10);
        } else {
            return false;
        }
        value = value * base + digit;
        if (value > std::numeric_limits<uint32_t>::max()) return false;
    }
    number = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool ReadHex(std::string_view value, uint32_t& number) {
    const std::string text = StripBlanks(value);
    std::string_view digits = text;
    if (HasHexPrefix(digits)) digits.remove_prefix(2);
    if (HasHexSuffix(digits)) digits.remove_suffix(1);
    return ReadDigits(digits, 16, number);
}

bool ReadNumber(std::string_view value, uint32_t& number) {
    const std::string text = StripBlanks(value);
    if (HasHexPrefix(text) || HasHexSuffix(text)) return ReadHex(text, number);
    return ReadDigits(text, 10, number);
}

}  // namespace diagbridge
