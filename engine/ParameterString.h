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

// The leading decimal digits of value, with an optional sign; 0 when there are none.
int32_t ReadDecimal(std::string_view value);

// A switch key (TRACE, PROGRESS, STATUS, ...): on only for the value 1.
bool ReadSwitch(std::string_view value);

// A hexadecimal number written as "0x18DA03F1h", "18DA03F1h" or "0x33": leading "0" and "x"
// characters and every "h" are dropped, the rest must be at most eight hex digits (either
// case). False, with number untouched, when there is no digit at all or anything else.
bool ReadHexNumber(std::string_view value, uint32_t& number);

}  // namespace diagbridge
