#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/kalidor/KalidorVirtualEcu.h"
#include "tools/sim/SimCommand.h"

namespace diagbridge::simtool {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

void PrintHelp() {
    std::printf(
        "usage: diagbridge-sim kalidor [--free-run] [--period MS] [--fault F]...\n\n"
        "Runs a virtual Kalidor retarder controller on a pseudo-terminal and prints its path, to\n"
        "be used as DIAGBRIDGE_COM<N> (KALIDOR|RS232=<N>). Quick mode (default) answers the\n"
        "hand-shake 07 80 and 0x80-terminated commands (01, 02 xx); free run sends a frame\n"
        "55 79 80 ... by itself every period.\n\n"
        "  --free-run     send frames by itself (KALIDOR_FREE_RUN)\n"
        "  --period MS    free run: one frame this often (default 500)\n"
        "  --fault F      silent, bad-frames=N (fit neither length rule), short=N (answers\n"
        "                 without payload)\n");
}

bool ParseFault(const std::string& text, sim::KalidorFaults& faults) {
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const auto count =
        equals == std::string::npos
            ? 1u
            : static_cast<uint32_t>(std::strtoul(text.c_str() + equals + 1, nullptr, 10));
    if (name == "silent") {
        faults.silent = true;
    } else if (name == "bad-frames") {
        faults.badFrames = count;
    } else if (name == "short") {
        faults.shortAnswers = count;
    } else {
        return false;
    }
    return true;
}

int RunKalidor(const std::vector<std::string>& args) {
    sim::KalidorEcuOptions options;
    sim::KalidorFaults faults;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        if (arg == "--free-run") {
            options.freeRun = true;
        } else if (arg == "--period" && hasValue) {
            options.framePeriodMs =
                static_cast<uint32_t>(std::strtoul(args[++i].c_str(), nullptr, 10));
        } else if (arg == "--fault" && hasValue && ParseFault(args[i + 1], faults)) {
            ++i;
        } else {
            std::fprintf(stderr, "diagbridge-sim kalidor: unknown option '%s' (try --help)\n",
                         arg.c_str());
            return kExitUsage;
        }
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::KalidorVirtualEcu ecu(options);
    ecu.InjectFaults(faults);
    if (!ecu.Start()) {
        std::fprintf(stderr, "diagbridge-sim kalidor: no pseudo-terminal available\n");
        return kExitFailure;
    }
    std::printf("Kalidor controller (%s) on %s\nuse it as DIAGBRIDGE_COM<N>=%s; Ctrl-C ends\n",
                options.freeRun ? "free run" : "quick", ecu.DevicePath().c_str(),
                ecu.DevicePath().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    ecu.Stop();
    return 0;
}

const SimCommandRegistration kRegistration(
    {"kalidor",
     "kalidor [--free-run] [--period MS] [--fault F]...  virtual Kalidor controller "
     "(pseudo-terminal)",
     RunKalidor});

}  // namespace

}  // namespace diagbridge::simtool
