#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/kline/KlineBasicResponder.h"
#include "sim/kline/KlineEcuLine.h"
#include "tools/sim/SimCommand.h"

namespace diagbridge::simtool {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct KlineArguments {
    std::string model;
    bool wired = false;
};

bool ParseArguments(const std::vector<std::string>& args, KlineArguments& parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--wired") {
            parsed.wired = true;
        } else if (args[i] == "--model" && i + 1 < args.size()) {
            parsed.model = args[++i];
        } else {
            std::fprintf(stderr, "diagbridge-sim kline: unknown option '%s'\n", args[i].c_str());
            return false;
        }
    }
    if (parsed.model != "T60") {
        std::fprintf(stderr, "diagbridge-sim kline: --model T60 is required\n");
        return false;
    }
    return true;
}

int RunKline(const std::vector<std::string>& args) {
    KlineArguments parsed;
    if (!ParseArguments(args, parsed)) return kExitUsage;

    // The line thread must not take the stop signals; the main thread waits for them. A shell
    // starts background programs with SIGINT ignored, which would hide it from sigwait.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::KlineBasicResponder responder;
    sim::KlineLineOptions options;
    options.wired = parsed.wired;
    sim::KlineEcuLine line(responder, options);
    if (!line.Start()) {
        std::fprintf(stderr, "diagbridge-sim kline: no pseudo-terminal available\n");
        return kExitFailure;
    }
    std::printf(
        "K-line ECU %s (%s adapter, ECU address %02X) on %s\n"
        "use it as DIAGBRIDGE_COM<N>=%s; Ctrl-C ends\n",
        parsed.model.c_str(), parsed.wired ? "wired" : "SkyLink", options.ecuAddress,
        line.DevicePath().c_str(), line.DevicePath().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    line.Stop();
    return 0;
}

const SimCommandRegistration kRegistration(
    {"kline", "kline --model T60 [--wired]    virtual T60 ECU on a K-line (pseudo-terminal)",
     RunKline});

}  // namespace

}  // namespace diagbridge::simtool
