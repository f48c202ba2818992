#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace diagbridge {

// Parameter strings: a keyword, then "|KEY=VALUE" parts ("KWP2000|RS232=1|TRACE=1").

// The "|"-separated tokens of text; empty tokens are skipped, so "||" is one separator.
std::vector<std::string> SplitParameterTokens(std::string_view text);

// The first token of text (the keyword); empty when there is none.
std::string ParameterKeyword(std::string_view text);

using ParameterSetter = std::function<int32_t(const std::string& key, const std::string& value)>;

// Checks the keyword (exact, case-sensitive) and hands every KEY=VALUE token to set; a token
// without "=" is ignored. Returns 0, or -3 for a wrong keyword or the first negative answer
// of set (the settings made before it stay).
int32_t ParseParameterString(std::string_view text, std::string_view keyword,
                             const ParameterSetter& set);

// value without any blanks.
std::string StripBlanks(std::string_view value);

// value without its leading and trailing blanks (a text that names something, such as a
// firmware version, keeps the blanks inside it).
std::string TrimBlanks(std::string_view value);

// The leading decimal digits of value, with an optional sign; 0 when there are none.
int32_t ReadDecimal(std::string_view value);

// A switch key (TRACE, PROGRESS, STATUS, VECTOR, ...): blanks removed, read as ReadDecimal;
// on only for the number 1 ("1", "01", "1x").
bool ReadSwitch(std::string_view value);

// An unsigned number in hexadecimal with an optional "0x" prefix and "h" suffix ("0x33h",
// "33h", "0x33", "33"); blanks are ignored. False, number untouched, for no digits, any
// other character or a value above 0xFFFFFFFF.
bool ReadHex(std::string_view value, uint32_t& number);

// An unsigned number in decimal ("51"), or in hexadecimal when it carries a "0x" prefix or
// an "h" suffix; otherwise as ReadHex.
bool ReadNumber(std::string_view value, uint32_t& number);

}  // namespace diagbridge
