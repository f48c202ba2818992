#pragma once
#include <string>
#include <vector>

namespace diagbridge::simtool {

// One subcommand of diagbridge-sim ("hub", "kline", "uds", ...). Each subcommand's file
// registers itself with a static SimCommandRegistration.
struct SimCommand {
    const char* name;
    const char* synopsis;  // one line for --help, e.g. "kline --model T60 [--wired]"
    int (*run)(const std::vector<std::string>& args);  // args after the name; exit code
};

class SimCommandRegistration {
  public:
    explicit SimCommandRegistration(const SimCommand& command);
};

const std::vector<SimCommand>& SimCommands();

}  // namespace diagbridge::simtool
