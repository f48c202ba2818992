#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/uds/UdsVirtualEcu.h"
#include "tools/sim/SimCommand.h"

namespace diagbridge::simtool {

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr const char* kUsage =
    "usage: diagbridge-sim uds --model <keyword> --bus hub:<path>|virtual:<name> [options]\n"
    "  --bitrate <bit/s>          bus bit rate (default 500000)\n"
    "  --ecu <hex> --tester <hex> addresses (default: the model's)\n"
    "  --bs <n> --stmin <byte>    flow control of the ECU's receiver (default 0 0)\n"
    "  --key <ss>:<ll>:<mul>:<add>  key rule: session ss, seed level ll (hex), constants\n"
    "  --fault <fault>            nrc:<sid>:<code>[@n] silent:<sid>[@n]\n"
    "                             pending:<sid>:<count>[:<ms>] drop-cf:<n> bad-sn:<n>\n"
    "                             foreign:<sid>:<hex bytes>[@n]\n"
    "                             fc-wait:<count> fc-overflow\n"
    "                             counter-restarts length-format:<n>\n"
    "  --verbose                  one line per request\n";

struct UdsArguments {
    std::string model;
    std::string bus;
    uint32_t bitRate = sim::UdsEcuProfile::kDefaultBitRate;
    int ecu = -1;
    int tester = -1;
    sim::UdsFlowSettings flow;
    std::vector<sim::UdsKeyRule> keys;
    sim::UdsFaultPlan faults;
    bool verbose = false;
};

template <typename T>
bool Number(const std::string& text, int base, T limit, T& value) {
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value, base);
    return !text.empty() && failure == std::errc() && stop == end && value <= limit;
}

// <ss>:<ll>:<multiplier>:<addend>
bool ParseKey(const std::string& text, sim::UdsKeyRule& rule) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at = text.find(':'); at != std::string::npos; at = text.find(':', from)) {
        parts.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    parts.push_back(text.substr(from));
    unsigned session = 0;
    unsigned level = 0;
    if (parts.size() != 4 || !Number(parts[0], 16, 0x7Fu, session) ||
        !Number(parts[1], 16, 0x7Eu, level) || (level & 1) == 0 ||
        !Number<int64_t>(parts[2], 10, 0xFFFFFFFF, rule.multiplier) ||
        !Number<int64_t>(parts[3], 10, 0xFFFFFFFF, rule.addend)) {
        return false;
    }
    rule.session = static_cast<uint8_t>(session);
    rule.seedLevel = static_cast<uint8_t>(level);
    return true;
}

bool ParseOption(const std::vector<std::string>& args, size_t& i, UdsArguments& parsed) {
    const std::string& option = args[i];
    if (option == "--verbose") {
        parsed.verbose = true;
        return true;
    }
    if (i + 1 >= args.size()) return false;
    const std::string& value = args[++i];
    unsigned number = 0;
    std::string error;
    if (option == "--model") {
        parsed.model = value;
    } else if (option == "--bus") {
        parsed.bus = value;
    } else if (option == "--bitrate") {
        return Number(value, 10, 1000000u, parsed.bitRate) && parsed.bitRate > 0;
    } else if (option == "--ecu" || option == "--tester") {
        if (!Number(value, 16, 0xFFu, number)) return false;
        (option == "--ecu" ? parsed.ecu : parsed.tester) = static_cast<int>(number);
    } else if (option == "--bs" || option == "--stmin") {
        if (!Number(value, option == "--bs" ? 10 : 16, 0xFFu, number)) return false;
        (option == "--bs" ? parsed.flow.blockSize : parsed.flow.separationTime) =
            static_cast<uint8_t>(number);
    } else if (option == "--key") {
        sim::UdsKeyRule rule;
        if (!ParseKey(value, rule)) return false;
        parsed.keys.push_back(rule);
    } else if (option == "--fault") {
        if (!sim::ParseUdsFault(value, parsed.faults, error)) return false;
    } else {
        return false;
    }
    return true;
}

bool ParseArguments(const std::vector<std::string>& args, UdsArguments& parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        const size_t at = i;
        if (!ParseOption(args, i, parsed)) {
            std::fprintf(stderr, "diagbridge-sim uds: bad option '%s'\n%s", args[at].c_str(),
                         kUsage);
            return false;
        }
    }
    if (parsed.model.empty() || parsed.bus.empty()) {
        std::fprintf(stderr, "%s", kUsage);
        return false;
    }
    return true;
}

// The model's profile from the ECU's own model table.
bool BuildProfile(const UdsArguments& parsed, sim::UdsEcuProfile& profile) {
    std::string error;
    if (!sim::ProfileForModel(parsed.model, profile, error)) {
        std::fprintf(stderr, "diagbridge-sim uds: %s\n", error.c_str());
        return false;
    }
    for (const sim::UdsKeyRule& rule : parsed.keys) profile.keyRules.push_back(rule);
    if (parsed.ecu >= 0) profile.ecuAddress = static_cast<uint8_t>(parsed.ecu);
    if (parsed.tester >= 0) profile.testerAddress = static_cast<uint8_t>(parsed.tester);
    profile.bitRate = parsed.bitRate;
    profile.flow = parsed.flow;
    return true;
}

int RunUds(const std::vector<std::string>& args) {
    UdsArguments parsed;
    if (!ParseArguments(args, parsed)) return kExitUsage;
    sim::UdsEcuProfile profile;
    if (!BuildProfile(parsed, profile)) return kExitUsage;

    // The ECU thread must not take the stop signals; the main thread waits for them.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::UdsVirtualEcu ecu(profile);
    ecu.SetFaults(parsed.faults);
    if (parsed.verbose) {
        ecu.OnAnswered([](uint8_t service, size_t length) {
            std::printf("request %02X: %zu byte answer\n", service, length);
            std::fflush(stdout);
        });
    }
    std::string error;
    if (!ecu.Start(parsed.bus, error)) {
        std::fprintf(stderr, "diagbridge-sim uds: %s\n", error.c_str());
        return kExitFailure;
    }
    std::printf("UDS ECU %s (ECU %02X, tester %02X, %u bit/s) on %s; Ctrl-C ends\n",
                profile.model.c_str(), profile.ecuAddress, profile.testerAddress, profile.bitRate,
                parsed.bus.c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    ecu.Stop();
    ecu.Inspect([](const sim::UdsEcuServices& services) {
        size_t bytes = 0;
        for (const sim::UdsImageSegment& segment : services.Image()) bytes += segment.data.size();
        std::printf("stored image: %zu segments, %zu bytes, CRC-32 %08X\n", services.Image().size(),
                    bytes, services.ImageCrc());
    });
    return 0;
}

const SimCommandRegistration kRegistration(
    {"uds",
     "uds --model T60.1 --bus hub:<path>|virtual:<name> [--fault ...]   virtual UDS ECU on CAN",
     RunUds});

}  // namespace

}  // namespace diagbridge::simtool
