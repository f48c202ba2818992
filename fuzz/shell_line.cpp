// The shell's line parser: any line gives a parse or an error text, a parse has a word
// without blanks, and an error leaves a reason.
#include "fuzz/FuzzCheck.h"
#include "tools/diagbridge/ShellLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using diagbridge::fuzz::Require;
    const std::string line(diagbridge::fuzz::AsText(data, size));
    diagbridge::cli::ShellLine parsed;
    std::string error;
    if (!diagbridge::cli::ParseShellLine(line, parsed, error)) {
        Require(!error.empty());
        return 0;
    }
    Require(parsed.word.find_first_of(" \t") == std::string::npos);
    Require(!parsed.word.empty() || parsed.arguments.empty());
    Require(parsed.word.size() <= line.size());
    for (const auto& argument : parsed.arguments) Require(argument.text.size() <= line.size());
    return 0;
}
