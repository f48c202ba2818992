#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge::cli {

// One argument of a shell line: an integer (decimal or 0x hex) or a quoted string.
struct ShellArgument {
    enum class Kind { Integer, String } kind = Kind::Integer;
    int64_t integer = 0;
    std::string text;
};

// One parsed shell line: a word (method name or "sleep") and its arguments.
struct ShellLine {
    std::string word;
    std::vector<ShellArgument> arguments;
};

// Parses line. Returns false with error set for a line that does not read; a blank line or
// a "#" comment gives true with an empty word.
bool ParseShellLine(const std::string& line, ShellLine& parsed, std::string& error);

}  // namespace diagbridge::cli
