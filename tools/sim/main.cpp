#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sim/SimCommand.h"

namespace diagbridge::simtool {

namespace {
std::vector<SimCommand>& Registry() {
    static std::vector<SimCommand> commands;
    return commands;
}

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: diagbridge-sim <command> [options]\n\n"
                 "Runs a virtual ECU or bus for DiagBridgeV4 without hardware.\n\ncommands:\n");
    for (const auto& command : Registry()) std::fprintf(out, "  %s\n", command.synopsis);
}
}  // namespace

SimCommandRegistration::SimCommandRegistration(const SimCommand& command) {
    Registry().push_back(command);
}

const std::vector<SimCommand>& SimCommands() {
    return Registry();
}

}  // namespace diagbridge::simtool

int main(int argc, char** argv) {
    using namespace diagbridge::simtool;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const auto& command : SimCommands()) {
        if (std::strcmp(command.name, argv[1]) == 0) {
            return command.run(std::vector<std::string>(argv + 2, argv + argc));
        }
    }
    std::fprintf(stderr, "diagbridge-sim: unknown command '%s' (try --help)\n", argv[1]);
    return 2;
}
