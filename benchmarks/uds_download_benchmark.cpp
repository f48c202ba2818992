// Download of an Intel-HEX image through the whole component to the virtual UDS ECU on the
// in-process bus with wire time modelled: elapsed time against the bus-limited minimum of
// the same frames, CPU time, and several flashes on buses of their own at once.
//
// usage: uds_download_benchmark [image KiB (default 1024)] [parallel flashes (default 8)]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "component/CCommandInterface.h"
#include "drivers/xl/VirtualCanBus.h"
#include "sim/uds/UdsVirtualEcu.h"
#include "uds/Crc32.h"

namespace diagbridge {
namespace {

constexpr const char* kModelKeyword = "T60.1";
constexpr uint32_t kBitRate = 500000;
constexpr uint32_t kImageStart = 0x010000;
constexpr size_t kRecordBytes = 32;
constexpr uint32_t kLastTransferPauseMs = 150;  // after each block's last transfer
constexpr double kBusShareTarget = 0.95;
constexpr double kParallelTarget = 1.2;

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

// Adds up the wire time of every frame on a bus.
class WireTimeMeter : public xl::VirtualBusObserver {
  public:
    void OnFrame(xl::VirtualCanBus&, const xl::CanFrame& frame, uint32_t bitRate) override {
        bits_ += xl::VirtualCanBus::FrameBits(frame);
        frames_ += 1;
        bitRate_ = bitRate;
    }
    double Seconds() const { return bitRate_ == 0 ? 0 : double(bits_) / bitRate_; }
    uint64_t Frames() const { return frames_; }

  private:
    std::atomic<uint64_t> bits_{0};
    std::atomic<uint64_t> frames_{0};
    std::atomic<uint32_t> bitRate_{0};
};

// One tester (its own component), one ECU and one bus.
class Bench {
  public:
    explicit Bench(int index)
        : name_("bench.uds." + std::to_string(index)),
          bus_(xl::VirtualCanBus::Named(name_)),
          component_() {
        bus_->SetWireTimeModel(true);
        sim::UdsEcuProfile profile;
        std::string error;
        if (!sim::ProfileForModel(kModelKeyword, profile, error))
            std::fprintf(stderr, "%s\n", error.c_str());
        profile.bitRate = kBitRate;
        ecu_ = std::make_unique<sim::UdsVirtualEcu>(profile);
    }
    ~Bench() {
        int32_t result = 0;
        if (communication_ >= 0) component_.DbrDeleteCommunicationObject(communication_, &result);
        ecu_->Stop();
        bus_->RemoveObserver(&meter_);
    }
    bool Connect() {
        std::string error;
        if (!ecu_->Start("virtual:" + name_, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        setenv("DIAGBRIDGE_XL", ("virtual:" + name_).c_str(), 1);
        component_.DbrCreateCommunicationObject("UDS_ISO_14229|VECTOR=1|BAUDRATE=500000",
                                                &communication_);
        component_.DbrCreateEcuObject(kModelKeyword, communication_, &ecuId_);
        int32_t result = -1;
        component_.DbrConnect(ecuId_, &result);
        bus_->AddObserver(&meter_);
        return communication_ >= 0 && ecuId_ >= 0 && result == 0;
    }
    int32_t Download(const std::string& hex) {
        int32_t result = -1;
        const auto start = std::chrono::steady_clock::now();
        component_.DbrDownload(ecuId_, 0, hex, &result);
        seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    const WireTimeMeter& Meter() const { return meter_; }

  private:
    std::string name_;
    std::shared_ptr<xl::VirtualCanBus> bus_;
    CCommandInterface component_;
    std::unique_ptr<sim::UdsVirtualEcu> ecu_;
    WireTimeMeter meter_;
    int32_t communication_ = -1;
    int32_t ecuId_ = -1;
    double seconds_ = 0;
};

double CpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

int Run(size_t imageKiB, int parallel) {
    std::vector<uint8_t> image(imageKiB * 1024);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t((i * 131) ^ (i >> 9));
    const std::string hex = HexImage(image);
    const double waits = kLastTransferPauseMs / 1000.0;  // one block

    Bench single(0);
    if (!single.Connect()) return 1;
    const double cpuBefore = CpuSeconds();
    const int32_t result = single.Download(hex);
    const double cpu = CpuSeconds() - cpuBefore;
    const double bus = single.Meter().Seconds();
    const double working = single.Seconds() - waits;
    std::printf("image: %zu bytes in %zu HEX characters, result %d, stored image %s\n",
                image.size(), hex.size(), result, single.ImageMatches(image) ? "equal" : "WRONG");
    std::printf(
        "one flash: %.3f s elapsed, of it %.3f s prescribed waits (150 ms after the "
        "block's last transfer)\n",
        single.Seconds(), waits);
    std::printf("bus-limited minimum of the same %llu frames at %u bit/s: %.3f s\n",
                static_cast<unsigned long long>(single.Meter().Frames()), kBitRate, bus);
    std::printf("bus share without the prescribed waits: %.1f %% (target >= %.0f %%)\n",
                100.0 * bus / working, 100 * kBusShareTarget);
    std::printf("CPU: %.3f s for the flash (%.1f %% of its time)\n", cpu,
                100.0 * cpu / single.Seconds());

    std::vector<std::unique_ptr<Bench>> benches;
    for (int i = 1; i <= parallel; ++i) {
        benches.push_back(std::make_unique<Bench>(i));
        if (!benches.back()->Connect()) return 1;
    }
    std::vector<std::thread> threads;
    std::vector<int32_t> results(size_t(parallel), -1);
    const double parallelCpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < parallel; ++i) {
        threads.emplace_back([&, i] { results[size_t(i)] = benches[size_t(i)]->Download(hex); });
    }
    for (std::thread& thread : threads) thread.join();
    const double all =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double parallelCpu = CpuSeconds() - parallelCpuBefore;
    int good = 0;
    for (int i = 0; i < parallel; ++i) {
        good += results[size_t(i)] == 0 && benches[size_t(i)]->ImageMatches(image) ? 1 : 0;
    }
    std::printf(
        "%d flashes on %d buses at once: %.3f s, %.2f x one flash (target <= %.1f), "
        "%d images equal, CPU %.3f s\n",
        parallel, parallel, all, all / single.Seconds(), kParallelTarget, good, parallelCpu);
    return result == 0 && good == parallel ? 0 : 1;
}

}  // namespace
}  // namespace diagbridge

int main(int argc, char** argv) {
    const size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const int parallel = argc > 2 ? std::atoi(argv[2]) : 8;
    if (kib == 0 || kib > 8192 || parallel < 1 || parallel > 16) {
        std::fprintf(stderr, "usage: uds_download_benchmark [KiB 1..8192] [flashes 1..16]\n");
        return 2;
    }
    return diagbridge::Run(kib, parallel);
}
