#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "component/CCommandInterface.h"
#include "platform/SystemInfo.h"
#include "tools/diagbridge/Demo.h"
#include "tools/diagbridge/Shell.h"
#include "tools/diagbridge/ShellMethods.h"
#include "tools/diagbridge/Terminal.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: diagbridge <command> [options]\n"
                 "\n"
                 "Talks to retarder and transmission ECUs through DiagBridgeV4.\n"
                 "\n"
                 "commands:\n"
                 "  demo [--json] [--protocol uds|kline|samtec|all]\n"
                 "                          run the built-in sessions against virtual ECUs: UDS\n"
                 "                          on an in-process CAN bus, KWP2000 on a K-line pty\n"
                 "                          (default all; the K-line download waits ~30 s)\n"
                 "  shell [--json] [FILE]   run interface methods, one per line, from FILE or\n"
                 "                          standard input; exit 0 at end of input\n"
                 "  --version               print the component version\n"
                 "  --help                  print this text\n"
                 "\n"
                 "shell lines:\n"
                 "  <method> <arguments>    integers (decimal, or hex with 0x) and strings in\n"
                 "                          double quotes (escapes \\\" and \\\\); request bytes\n"
                 "                          of the byte-buffer methods as a quoted hex string\n"
                 "  sleep <ms>              wait\n"
                 "  # ...                   comment; empty lines are ignored\n"
                 "\n"
                 "methods:\n%s"
                 "\n"
                 "--json prints one JSON object per line: {\"event\":...} for each event as it\n"
                 "is fired, {\"method\":...,\"hresult\":...,<out parameters>} for each call,\n"
                 "{\"error\":...} for a line that cannot be run.\n",
                 diagbridge::cli::MethodSynopsis().c_str());
}

int RunShell(const std::vector<std::string>& args) {
    bool json = false;
    std::string file;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (file.empty() && arg.rfind("--", 0) != 0) {
            file = arg;
        } else {
            std::fprintf(stderr, "diagbridge shell: unexpected argument '%s'\n", arg.c_str());
            return kExitUsage;
        }
    }
    diagbridge::CCommandInterface component;
    diagbridge::cli::Shell shell(component, stdout, json, diagbridge::cli::IsTerminal(stdout));
    if (file.empty()) {
        shell.Run(std::cin);
        return kExitOk;
    }
    std::ifstream input(file);
    if (!input) {
        std::fprintf(stderr, "diagbridge shell: cannot open '%s'\n", file.c_str());
        return kExitFailure;
    }
    shell.Run(input);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("%s\n", diagbridge::platform::VersionString().c_str());
        return kExitOk;
    }
    if (command == "shell") return RunShell(args);
    if (command == "demo") return diagbridge::cli::RunDemo(args);
    std::fprintf(stderr, "diagbridge: unknown command '%s' (try --help)\n", command.c_str());
    return kExitUsage;
}
