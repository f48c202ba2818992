#include "tools/diagbridge/Demo.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "component/CCommandInterface.h"
#include "sim/uds/UdsEcuProfile.h"
#include "sim/uds/UdsVirtualEcu.h"
#include "tools/diagbridge/Shell.h"
#include "tools/diagbridge/Terminal.h"

namespace diagbridge::cli {

namespace {
constexpr const char* kDemoBus = "virtual:diagbridge-demo";
constexpr const char* kDemoModel = "T60.1";
// The in-process bus carries frames without wire time: the ECU asks for flow control every
// 32 frames so that its receive queue never overflows.
constexpr uint8_t kDemoBlockSize = 32;
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
}  // namespace

const char* UdsDemoScript() {
    return R"(# A UDS session against a virtual T60.1 on an in-process CAN bus.
DbrGetVersion
DbrCreateCommunicationObject "UDS_ISO_14229|VECTOR=1|BAUDRATE=500000|PROGRESS=1|STATUS=1"
_DbrGetVersion 0
DbrCreateEcuObject "T60.1" 0
DbrGetConfiguration 1000
DbrConnect 1000
DbrGetIdent 1000
DbrSingleRequest 1000 "22 F1 90"
DbrSetPredefinedDiagnosticAccess 1000 3
DbrUpload 1000 ""
DbrDownload 1000 0 ":020000040040BA|:10000000000102030405060708090A0B0C0D0E0F78|:10001000101112131415161718191A1B1C1D1E1F68|:00000001FF"
DbrDisconnect 1000
DbrDeleteEcuObject 1000
DbrDeleteCommunicationObject 0
)";
}

int RunDemo(const std::vector<std::string>& args) {
    bool json = false;
    for (const std::string& arg : args) {
        if (arg != "--json") {
            std::fprintf(stderr, "diagbridge demo: unexpected argument '%s'\n", arg.c_str());
            return kExitUsage;
        }
        json = true;
    }
    sim::UdsEcuProfile profile;
    std::string error;
    if (!sim::ProfileForModel(kDemoModel, profile, error)) {
        std::fprintf(stderr, "diagbridge demo: %s\n", error.c_str());
        return kExitFailure;
    }
    profile.flow.blockSize = kDemoBlockSize;
    sim::UdsVirtualEcu ecu(profile);
    if (!ecu.Start(kDemoBus, error)) {
        std::fprintf(stderr, "diagbridge demo: virtual ECU: %s\n", error.c_str());
        return kExitFailure;
    }
    setenv("DIAGBRIDGE_XL", kDemoBus, 1);
    int failures = 0;
    {
        CCommandInterface component;
        Shell shell(component, stdout, json, IsTerminal(stdout));
        std::istringstream script(UdsDemoScript());
        failures = shell.Run(script);
    }
    ecu.Stop();
    return failures == 0 ? kExitOk : kExitFailure;
}

}  // namespace diagbridge::cli
