// Download of an Intel-HEX image through the whole component to the virtual UDS ECU on the
// in-process bus with wire time modelled, printed next to the limits:
// - bus share: the bus-limited time of the very frames the flash put on the wire, against the
//   elapsed time less the prescribed waits (the 150 ms pause after each block's last
//   transfer), with the idle bus split by whose turn it was (component or ECU);
// - the component's own CPU per MiB, next to the whole process's. The threads are named
//   (dbr-worker, dbr-keepalive, uds-ecu) and their CPU time is read from
//   /proc/self/task/<tid>/schedstat (nanoseconds, exact per thread). The component's CPU is
//   the whole process's less the virtual ECU's thread: the benchmark's own thread and the bus
//   model, which runs on the thread of each sender, count against the component, so the
//   figure is an upper bound;
// - several flashes on buses of their own at once against one flash.
//
// usage: uds_download_benchmark [image KiB (512)] [parallel flashes (32)] [bit/s (both)]
// A bit rate of 0 (the default) runs the single flash at 500000 and 1000000 bit/s and the
// parallel flashes at 500000 bit/s.
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "can/CIsoTp.h"
#include "component/CCommandInterface.h"
#include "drivers/xl/VirtualCanBus.h"
#include "sim/uds/UdsVirtualEcu.h"
#include "uds/Crc32.h"

namespace diagbridge {
namespace {

constexpr const char* kModelKeyword = "T60.1";
constexpr uint32_t kImageStart = 0x010000;
constexpr size_t kRecordBytes = 32;
constexpr uint32_t kLastTransferPauseMs = 150;  // after each block's last transfer
constexpr uint32_t kBlocks = 1;                 // one contiguous image
constexpr uint32_t kBitRates[] = {500000, 1000000};
constexpr double kBusShareTarget = 0.98;
constexpr double kCpuPerMibTarget = 0.5;
constexpr double kParallelTarget = 1.2;
constexpr double kKiBPerMiB = 1024;
constexpr size_t kDefaultKiB = 512;
constexpr int kDefaultFlashes = 32;
constexpr int kMaxFlashes = 64;
constexpr uint8_t kTesterAddress = 0xF1;
constexpr uint8_t kConsecutiveFrame = 2;  // high nibble of the first byte

std::string Record(uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
    char text[2 * kRecordBytes + 16];
    int at = std::snprintf(text, sizeof(text), ":%02X%04X%02X", unsigned(count), address, type);
    uint8_t sum = uint8_t(count + (address >> 8) + (address & 0xFF) + type);
    for (size_t i = 0; i < count; ++i) {
        at += std::snprintf(text + at, sizeof(text) - size_t(at), "%02X", data[i]);
        sum = uint8_t(sum + data[i]);
    }
    std::snprintf(text + at, sizeof(text) - size_t(at), "%02X", uint8_t(0x100 - sum));
    return text;
}

// One contiguous image at kImageStart as HEX text of 32-byte records.
std::string HexImage(const std::vector<uint8_t>& image) {
    std::string text;
    text.reserve(image.size() * 2 + image.size() / kRecordBytes * 16);
    for (size_t offset = 0; offset < image.size(); offset += kRecordBytes) {
        const uint32_t address = kImageStart + uint32_t(offset);
        if (offset == 0 || (address & 0xFFFF) == 0) {
            const uint8_t upper[2] = {uint8_t(address >> 24), uint8_t(address >> 16)};
            text += Record(0x04, 0, upper, 2) + "|";
        }
        const size_t count = std::min(kRecordBytes, image.size() - offset);
        text += Record(0x00, uint16_t(address & 0xFFFF), image.data() + offset, count) + "|";
    }
    return text + ":00000001FF";
}

// Follows the bus's timeline from its frames (each starts when the bus is free, or when it
// is sent if later): busy time, and idle time split by who sent the frame that ended it.
class BusTimeline : public xl::VirtualBusObserver {
  public:
    void OnFrame(xl::VirtualCanBus&, const xl::CanFrame& frame, uint32_t bitRate) override {
        using namespace std::chrono;
        const auto now = steady_clock::now();
        const auto wire =
            nanoseconds(uint64_t{xl::VirtualCanBus::FrameBits(frame)} * 1000000000u / bitRate);
        if (frames_ == 0) first_ = now;
        const auto start = frames_ == 0 ? now : std::max(now, freeAt_);
        const double idle = duration<double>(start - (frames_ == 0 ? now : freeAt_)).count();
        const bool fromTester = (frame.id & 0xFF) == kTesterAddress;
        const bool consecutive = frame.dlc > 0 && (frame.data[0] >> 4) == kConsecutiveFrame;
        if (!fromTester) ecuIdle_ += idle;
        (consecutive ? testerStreamIdle_ : testerIdle_) += fromTester ? idle : 0;
        busy_ += duration<double>(wire).count();
        freeAt_ = start + wire;
        ++frames_;
    }
    double Busy() const { return busy_; }
    // Idle bus before a frame of the component that starts a message or answers: its
    // turnaround, and the prescribed waits.
    double TesterIdle() const { return testerIdle_; }
    // Idle bus inside the component's streams of consecutive frames: its thread did not run.
    double TesterStreamIdle() const { return testerStreamIdle_; }
    // Idle bus before a frame of the ECU: its turnaround.
    double EcuIdle() const { return ecuIdle_; }
    uint64_t Frames() const { return frames_; }
    std::chrono::steady_clock::time_point First() const { return first_; }
    std::chrono::steady_clock::time_point End() const { return freeAt_; }

  private:
    // OnFrame runs under the bus lock, one frame at a time.
    double busy_ = 0;
    double testerIdle_ = 0;
    double testerStreamIdle_ = 0;
    double ecuIdle_ = 0;
    uint64_t frames_ = 0;
    std::chrono::steady_clock::time_point first_{};
    std::chrono::steady_clock::time_point freeAt_{};
};

// CPU seconds of every thread of the process by thread id, with the thread's name.
struct ThreadCpu {
    std::string name;
    double seconds = 0;
};

std::string ReadLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::map<std::string, ThreadCpu> ThreadsCpu() {
    std::map<std::string, ThreadCpu> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return threads;
    while (const dirent* entry = readdir(tasks)) {
        const std::string tid = entry->d_name;
        if (tid == "." || tid == "..") continue;
        const std::string base = "/proc/self/task/" + tid + "/";
        ThreadCpu cpu;
        cpu.name = ReadLine(base + "comm");
        cpu.seconds = std::strtod(ReadLine(base + "schedstat").c_str(), nullptr) / 1e9;
        threads[tid] = cpu;
    }
    closedir(tasks);
    return threads;
}

// CPU used between two readings, summed by thread name.
std::map<std::string, double> CpuByName(const std::map<std::string, ThreadCpu>& before,
                                        const std::map<std::string, ThreadCpu>& after) {
    std::map<std::string, double> byName;
    for (const auto& [tid, cpu] : after) {
        const auto earlier = before.find(tid);
        byName[cpu.name] += cpu.seconds - (earlier == before.end() ? 0 : earlier->second.seconds);
    }
    return byName;
}

double ProcessCpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

std::string LoadText() {
    double load[3] = {};
    if (getloadavg(load, 3) != 3) return "load unknown";
    char text[64];
    std::snprintf(text, sizeof(text), "load %.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

// One tester (its own component), one ECU and one bus.
class Bench {
  public:
    Bench(const std::string& name, uint32_t bitRate)
        : name_(name), bitRate_(bitRate), bus_(xl::VirtualCanBus::Named(name_)) {
        bus_->SetWireTimeModel(true);
        sim::UdsEcuProfile profile;
        std::string error;
        if (!sim::ProfileForModel(kModelKeyword, profile, error))
            std::fprintf(stderr, "%s\n", error.c_str());
        profile.bitRate = bitRate;
        ecu_ = std::make_unique<sim::UdsVirtualEcu>(profile);
    }
    ~Bench() {
        int32_t result = 0;
        if (communication_ >= 0) component_.DbrDeleteCommunicationObject(communication_, &result);
        ecu_->Stop();
        bus_->RemoveObserver(&timeline_);
    }
    bool Connect() {
        std::string error;
        if (!ecu_->Start("virtual:" + name_, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        setenv("DIAGBRIDGE_XL", ("virtual:" + name_).c_str(), 1);
        const std::string parameters =
            "UDS_ISO_14229|VECTOR=1|BAUDRATE=" + std::to_string(bitRate_);
        component_.DbrCreateCommunicationObject(parameters, &communication_);
        component_.DbrCreateEcuObject(kModelKeyword, communication_, &ecuId_);
        int32_t result = -1;
        component_.DbrConnect(ecuId_, &result);
        bus_->AddObserver(&timeline_);
        return communication_ >= 0 && ecuId_ >= 0 && result == 0;
    }
    int32_t Download(const std::string& hex) {
        int32_t result = -1;
        const auto start = std::chrono::steady_clock::now();
        component_.DbrDownload(ecuId_, 0, hex, &result);
        end_ = std::chrono::steady_clock::now();
        seconds_ = std::chrono::duration<double>(end_ - start).count();
        leadIn_ = std::chrono::duration<double>(timeline_.First() - start).count();
        return result;
    }
    bool ImageMatches(const std::vector<uint8_t>& image) {
        bool matches = false;
        ecu_->Inspect([&](const sim::UdsEcuServices& services) {
            matches = services.Image().size() == 1 && services.Image()[0].data == image &&
                      services.ImageCrc() == Crc32(image);
        });
        return matches;
    }
    double Seconds() const { return seconds_; }
    // From the call to the first frame, and from the end of the last frame to the return.
    double LeadIn() const { return leadIn_; }
    double LeadOut() const { return std::chrono::duration<double>(end_ - timeline_.End()).count(); }
    const BusTimeline& Timeline() const { return timeline_; }

  private:
    std::string name_;
    uint32_t bitRate_;
    std::shared_ptr<xl::VirtualCanBus> bus_;
    CCommandInterface component_;
    std::unique_ptr<sim::UdsVirtualEcu> ecu_;
    BusTimeline timeline_;
    int32_t communication_ = -1;
    int32_t ecuId_ = -1;
    double seconds_ = 0;
    double leadIn_ = 0;
    std::chrono::steady_clock::time_point end_{};
};

struct Image {
    std::vector<uint8_t> bytes;
    std::string hex;
    double mebibytes = 0;
};

void PrintBusShare(const Bench& bench, uint32_t bitRate) {
    const BusTimeline& timeline = bench.Timeline();
    const double waits = kBlocks * kLastTransferPauseMs / 1000.0;
    const double working = bench.Seconds() - waits;
    std::printf(
        "  %.3f s elapsed, of it %.3f s prescribed waits (150 ms after the block's last "
        "transfer)\n",
        bench.Seconds(), waits);
    std::printf("  bus-limited minimum of the same %llu frames at %u bit/s: %.3f s\n",
                static_cast<unsigned long long>(timeline.Frames()), bitRate, timeline.Busy());
    std::printf("  bus share without the prescribed waits: %.1f %% (target >= %.0f %%)\n",
                100.0 * timeline.Busy() / working, 100 * kBusShareTarget);
    std::printf(
        "  idle bus: %.3f s waiting for the component's turnarounds (without the waits), "
        "%.3f s inside its streams of consecutive frames, %.3f s for the ECU, %.3f s "
        "before the first frame, %.3f s after the last\n",
        timeline.TesterIdle() - waits, timeline.TesterStreamIdle(), timeline.EcuIdle(),
        bench.LeadIn(), bench.LeadOut());
    if (timeline.Busy() / working >= kBusShareTarget) return;
    const double turnarounds = timeline.TesterIdle() - waits;
    const double stream = timeline.TesterStreamIdle();
    const double ecu = timeline.EcuIdle();
    const char* bound = stream >= turnarounds && stream >= ecu
                            ? "the component's thread not running inside its streams"
                        : turnarounds >= ecu ? "the component's turnarounds"
                                             : "the ECU's turnarounds";
    std::printf("  below the target: bounded most by %s (%s)\n", bound, LoadText().c_str());
}

void PrintCpu(const std::map<std::string, double>& byName, double process, double mebibytes) {
    const double ecu = byName.count(sim::UdsVirtualEcu::kThreadName) != 0
                           ? byName.at(sim::UdsVirtualEcu::kThreadName)
                           : 0.0;
    const double component = process - ecu;
    std::printf("  CPU by thread:");
    for (const auto& [name, seconds] : byName) std::printf(" %s %.3f s;", name.c_str(), seconds);
    std::printf(
        "\n  CPU: component %.3f s = %.3f s per MiB (target <= %.1f), whole process "
        "%.3f s, virtual ECU %.3f s\n",
        component, component / mebibytes, kCpuPerMibTarget, process, ecu);
}

// One flash at bitRate; its elapsed time, or a negative value on failure.
double SingleFlash(const Image& image, uint32_t bitRate) {
    std::printf("one flash at %u bit/s (%s):\n", bitRate, LoadText().c_str());
    Bench bench("bench.uds.single." + std::to_string(bitRate), bitRate);
    if (!bench.Connect()) return -1;
    const auto threadsBefore = ThreadsCpu();
    const double processBefore = ProcessCpuSeconds();
    const int32_t result = bench.Download(image.hex);
    const double process = ProcessCpuSeconds() - processBefore;
    const auto byName = CpuByName(threadsBefore, ThreadsCpu());
    const bool equal = bench.ImageMatches(image.bytes);
    std::printf("  result %d, stored image %s\n", result, equal ? "equal" : "WRONG");
    PrintBusShare(bench, bitRate);
    PrintCpu(byName, process, image.mebibytes);
    return result == 0 && equal ? bench.Seconds() : -1;
}

bool ParallelFlashes(const Image& image, uint32_t bitRate, int flashes, double single) {
    std::vector<std::unique_ptr<Bench>> benches;
    for (int i = 0; i < flashes; ++i) {
        benches.push_back(
            std::make_unique<Bench>("bench.uds.parallel." + std::to_string(i), bitRate));
        if (!benches.back()->Connect()) return false;
    }
    std::printf("%d flashes on %d buses at once at %u bit/s (%s):\n", flashes, flashes, bitRate,
                LoadText().c_str());
    std::vector<std::thread> threads;
    std::vector<int32_t> results(size_t(flashes), -1);
    const auto threadsBefore = ThreadsCpu();
    const double processBefore = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < flashes; ++i) {
        threads.emplace_back(
            [&, i] { results[size_t(i)] = benches[size_t(i)]->Download(image.hex); });
    }
    for (std::thread& thread : threads) thread.join();
    const double all =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double process = ProcessCpuSeconds() - processBefore;
    const auto byName = CpuByName(threadsBefore, ThreadsCpu());
    int good = 0;
    for (int i = 0; i < flashes; ++i) {
        const bool equal = benches[size_t(i)]->ImageMatches(image.bytes);
        if (results[size_t(i)] == 0 && equal) {
            ++good;
            continue;
        }
        std::printf("  flash %d: result %d, stored image %s\n", i, results[size_t(i)],
                    equal ? "equal" : "WRONG");
    }
    std::printf("  %.3f s, %.2f x one flash (target <= %.1f), %d images equal\n", all, all / single,
                kParallelTarget, good);
    PrintCpu(byName, process, image.mebibytes * flashes);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf(
        "  CPU demand: %.1f s of CPU in %.1f s on %u cores = %.0f %% of the machine "
        "(%s)\n",
        process, all, cores, 100.0 * process / (all * cores), LoadText().c_str());
    return good == flashes;
}

int Run(size_t kib, int flashes, uint32_t bitRate) {
    Image image;
    image.bytes.resize(kib * 1024);
    for (size_t i = 0; i < image.bytes.size(); ++i) {
        image.bytes[i] = uint8_t((i * 131) ^ (i >> 9));
    }
    image.hex = HexImage(image.bytes);
    image.mebibytes = double(kib) / kKiBPerMiB;
    std::printf("image: %zu bytes in %zu HEX characters\n", image.bytes.size(), image.hex.size());
    std::vector<uint32_t> rates(std::begin(kBitRates), std::end(kBitRates));
    if (bitRate != 0) rates = {bitRate};
    double first = 0;
    for (uint32_t rate : rates) {
        const double seconds = SingleFlash(image, rate);
        if (seconds < 0) return 1;
        if (first == 0) first = seconds;
    }
    return ParallelFlashes(image, rates.front(), flashes, first) ? 0 : 1;
}

bool KnownRate(uint32_t bitRate) {
    if (bitRate == 0) return true;
    const xl::XLchipParams params = CIsoTp::ChipParamsFor(uint16_t(bitRate / 1000));
    return params.bitRate == bitRate;
}

}  // namespace
}  // namespace diagbridge

int main(int argc, char** argv) {
    const size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : diagbridge::kDefaultKiB;
    const int flashes = argc > 2 ? std::atoi(argv[2]) : diagbridge::kDefaultFlashes;
    const auto bitRate = uint32_t(argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0);
    if (kib == 0 || kib > 8192 || flashes < 1 || flashes > diagbridge::kMaxFlashes ||
        !diagbridge::KnownRate(bitRate)) {
        std::fprintf(stderr,
                     "usage: uds_download_benchmark [KiB 1..8192] [flashes 1..64] "
                     "[bit/s: 0 (500000 and 1000000), 250000, 400000, 500000, 1000000]\n");
        return 2;
    }
    return diagbridge::Run(kib, flashes, bitRate);
}
