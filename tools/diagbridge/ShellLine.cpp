#include "tools/diagbridge/ShellLine.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace diagbridge::cli {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads a double-quoted string at line[pos] (pos on the opening quote) with \" and \\.
bool ReadQuoted(const std::string& line, std::size_t& pos, std::string& out, std::string& error) {
    ++pos;
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size() || (line[pos] != '"' && line[pos] != '\\')) {
            error = "only \\\" and \\\\ are escapes in a string";
            return false;
        }
        out += line[pos++];
    }
    error = "string is not closed";
    return false;
}

bool ReadInteger(const std::string& token, int64_t& value, std::string& error) {
    const bool hex = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
    const bool negative = !hex && !token.empty() && token[0] == '-';
    const std::size_t digitsFrom = hex ? 2 : (negative ? 1 : 0);
    if (digitsFrom >= token.size()) {
        error = "'" + token + "' is not a number";
        return false;
    }
    for (std::size_t i = digitsFrom; i < token.size(); ++i) {
        const auto c = static_cast<unsigned char>(token[i]);
        if (!(hex ? std::isxdigit(c) : std::isdigit(c))) {
            error = "'" + token + "' is not a number";
            return false;
        }
    }
    errno = 0;
    value = std::strtoll(token.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE || value < INT32_MIN || value > UINT32_MAX) {
        error = "'" + token + "' is out of range";
        return false;
    }
    return true;
}
}  // namespace

bool ParseShellLine(const std::string& line, ShellLine& parsed, std::string& error) {
    parsed = ShellLine{};
    std::size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size() || line[pos] == '#') return true;
    while (pos < line.size() && !IsBlank(line[pos])) parsed.word += line[pos++];
    while (true) {
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos == line.size()) return true;
        ShellArgument argument;
        if (line[pos] == '"') {
            argument.kind = ShellArgument::Kind::String;
            if (!ReadQuoted(line, pos, argument.text, error)) return false;
            if (pos < line.size() && !IsBlank(line[pos])) {
                error = "a blank must follow a string";
                return false;
            }
        } else {
            std::string token;
            while (pos < line.size() && !IsBlank(line[pos])) token += line[pos++];
            if (!ReadInteger(token, argument.integer, error)) return false;
        }
        parsed.arguments.push_back(std::move(argument));
    }
}

}  // namespace diagbridge::cli
