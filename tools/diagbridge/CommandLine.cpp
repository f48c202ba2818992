#include "tools/diagbridge/CommandLine.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "component/CCommandInterface.h"
#include "engine/ParameterString.h"
#include "platform/SystemInfo.h"
#include "tools/diagbridge/Completion.h"
#include "tools/diagbridge/Connection.h"
#include "tools/diagbridge/Demo.h"
#include "tools/diagbridge/Models.h"
#include "tools/diagbridge/ResultCodes.h"
#include "tools/diagbridge/Shell.h"
#include "tools/diagbridge/ShellMethods.h"
#include "tools/diagbridge/TaskRunner.h"
#include "tools/diagbridge/Terminal.h"

namespace diagbridge::cli {

namespace {

constexpr const char* kDescription =
    "Talks to retarder and transmission ECUs through DiagBridgeV4: one command per job.\n"
    "Exit codes: 0 done, 1 no answer, 2 connection lost or wrong model, 3 parameter\n"
    "rejected, 4 not permitted, 5 time-out, 6 abandoned, 7 no adapter, 8 refused by the\n"
    "ECU, 64 usage, 65 bad HEX file, 66 file not found, 130 Ctrl-C.";

// Everything the parsed command line fills.
struct Parsed {
    TaskOptions task;
    std::string accessMode;  // hex text of --mode
    bool demoJson = false;
    std::string demoProtocol = "all";
    bool shellJson = false;
    std::string shellFile;
    std::string completionShell = "bash";
};

void AddOutputOptions(CLI::App& command, Parsed& parsed) {
    command.add_flag("--json", parsed.task.json,
                     "one JSON object per line: events, then the result");
    command.add_flag("-q,--quiet", parsed.task.quiet, "no progress, only results and errors");
}

void AddConnectionOptions(CLI::App& command, Parsed& parsed) {
    ConnectionOptions& connection = parsed.task.connection;
    command.add_option("--ecu", connection.ecu, "ECU model keyword (diagbridge models)")
        ->group("Connection");
    command
        .add_option("--protocol", connection.protocol,
                    "protocol keyword; follows from the model when not given")
        ->group("Connection");
    std::vector<std::string> adapters;
    for (const AdapterKey& adapter : AdapterKeys()) adapters.emplace_back(adapter.name);
    command.add_option("--adapter", connection.adapter, "adapter: rs232, skylink, vector, samtec")
        ->check(CLI::IsMember(adapters))
        ->group("Connection");
    command.add_option("--port", connection.port, "COM port number or serial device path (K-line)")
        ->group("Connection");
    command
        .add_option("--bus", connection.bus,
                    "CAN driver source: hub:<path>, virtual[:<name>], slcan:<device>, "
                    "socketcan:<if>")
        ->group("Connection");
    command.add_option("--baud", connection.baud, "bit/s of the K-line or the CAN bus")
        ->group("Connection");
    command
        .add_option("--option", connection.options,
                    "KEY=VALUE parameter-string key, to the communication object when it is "
                    "one of its keys, else to the ECU object (repeatable)")
        ->allow_extra_args(false)
        ->group("Connection");
    command
        .add_option("--profile", parsed.task.profile,
                    "named profile [NAME] of the profile file; flags given win")
        ->group("Connection");
    command
        .add_option("--config", parsed.task.config,
                    "profile file (default $DIAGBRIDGE_CONFIG, else "
                    "~/.config/diagbridge/profiles.ini)")
        ->group("Connection");
}

void AddTraceOptions(CLI::App& command, Parsed& parsed) {
    command.add_option("--trace", parsed.task.trace, "write every event with its time to FILE")
        ->group("Traces");
    command
        .add_option("--candump", parsed.task.candump,
                    "write every CAN frame to FILE in candump -L format")
        ->group("Traces");
    command
        .add_option("--kline-log", parsed.task.klineLog,
                    "write every K-line byte to FILE with time and direction (TX/RX)")
        ->group("Traces");
}

void AddAccessOptions(CLI::App& command, Parsed& parsed) {
    command
        .add_option("--session", parsed.task.session,
                    "open predefined diagnostic access N after connecting")
        ->group("Access");
    command.add_option("--oem", parsed.task.oem, "explicit access: OEM id")->group("Access");
    command.add_option("--mode", parsed.accessMode, "explicit access: diagnostic mode, hex (86)")
        ->group("Access");
    command
        .add_option("--access-baud", parsed.task.accessBaud,
                    "explicit access: baud rate of the session (K-line)")
        ->group("Access");
    command
        .add_flag("--special-timing", parsed.task.specialTiming,
                  "explicit access: use the model's special timing")
        ->group("Access");
}

CLI::App* AddTask(CLI::App& app, Parsed& parsed, const char* name, const char* description,
                  const char* example) {
    CLI::App* command = app.add_subcommand(name, description);
    AddOutputOptions(*command, parsed);
    AddConnectionOptions(*command, parsed);
    AddTraceOptions(*command, parsed);
    AddAccessOptions(*command, parsed);
    command->footer(std::string("Example:\n  ") + example);
    return command;
}

void BuildApp(CLI::App& app, Parsed& parsed) {
    app.description(kDescription);
    app.require_subcommand(1);
    app.set_version_flag("--version", platform::VersionString());
    app.footer("Run 'diagbridge <command> --help' for the options of a command.");
    AddTask(app, parsed, "ident", "read the ECU's identification",
            "diagbridge ident --ecu T60.1 --adapter vector --bus hub:/tmp/bench.sock");
    CLI::App* request =
        AddTask(app, parsed, "request", "send one request, print the response",
                "diagbridge request --ecu T60.1 --bus hub:/tmp/bench.sock 22 F1 90");
    request->add_option("bytes", parsed.task.request, "request bytes in hex")->required();
    request->add_flag("--functional", parsed.task.functional, "send with functional addressing");
    CLI::App* access = AddTask(app, parsed, "access", "open a diagnostic access",
                               "diagbridge access --ecu T60 --port 1 --oem 0 --mode 86 "
                               "--access-baud 19200 --special-timing");
    access->add_option("session", parsed.task.session, "predefined access number (UDS)");
    AddTask(app, parsed, "read-dtc", "read the stored trouble codes",
            "diagbridge read-dtc --ecu T60.1 --bus hub:/tmp/bench.sock");
    CLI::App* upload = AddTask(app, parsed, "upload", "read the upload (ident, memory, events)",
                               "diagbridge upload --json --ecu T60 --port /dev/pts/3");
    upload->add_option("--header", parsed.task.header, "upload header text");
    CLI::App* flash = AddTask(app, parsed, "flash", "download an Intel-HEX file into the ECU",
                              "diagbridge flash --ecu T60.1 --adapter vector --bus "
                              "hub:bench.sock firmware.hex");
    flash->add_option("file", parsed.task.file, "Intel-HEX file")->required();
    flash->add_option("--type", parsed.task.type, "download type (0 auto, K-line: 1..5)");
    CLI::App* job = AddTask(app, parsed, "job", "run a job of the ECU",
                            "diagbridge job --ecu T60 --port 1 \"JOB TEXT\"");
    job->add_option("text", parsed.task.job, "job text");
    AddTask(app, parsed, "scan",
            "find ECUs: K-line adapters and addresses, or UDS addresses on the bus",
            "diagbridge scan --protocol UDS_ISO_14229 --bus hub:/tmp/bench.sock");
    CLI::App* models = app.add_subcommand("models", "list ECU models with protocol and services");
    AddOutputOptions(*models, parsed);
    models->footer("Example:\n  diagbridge models --json");
    CLI::App* config =
        app.add_subcommand("config", "print the parameter strings that would be used");
    AddOutputOptions(*config, parsed);
    AddConnectionOptions(*config, parsed);
    config->footer("Example:\n  diagbridge config --profile line3");
    CLI::App* demo = app.add_subcommand("demo", "run the built-in sessions against virtual ECUs");
    demo->add_flag("--json", parsed.demoJson, "one JSON object per line");
    demo->add_option("--protocol", parsed.demoProtocol, "uds, kline, t40, kalidor, samtec or all")
        ->check(CLI::IsMember({"uds", "kline", "t40", "kalidor", "samtec", "all"}));
    demo->footer("Example:\n  diagbridge demo --protocol uds");
    CLI::App* shell = app.add_subcommand("shell", "run interface methods, one per line");
    shell->add_flag("--json", parsed.shellJson, "one JSON object per line");
    shell->add_option("file", parsed.shellFile, "script (default standard input)");
    shell->footer("Lines: <method> <arguments>; 'sleep <ms>'; '#' comments.\nMethods:\n" +
                  MethodSynopsis() + "Example:\n  echo DbrGetVersion | diagbridge shell --json");
    CLI::App* completion = app.add_subcommand("completion", "print the bash completion script");
    completion->add_option("shell", parsed.completionShell, "bash")->check(CLI::IsMember({"bash"}));
    completion->footer("Example:\n  source <(diagbridge completion bash)");
}

int RunShell(const Parsed& parsed) {
    CCommandInterface component;
    Shell shell(component, stdout, parsed.shellJson, IsTerminal(stdout));
    if (parsed.shellFile.empty()) {
        shell.Run(std::cin);
        return kExitOk;
    }
    std::ifstream input(parsed.shellFile);
    if (!input) {
        std::fprintf(stderr, "diagbridge shell: cannot open '%s'\n", parsed.shellFile.c_str());
        return kExitNoFile;
    }
    shell.Run(input);
    return kExitOk;
}

// The options a command knows, for "did you mean".
std::vector<std::string> OptionNames(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    }
    return names;
}

int ReportParseError(const CLI::App& app, const CLI::ParseError& error) {
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    const CLI::App& command = parsed.empty() ? app : *parsed.back();
    const std::string name = parsed.empty() ? "diagbridge" : "diagbridge " + command.get_name();
    const auto* extras = dynamic_cast<const CLI::ExtrasError*>(&error);
    if (extras == nullptr) {
        std::fprintf(stderr, "%s: %s (try --help)\n", name.c_str(), error.what());
        return kExitUsage;
    }
    for (const std::string& word : command.remaining()) {
        std::string hint;
        if (word.rfind("--", 0) == 0) {
            const std::string nearest =
                NearestWord(word.substr(0, word.find('=')), OptionNames(command));
            if (!nearest.empty()) hint = " (did you mean " + nearest + "?)";
            std::fprintf(stderr, "%s: unknown option '%s'%s\n", name.c_str(), word.c_str(),
                         hint.c_str());
        } else {
            std::fprintf(stderr, "%s: unexpected argument '%s'\n", name.c_str(), word.c_str());
        }
    }
    std::fprintf(stderr, "run '%s --help' for its options\n", name.c_str());
    return kExitUsage;
}

int Dispatch(const CLI::App& app, Parsed& parsed) {
    const CLI::App* command = app.get_subcommands().front();
    const std::string name = command->get_name();
    if (name == "demo") {
        std::vector<std::string> args = {"--protocol", parsed.demoProtocol};
        if (parsed.demoJson) args.emplace_back("--json");
        return RunDemo(args);
    }
    if (name == "shell") return RunShell(parsed);
    if (name == "models") return RunModels(parsed.task.json);
    if (name == "completion") {
        std::printf("%s", BashCompletion(app).c_str());
        return kExitOk;
    }
    if (!parsed.accessMode.empty()) {
        uint32_t mode = 0;
        if (!ReadHex(parsed.accessMode, mode)) {
            std::fprintf(stderr, "diagbridge %s: --mode %s is not a hex number\n", name.c_str(),
                         parsed.accessMode.c_str());
            return kExitUsage;
        }
        parsed.task.mode = static_cast<int32_t>(mode);
        parsed.task.explicitAccess = true;
    }
    parsed.task.explicitAccess = parsed.task.explicitAccess || parsed.task.oem != 0 ||
                                 parsed.task.accessBaud != 0 || parsed.task.specialTiming;
    if (name == "access" && parsed.task.session < 0 && !parsed.task.explicitAccess) {
        std::fprintf(stderr,
                     "diagbridge access: give a predefined access number or --mode (try --help)\n");
        return kExitUsage;
    }
    if (name == "scan") return RunScan(parsed.task);
    return RunTask(name, parsed.task);
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app("", "diagbridge");
    Parsed parsed;
    BuildApp(app, parsed);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help and --version end the parse as "errors" with exit code 0.
        if (error.get_exit_code() == 0) return app.exit(error);
        return ReportParseError(app, error);
    }
    return Dispatch(app, parsed);
}

}  // namespace diagbridge::cli
