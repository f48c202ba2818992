#include "tools/diagbridge/Demo.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "component/CCommandInterface.h"
#include "sim/kalidor/KalidorVirtualEcu.h"
#include "sim/kline/IntelHexText.h"
#include "sim/kline/KlineDemoEcu.h"
#include "sim/t40/T40VirtualEcu.h"
#include "sim/uds/UdsEcuProfile.h"
#include "sim/uds/UdsVirtualEcu.h"
#include "tools/diagbridge/Shell.h"
#include "tools/diagbridge/Terminal.h"

namespace diagbridge::cli {

namespace {
constexpr const char* kDemoBus = "virtual:diagbridge-demo";
constexpr const char* kDemoModel = "T60.1";
constexpr const char* kVectorCreate = "UDS_ISO_14229|VECTOR=1|BAUDRATE=500000|PROGRESS=1|STATUS=1";
// The Samtec adapter is the UDS default; it runs at 666666 bit/s.
constexpr const char* kSamtecCreate = "UDS_ISO_14229|PROGRESS=1|STATUS=1";
constexpr uint32_t kSamtecBitRate = 666666;
// The in-process bus carries frames without wire time: the ECU asks for flow control every
// 32 frames so that its receive queue never overflows.
constexpr uint8_t kDemoBlockSize = 32;
constexpr const char* kKlineModel = "T60";
constexpr uint32_t kKlineImageStart = 0x8000;
constexpr std::size_t kKlineImageBytes = 64;
constexpr std::size_t kKlineRecordBytes = 32;
constexpr const char* kT40Port = "2";
constexpr const char* kKalidorQuickPort = "3";
constexpr const char* kKalidorFreeRunPort = "4";
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
}  // namespace

std::string UdsDemoScript(const std::string& create) {
    return R"(# A UDS session against a virtual T60.1 on an in-process CAN bus.
DbrGetVersion
DbrCreateCommunicationObject ")" +
           create + R"("
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

std::string KlineDemoScript() {
    std::vector<uint8_t> image(kKlineImageBytes);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(0xA0 + i);
    return std::string(
               R"(# A KWP2000 session against a virtual T60 on a K-line (COM1 is a pseudo-terminal).
# The download ends with the controller's upgrade-status wait of about half a minute.
DbrCreateCommunicationObject "KWP2000|RS232=1|PROGRESS=1|STATUS=1"
_DbrGetVersion 0
DbrCreateEcuObject "T60" 0
DbrConnect 1000
DbrSetDiagnosticAccess 1000 0 0x86 19200 1
DbrGetIdent 1000
DbrSingleRequest 1000 "1A 95"
DbrUpload 1000 ""
DbrDownload 1000 4 ")") +
           sim::IntelHexText(kKlineImageStart, image, kKlineRecordBytes, '|') + R"("
DbrDisconnect 1000
DbrDeleteEcuObject 1000
DbrDeleteCommunicationObject 0
)";
}

const char* T40DemoScript() {
    return R"(# A T40 session against a virtual T40H5 transmission controller (COM2 is a
# pseudo-terminal): 5-baud wake-up and login, ident, upload, then a software download through
# the boot loader at 38400 baud; the controller restarts and is woken again.
DbrCreateCommunicationObject "ISO_9141|RS232=2|PROGRESS=1|STATUS=1"
DbrCreateEcuObject "T40H5" 0
DbrConnect 1000
DbrGetIdent 1000
DbrSingleRequest 1000 "03 07 00 02 08"
DbrUpload 1000 ""
DbrDownload 1000 2 ":020000040002F8|:10800000000102030405060708090A0B0C0D0E0FF8|:10801000101112131415161718191A1B1C1D1E1FE8|:00000001FF"
DbrDisconnect 1000
DbrDeleteEcuObject 1000
DbrDeleteCommunicationObject 0
)";
}

const char* KalidorDemoScript() {
    return R"(# Two Kalidor retarders on pseudo-terminals: one woken and questioned (quick, COM3), one
# listened to while it sends frames by itself (free run, COM4).
DbrCreateCommunicationObject "KALIDOR|RS232=3|PROGRESS=1|STATUS=1"
DbrCreateEcuObject "KALIDOR_QUICK" 0
DbrConnect 1000
DbrGetIdent 1000
DbrSingleRequest 1000 "02 11"
DbrDisconnect 1000
DbrCreateCommunicationObject "KALIDOR|RS232=4|PROGRESS=1|STATUS=1"
DbrCreateEcuObject "KALIDOR_FREE_RUN" 1
DbrConnect 1001
DbrUpload 1001 ""
DbrDisconnect 1001
DbrDeleteEcuObject 1001
DbrDeleteEcuObject 1000
DbrDeleteCommunicationObject 1
DbrDeleteCommunicationObject 0
)";
}

namespace {

// Runs script on a fresh component; the number of lines that failed.
int RunScript(const std::string& text, bool json) {
    CCommandInterface component;
    Shell shell(component, stdout, json, IsTerminal(stdout));
    std::istringstream script(text);
    return shell.Run(script);
}

// samtec: through the SamDiaX substitute on the same bus instead of the Vector path.
int RunUdsDemo(bool json, bool samtec) {
    sim::UdsEcuProfile profile;
    std::string error;
    if (!sim::ProfileForModel(kDemoModel, profile, error)) {
        std::fprintf(stderr, "diagbridge demo: %s\n", error.c_str());
        return kExitFailure;
    }
    profile.flow.blockSize = kDemoBlockSize;
    if (samtec) profile.bitRate = kSamtecBitRate;
    sim::UdsVirtualEcu ecu(profile);
    if (!ecu.Start(kDemoBus, error)) {
        std::fprintf(stderr, "diagbridge demo: virtual UDS ECU: %s\n", error.c_str());
        return kExitFailure;
    }
    setenv("DIAGBRIDGE_XL", kDemoBus, 1);
    setenv("DIAGBRIDGE_SAMTEC_CAN", kDemoBus, 1);
    const int failures = RunScript(UdsDemoScript(samtec ? kSamtecCreate : kVectorCreate), json);
    ecu.Stop();
    return failures == 0 ? kExitOk : kExitFailure;
}

int RunKlineDemo(bool json) {
    sim::KlineDemoOptions options;
    options.model = kKlineModel;
    std::unique_ptr<sim::KlineDemoEcu> ecu = sim::KlineDemoEcu::Start(options);
    if (!ecu) {
        std::fprintf(stderr, "diagbridge demo: virtual K-line ECU could not start\n");
        return kExitFailure;
    }
    setenv("DIAGBRIDGE_COM1", ecu->DevicePath().c_str(), 1);
    const int failures = RunScript(KlineDemoScript(), json);
    ecu->Stop();
    return failures == 0 ? kExitOk : kExitFailure;
}

int RunT40Demo(bool json) {
    sim::T40EcuOptions options;
    options.h5 = true;
    sim::T40VirtualEcu ecu(options);
    if (!ecu.Start()) {
        std::fprintf(stderr, "diagbridge demo: virtual T40 could not start\n");
        return kExitFailure;
    }
    setenv((std::string("DIAGBRIDGE_COM") + kT40Port).c_str(), ecu.DevicePath().c_str(), 1);
    const int failures = RunScript(T40DemoScript(), json);
    ecu.Stop();
    return failures == 0 ? kExitOk : kExitFailure;
}

int RunKalidorDemo(bool json) {
    sim::KalidorEcuOptions options;
    sim::KalidorVirtualEcu quick(options);
    options.freeRun = true;
    sim::KalidorVirtualEcu freeRun(options);
    if (!quick.Start() || !freeRun.Start()) {
        std::fprintf(stderr, "diagbridge demo: virtual Kalidor could not start\n");
        return kExitFailure;
    }
    setenv((std::string("DIAGBRIDGE_COM") + kKalidorQuickPort).c_str(), quick.DevicePath().c_str(),
           1);
    setenv((std::string("DIAGBRIDGE_COM") + kKalidorFreeRunPort).c_str(),
           freeRun.DevicePath().c_str(), 1);
    const int failures = RunScript(KalidorDemoScript(), json);
    quick.Stop();
    freeRun.Stop();
    return failures == 0 ? kExitOk : kExitFailure;
}

}  // namespace

int RunDemo(const std::vector<std::string>& args) {
    bool json = false;
    std::string protocol = "all";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--protocol" && i + 1 < args.size()) {
            protocol = args[++i];
        } else {
            std::fprintf(stderr, "diagbridge demo: unexpected argument '%s'\n", args[i].c_str());
            return kExitUsage;
        }
    }
    const bool all = protocol == "all";
    if (!all && protocol != "uds" && protocol != "kline" && protocol != "t40" &&
        protocol != "kalidor" && protocol != "samtec") {
        std::fprintf(stderr,
                     "diagbridge demo: --protocol takes uds, kline, t40, kalidor, samtec or all\n");
        return kExitUsage;
    }
    if (protocol == "samtec") return RunUdsDemo(json, true);
    int result = kExitOk;
    if ((all || protocol == "uds") && RunUdsDemo(json, false) != kExitOk) result = kExitFailure;
    if ((all || protocol == "kline") && RunKlineDemo(json) != kExitOk) result = kExitFailure;
    if ((all || protocol == "t40") && RunT40Demo(json) != kExitOk) result = kExitFailure;
    if ((all || protocol == "kalidor") && RunKalidorDemo(json) != kExitOk) result = kExitFailure;
    return result;
}

}  // namespace diagbridge::cli
