#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/kline/KlineEcuLine.h"
#include "sim/kline/KwpEcuModel.h"
#include "sim/kline/KwpServiceFaults.h"
#include "sim/kline/KwpServiceResponder.h"
#include "tools/sim/SimCommand.h"

namespace diagbridge::simtool {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr size_t kModelsPerLine = 5;

struct KlineArguments {
    const sim::KwpEcuModel* model = nullptr;
    bool wired = false;
    bool lineModel = false;
    bool help = false;
    sim::KwpFaultOptions faults;
    sim::KwpResponderOptions responder;
};

void PrintHelp() {
    std::printf(
        "usage: diagbridge-sim kline --model NAME [--wired] [--line-model] [--no-security]\n"
        "                            [--fault F]...\n\n"
        "Runs a virtual KWP2000 controller on a pseudo-terminal and prints its path, to be\n"
        "used as DIAGBRIDGE_COM<N> by the program under test. The controller answers\n"
        "StartCommunication (fast init, without break), StopCommunication and the services\n"
        "10 1A 21 23 27 83 18 17 14 34 36 37 3B 3E; others get 7F xx 11.\n\n"
        "  --model NAME    the controller, one of:");
    const std::vector<std::string> names = sim::KwpEcuModelNames();
    for (size_t i = 0; i < names.size(); ++i) {
        std::printf("%s%s", i % kModelsPerLine == 0 ? "\n                   " : " ",
                    names[i].c_str());
    }
    std::printf(
        "\n"
        "  --wired         echo every byte, as the wired K-line adapter does (default: SkyLink)\n"
        "  --line-model    pace the line: every byte takes its wire time at the session's baud\n"
        "                  rate (10400 until 10 names another), answers come P2min after the\n"
        "                  request, requests earlier than P3min after an answer are ignored\n"
        "  --no-security   download (34) and date write (3B 8F) without security access\n"
        "  --fault F       inject a fault; may be given several times, the first that fits a\n"
        "                  request acts:\n%s",
        sim::kKwpFaultSyntax);
}

bool ParseArguments(const std::vector<std::string>& args, KlineArguments& parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        std::string error;
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg == "--wired") {
            parsed.wired = true;
        } else if (arg == "--line-model") {
            parsed.lineModel = true;
        } else if (arg == "--no-security") {
            parsed.responder.writesNeedSecurity = false;
        } else if (arg == "--model" && hasValue) {
            parsed.model = sim::FindKwpEcuModel(args[++i]);
            if (parsed.model == nullptr) {
                std::fprintf(stderr, "diagbridge-sim kline: unknown model '%s'\n", args[i].c_str());
                return false;
            }
        } else if (arg == "--fault" && hasValue) {
            if (!sim::ParseKwpFault(args[++i], parsed.faults, error)) {
                std::fprintf(stderr, "diagbridge-sim kline: %s\n", error.c_str());
                return false;
            }
        } else {
            std::fprintf(stderr, "diagbridge-sim kline: unknown option '%s'\n", arg.c_str());
            return false;
        }
    }
    if (parsed.help) return true;
    if (parsed.model == nullptr) {
        std::fprintf(stderr, "diagbridge-sim kline: --model is required (try --help)\n");
        return false;
    }
    parsed.responder.objectType = parsed.faults.objectType;
    parsed.responder.upgradeFails = parsed.faults.upgradeFails;
    return true;
}

int RunKline(const std::vector<std::string>& args) {
    KlineArguments parsed;
    if (!ParseArguments(args, parsed)) return kExitUsage;
    if (parsed.help) {
        PrintHelp();
        return 0;
    }

    // The line thread must not take the stop signals; the main thread waits for them. A shell
    // starts background programs with SIGINT ignored, which would hide it from sigwait.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const sim::KwpEcuModel& model = *parsed.model;
    sim::KwpServiceResponder responder(model, parsed.responder);
    responder.InjectFaults(parsed.faults.serviceFaults);
    sim::KlineLineOptions options;
    options.wired = parsed.wired;
    options.lineModel = parsed.lineModel;
    options.ecuAddress = model.ecuAddress;
    options.testerAddresses = model.testerAddresses;
    sim::KlineEcuLine line(responder, options);
    sim::KlineFaults lineFaults;
    lineFaults.silentRequests = parsed.faults.silentRequests;
    lineFaults.badChecksumResponses = parsed.faults.badChecksumResponses;
    line.InjectFaults(lineFaults);
    if (!line.Start()) {
        std::fprintf(stderr, "diagbridge-sim kline: no pseudo-terminal available\n");
        return kExitFailure;
    }
    std::printf(
        "K-line ECU %s (%s adapter, ECU address %02X, tester %02X) on %s\n"
        "use it as DIAGBRIDGE_COM<N>=%s; Ctrl-C ends\n",
        model.name.c_str(), parsed.wired ? "wired" : "SkyLink", model.ecuAddress,
        model.testerAddress, line.DevicePath().c_str(), line.DevicePath().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    line.Stop();
    return 0;
}

const SimCommandRegistration kRegistration(
    {"kline",
     "kline --model NAME [--wired] [--line-model] [--no-security] [--fault F]...  virtual "
     "KWP2000 ECU on a K-line (pseudo-terminal); kline --help lists models and faults",
     RunKline});

}  // namespace

}  // namespace diagbridge::simtool
