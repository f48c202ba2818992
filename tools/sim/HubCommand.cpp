#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/can/CanHub.h"
#include "tools/sim/SimCommand.h"

namespace diagbridge::simtool {

namespace {

// Runs the hub until SIGINT or SIGTERM.
int RunHub(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: diagbridge-sim hub <socket path>\n");
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    sim::CanHub hub;
    std::string error;
    if (!hub.Start(args[0], error)) {
        std::fprintf(stderr, "diagbridge-sim hub: %s\n", error.c_str());
        return 1;
    }
    std::printf("CAN hub listening at %s (DIAGBRIDGE_XL=hub:%s)\n", args[0].c_str(),
                args[0].c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    hub.Stop();
    return 0;
}

const SimCommandRegistration kHub({"hub", "hub <socket path>   CAN bus shared by processes",
                                   &RunHub});

}  // namespace

}  // namespace diagbridge::simtool
