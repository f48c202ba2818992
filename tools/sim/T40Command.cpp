#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/t40/T40VirtualEcu.h"
#include "tools/sim/SimCommand.h"

namespace diagbridge::simtool {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

void PrintHelp() {
    std::printf(
        "usage: diagbridge-sim t40 [--h5] [--wake-delay MS] [--hardware TEXT] [--fault F]...\n\n"
        "Runs a virtual T40 transmission controller on a pseudo-terminal and prints its path, to\n"
        "be used as DIAGBRIDGE_COM<N> by the program under test (ISO_9141|RS232=<N>). It answers\n"
        "the 5-baud address 0x26 with 55 20 80 after the wake delay, then the requests 09 06 03 "
        "00\n"
        "07 18 19 01 1A 1B; its boot loader (entry code KQZB&RUA) answers 40 41 5A 46.\n\n"
        "  --h5             the H5 kind (default H4)\n"
        "  --wake-delay MS  sync byte this long after the address (default 2300)\n"
        "  --hardware TEXT  hardware version text (default 0.0 for H4, H5 for H5)\n"
        "  --fault F        silent=N, checksum=N, length-ff=N, missing=N, erase=N, refuse=N,\n"
        "                   busy=N (checksum request), deaf=N (wake-ups), dataset-checksum\n");
}

bool ParseFault(const std::string& text, sim::T40Faults& faults) {
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const uint32_t count =
        equals == std::string::npos
            ? 1u
            : static_cast<uint32_t>(std::strtoul(text.c_str() + equals + 1, nullptr, 10));
    const struct {
        const char* name;
        uint32_t sim::T40Faults::*field;
    } counters[] = {
        {"silent", &sim::T40Faults::silent},      {"checksum", &sim::T40Faults::badChecksum},
        {"length-ff", &sim::T40Faults::lengthFF}, {"missing", &sim::T40Faults::missingBytes},
        {"erase", &sim::T40Faults::eraseBusy},    {"refuse", &sim::T40Faults::refuse},
        {"busy", &sim::T40Faults::checksumBusy},  {"deaf", &sim::T40Faults::ignoredWakeUps}};
    for (const auto& counter : counters) {
        if (name != counter.name) continue;
        faults.*counter.field = count;
        return true;
    }
    if (name != "dataset-checksum") return false;
    faults.wrongDataSetChecksum = true;
    return true;
}

bool ParseArguments(const std::vector<std::string>& args, sim::T40EcuOptions& options,
                    sim::T40Faults& faults, bool& help) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--h5") {
            options.h5 = true;
        } else if (arg == "--wake-delay" && hasValue) {
            options.wakeDelayMs =
                static_cast<uint32_t>(std::strtoul(args[++i].c_str(), nullptr, 10));
        } else if (arg == "--hardware" && hasValue) {
            options.hardwareText = args[++i];
        } else if (arg == "--fault" && hasValue && ParseFault(args[i + 1], faults)) {
            ++i;
        } else {
            std::fprintf(stderr, "diagbridge-sim t40: unknown option '%s' (try --help)\n",
                         arg.c_str());
            return false;
        }
    }
    return true;
}

int RunT40(const std::vector<std::string>& args) {
    sim::T40EcuOptions options;
    sim::T40Faults faults;
    bool help = false;
    if (!ParseArguments(args, options, faults, help)) return kExitUsage;
    if (help) {
        PrintHelp();
        return 0;
    }
    // The line thread must not take the stop signals; the main thread waits for them.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::T40VirtualEcu ecu(options);
    ecu.InjectFaults(faults);
    if (!ecu.Start()) {
        std::fprintf(stderr, "diagbridge-sim t40: no pseudo-terminal available\n");
        return kExitFailure;
    }
    std::printf("T40 controller %s on %s\nuse it as DIAGBRIDGE_COM<N>=%s; Ctrl-C ends\n",
                options.h5 ? "H5" : "H4", ecu.DevicePath().c_str(), ecu.DevicePath().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    ecu.Stop();
    return 0;
}

const SimCommandRegistration kRegistration(
    {"t40", "t40 [--h5] [--wake-delay MS] [--fault F]...  virtual T40 controller (pseudo-terminal)",
     RunT40});

}  // namespace

}  // namespace diagbridge::simtool
