// A KWP2000 download of an Intel-HEX image through the command interface to the virtual T60
// controller on a pseudo-terminal, and the idle cost of a connected object whose keep-alive
// runs. The controller runs in a child process, so that the CPU time of this process is the
// component's alone.
//
// usage: kwp_download_benchmark [--kib N] [--record BYTES] [--p2 MS] [--baud BIT/S]
//                               [--idle SECONDS] [--unpaced]
// The controller paces its line: every byte, the tester's request as well as its own answer,
// takes 10 bit times at the session's baud rate; it answers P2min after the request's last
// byte and ignores requests earlier than P3min after its answer. The record transfer is
// compared with what that line allows: per exchange the wire time of request and answer plus
// P2min and P3min of the timing in force. --unpaced moves the bytes at memory speed instead,
// which shows the component's own cost.

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/ChildProcessLines.h"
#include "component/CCommandInterface.h"
#include "component/ICommandInterfaceEvents.h"
#include "devices/CT60.h"
#include "sim/kline/IntelHexText.h"
#include "sim/kline/KlineDemoEcu.h"
#include "sim/kline/KlineFrameParser.h"
#include "sim/kline/KlineLineModel.h"

namespace {

using diagbridge::bench::ProcessCpuSeconds;
using diagbridge::bench::ReadLine;
using diagbridge::bench::WriteLine;

using Clock = std::chrono::steady_clock;
using diagbridge::CCommandInterface;

constexpr uint8_t kPort = 9;
constexpr uint32_t kImageStart = 0x8000;
constexpr int32_t kAutoDetect = 4;
constexpr int32_t kMakerOem = 0;
constexpr int32_t kProgrammingSession = 0x86;
constexpr int32_t kMaxRecordBytes = 249;
constexpr double kShareTarget = 90.0;  // per cent of the line limit
// The frames of the record transfer: RequestDownload (34, 24-bit address, format, 24-bit size)
// answered by 74 and the block length; each record answered by 76.
constexpr size_t kDownloadRequestBytes = 8;
constexpr size_t kDownloadAnswerBytes = 2;
constexpr size_t kTransferAnswerBytes = 1;
// A record's bytes besides its data: count, 16-bit offset, type, checksum.
constexpr size_t kRecordOverhead = 5;
constexpr size_t kServiceIdBytes = 1;
constexpr const char* kTransferStart = "ServiceDownload: Initialise Download Process";
constexpr const char* kTransferEnd = "ServiceDownload: data transfer finished";
constexpr const char* kAlive = "Status: 6 ALIVE";
constexpr double kIdleTarget = 0.1;  // per cent of one core, as for every stack

struct Settings {
    size_t kib = 8;  // a 32-byte record takes ~125 ms on the paced line: 8 KiB take half a minute
    size_t recordBytes = 32;
    uint32_t p2Ms = 0;  // the controller's P2; on the paced line never below P2min
    int32_t baud = diagbridge::CT60::kKLineBaud;
    int idleSeconds = 10;
    bool lineModel = true;
};

// The timing the controller keeps, as its child process reports it.
struct LineTiming {
    uint32_t baud = 0;
    double p2MinMs = 0;
    double p3MinMs = 0;
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The bytes on the wire of a frame that carries dataBytes.
size_t FrameBytes(size_t dataBytes) {
    return diagbridge::sim::KlineFrameParser::Build(0, 0, std::vector<uint8_t>(dataBytes)).size();
}

// The time the paced line and the timing allow for the record transfer, seconds: every record
// of hex but the end-of-file record, and RequestDownload before them; per exchange the wire
// time of request and answer, P2min and P3min.
double LineLimitSeconds(const std::string& hex, const LineTiming& timing) {
    const auto exchange = [&timing](size_t request, size_t answer) {
        const auto wire = diagbridge::sim::KlineLineModel::WireTime(
            FrameBytes(request) + FrameBytes(answer), timing.baud);
        return Seconds(wire) + (timing.p2MinMs + timing.p3MinMs) / 1000.0;
    };
    double seconds = exchange(kDownloadRequestBytes, kDownloadAnswerBytes);
    std::istringstream records(hex);
    std::string record;
    while (std::getline(records, record, '|')) {
        constexpr size_t kTypeAt = 7;
        if (record.size() < kTypeAt + 2 || record.compare(kTypeAt, 2, "01") == 0) continue;
        const size_t data = std::stoul(record.substr(1, 2), nullptr, 16);
        seconds += exchange(kServiceIdBytes + data + kRecordOverhead, kTransferAnswerBytes);
    }
    return seconds;
}

std::vector<uint8_t> Image(size_t bytes) {
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    return data;
}

// The child: runs the controller, answers "check" with the comparison of its stored image,
// ends when the parent closes the command pipe.
[[noreturn]] void RunController(const Settings& settings, int commands, int replies) {
    diagbridge::sim::KlineDemoOptions options;
    options.responseDelayMs = settings.p2Ms;
    options.lineModel = settings.lineModel;
    auto ecu = diagbridge::sim::KlineDemoEcu::Start(options);
    if (!ecu) {
        WriteLine(replies, "");
        _exit(1);
    }
    WriteLine(replies, ecu->DevicePath());
    std::string command;
    while (ReadLine(commands, command)) {
        if (command == "timing") {
            const diagbridge::sim::KlineTiming timing = ecu->Responder().LineTiming();
            WriteLine(replies, std::to_string(timing.baudRate) + " " +
                                   std::to_string(timing.p2Min.count()) + " " +
                                   std::to_string(timing.p3Min.count()));
            continue;
        }
        const std::vector<uint8_t> expected = Image(settings.kib * 1024);
        std::vector<uint8_t> stored;
        const diagbridge::sim::KwpDownloadImage image = ecu->Responder().Image();
        const bool same = image.Complete() && image.ByteCount() == expected.size() &&
                          image.Read(kImageStart, expected.size(), stored) && stored == expected;
        char line[192];
        std::snprintf(line, sizeof(line),
                      "%s, %u records, %u requests ignored for P3min, controller CPU %.2f s",
                      same ? "image equal" : "IMAGE DIFFERS", image.RecordCount(),
                      ecu->Line().EarlyRequests(), ProcessCpuSeconds());
        WriteLine(replies, line);
    }
    ecu->Stop();
    _exit(0);
}

// Notes when the record transfer starts and ends, and counts the keep-alive statuses.
class Sink final : public diagbridge::ICommandInterfaceEvents {
  public:
    int32_t DbrProgressMessage(int16_t, int16_t, const std::string& info) override {
        std::lock_guard lock(mutex_);
        if (info == kTransferStart) Mark(transferStart_, cpuStart_);
        if (info == kTransferEnd) Mark(transferEnd_, cpuEnd_);
        if (info.rfind("ServiceDownload: Parse Hex Data:", 0) == 0) parseText_ = info;
        return 0;
    }
    int32_t DbrStatusMessage(int32_t, const std::string& status) override {
        if (status == kAlive) ++alive_;
        return 0;
    }
    int32_t DbrTraceMessage(int32_t, const std::string&) override { return 0; }

    double TransferSeconds() {
        std::lock_guard lock(mutex_);
        return Seconds(transferEnd_ - transferStart_);
    }
    double TransferCpu() {
        std::lock_guard lock(mutex_);
        return cpuEnd_ - cpuStart_;
    }
    std::string ParseText() {
        std::lock_guard lock(mutex_);
        return parseText_;
    }
    int Alive() const { return alive_.load(); }

  private:
    static void Mark(Clock::time_point& when, double& cpu) {
        when = Clock::now();
        cpu = ProcessCpuSeconds();
    }
    std::mutex mutex_;
    Clock::time_point transferStart_{};
    Clock::time_point transferEnd_{};
    double cpuStart_ = 0;
    double cpuEnd_ = 0;
    std::string parseText_;
    std::atomic<int> alive_{0};
};

bool ParseArguments(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string key = argv[i];
        if (key == "--unpaced") {
            settings.lineModel = false;
            continue;
        }
        if (++i == argc) return false;
        const long value = std::strtol(argv[i], nullptr, 10);
        if (value <= 0 && key != "--p2") return false;
        if (key == "--kib") {
            settings.kib = static_cast<size_t>(value);
        } else if (key == "--record" && value <= kMaxRecordBytes) {
            settings.recordBytes = static_cast<size_t>(value);
        } else if (key == "--p2" && value >= 0) {
            settings.p2Ms = static_cast<uint32_t>(value);
        } else if (key == "--baud") {
            settings.baud = static_cast<int32_t>(value);
        } else if (key == "--idle") {
            settings.idleSeconds = static_cast<int>(value);
        } else {
            return false;
        }
    }
    return true;
}

bool ReadTiming(int commands, int replies, LineTiming& timing) {
    WriteLine(commands, "timing");
    std::string line;
    if (!ReadLine(replies, line)) return false;
    long long p2Us = 0;
    long long p3Us = 0;
    std::istringstream fields(line);
    if (!(fields >> timing.baud >> p2Us >> p3Us) || timing.baud == 0) return false;
    timing.p2MinMs = p2Us / 1000.0;
    timing.p3MinMs = p3Us / 1000.0;
    return true;
}

// Achieved against the line limit, for the paced line.
void PrintShare(const Settings& settings, const std::string& hex, size_t bytes, double transfer,
                int commands, int replies) {
    if (!settings.lineModel) {
        std::printf("  unpaced line: bytes at memory speed, no line limit\n");
        return;
    }
    LineTiming timing;
    if (!ReadTiming(commands, replies, timing)) {
        std::printf("  the controller did not report its timing\n");
        return;
    }
    const double limit = LineLimitSeconds(hex, timing);
    std::printf(
        "  line limit at %u baud, P2min %.1f ms, P3min %.1f ms: %.2f s, %.0f bytes/s; "
        "achieved %.0f bytes/s = %.1f %% of the limit (target >= %.0f %%)\n",
        timing.baud, timing.p2MinMs, timing.p3MinMs, limit, bytes / limit,
        transfer > 0 ? bytes / transfer : 0.0, transfer > 0 ? limit * 100.0 / transfer : 0.0,
        kShareTarget);
}

int RunTester(const Settings& settings, const std::string& path, int commands, int replies) {
    ::setenv(("DIAGBRIDGE_COM" + std::to_string(kPort)).c_str(), path.c_str(), 1);
    const std::vector<uint8_t> data = Image(settings.kib * 1024);
    const std::string hex =
        diagbridge::sim::IntelHexText(kImageStart, data, settings.recordBytes, '|');

    Sink sink;
    CCommandInterface component;
    const uint32_t cookie = component.Advise(&sink);
    int32_t communication = -1;
    int32_t ecu = -1;
    int32_t result = -1;
    component.DbrCreateCommunicationObject(
        "KWP2000|RS232=" + std::to_string(kPort) + "|PROGRESS=1|STATUS=1", &communication);
    component.DbrCreateEcuObject("T60", communication, &ecu);
    component.DbrConnect(ecu, &result);
    if (result != 0) {
        std::fprintf(stderr, "connect failed: %d\n", result);
        return 1;
    }
    component.DbrSetDiagnosticAccess(ecu, kMakerOem, kProgrammingSession, settings.baud, 0,
                                     &result);
    if (result != 0) {
        std::fprintf(stderr, "diagnostic access failed: %d\n", result);
        return 1;
    }

    std::printf(
        "download of %zu KiB in %zu-byte records (%zu HEX characters), session at %d baud, "
        "controller P2 %u ms, %s line\n",
        settings.kib, settings.recordBytes, hex.size(), settings.baud, settings.p2Ms,
        settings.lineModel ? "paced" : "unpaced");
    const double cpuBefore = ProcessCpuSeconds();
    const auto started = Clock::now();
    component.DbrDownload(ecu, kAutoDetect, hex, &result);
    const double downloadSeconds = Seconds(Clock::now() - started);
    const double downloadCpu = ProcessCpuSeconds() - cpuBefore;
    WriteLine(commands, "check");
    std::string verdict;
    ReadLine(replies, verdict);
    std::printf("  result %d; %s\n", result, verdict.c_str());
    std::printf("  %s\n", sink.ParseText().c_str());
    const double transfer = sink.TransferSeconds();
    std::printf(
        "  record transfer: %.2f s wall, %.0f bytes/s, component CPU %.3f s (%.1f us per record)\n",
        transfer, transfer > 0 ? data.size() / transfer : 0.0, sink.TransferCpu(),
        sink.TransferCpu() * 1e6 /
            ((data.size() + settings.recordBytes - 1) / settings.recordBytes));
    PrintShare(settings, hex, data.size(), transfer, commands, replies);
    std::printf(
        "  whole service (end-of-file pause and upgrade-status wait included): %.2f s wall, "
        "component CPU %.3f s\n",
        downloadSeconds, downloadCpu);

    const int aliveBefore = sink.Alive();
    const double idleCpuBefore = ProcessCpuSeconds();
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(settings.idleSeconds));
    const double idleSeconds = Seconds(Clock::now() - idleStart);
    const double idlePercent = (ProcessCpuSeconds() - idleCpuBefore) * 100.0 / idleSeconds;
    std::printf(
        "idle connected for %.1f s: %d keep-alive exchanges, CPU %.3f %% of one core "
        "(target below %.1f %%)\n",
        idleSeconds, sink.Alive() - aliveBefore, idlePercent, kIdleTarget);

    component.DbrDeleteEcuObject(ecu, &result);
    component.DbrDeleteCommunicationObject(communication, &result);
    component.Unadvise(cookie);
    return verdict.rfind("image equal", 0) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!ParseArguments(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: kwp_download_benchmark [--kib N] [--record BYTES] [--p2 MS] "
                     "[--baud BIT/S] [--idle SECONDS] [--unpaced]\n");
        return 2;
    }
    int toChild[2];
    int toParent[2];
    if (::pipe(toChild) != 0 || ::pipe(toParent) != 0) return 1;
    const pid_t child = ::fork();
    if (child < 0) return 1;
    if (child == 0) {
        ::close(toChild[1]);
        ::close(toParent[0]);
        RunController(settings, toChild[0], toParent[1]);
    }
    ::close(toChild[0]);
    ::close(toParent[1]);
    std::string path;
    int status = 1;
    if (ReadLine(toParent[0], path) && !path.empty()) {
        status = RunTester(settings, path, toChild[1], toParent[0]);
    } else {
        std::fprintf(stderr, "the virtual controller did not start\n");
    }
    ::close(toChild[1]);
    ::close(toParent[0]);
    int childStatus = 0;
    ::waitpid(child, &childStatus, 0);
    return status;
}
