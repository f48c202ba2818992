// Throughput of the Intel-HEX conversion into UDS download blocks, and of the CRC-32 over the
// converted image, on HEX texts of 1, 4 and 16 MiB built in memory, converted again and again
// in one process (memory the allocator has used before). Equal time per MiB across the sizes
// shows that the conversion is linear in its input.
// Then the same 16 MiB image as a HEX file, read and converted by the component and turned
// into a binary image by srec_cat, side by side, with the conversion's peak memory.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "platform/FileRead.h"
#include "uds/Crc32.h"
#include "uds/HexImage.h"

extern char** environ;

// Every allocation of this program is counted, so that the conversion's own peak is known
// to the byte; a small header in front of each block keeps its size.
namespace {
constexpr std::size_t kHeader = alignof(std::max_align_t);
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* CountedAllocate(std::size_t size) {
    void* raw = std::malloc(size + kHeader);
    if (raw == nullptr) throw std::bad_alloc();
    *static_cast<std::size_t*>(raw) = size;
    const std::size_t live = liveBytes.fetch_add(size) + size;
    std::size_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return static_cast<char*>(raw) + kHeader;
}

void CountedFree(void* block) {
    if (block == nullptr) return;
    void* raw = static_cast<char*>(block) - kHeader;
    liveBytes.fetch_sub(*static_cast<std::size_t*>(raw));
    std::free(raw);
}
}  // namespace

void* operator new(std::size_t size) {
    return CountedAllocate(size);
}
void* operator new[](std::size_t size) {
    return CountedAllocate(size);
}
void operator delete(void* block) noexcept {
    CountedFree(block);
}
void operator delete[](void* block) noexcept {
    CountedFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
    CountedFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    CountedFree(block);
}

namespace {

using diagbridge::ConvertHexToDatablocks;
using diagbridge::UdsTransferDatablockTag;

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kRecordBytes = 32;
constexpr uint32_t kImageStart = 0x08000000;
// Every so many bytes the image skips a few, so that the text yields several blocks.
constexpr uint32_t kGapEvery = 256 * 1024;
constexpr uint32_t kGapBytes = 256;
constexpr int kRuns = 5;
constexpr double kMB = 1e6;
constexpr std::string_view kDigits = "0123456789ABCDEF";
constexpr size_t kFileMiB = 16;
constexpr const char* kSrecCat = "srec_cat";

void AppendRecord(std::string& text, char separator, uint8_t type, uint16_t address,
                  const uint8_t* data, size_t length) {
    uint8_t bytes[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(address >> 8),
                        static_cast<uint8_t>(address), type};
    uint8_t sum = 0;
    text += ':';
    auto put = [&](uint8_t byte) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
        sum = static_cast<uint8_t>(sum + byte);
    };
    for (uint8_t byte : bytes) put(byte);
    for (size_t i = 0; i < length; ++i) put(data[i]);
    put(static_cast<uint8_t>(0x100 - sum));
    text += separator;
}

// A linear-addressed image of pseudo-random bytes whose HEX text is about textBytes long.
std::string MakeHexText(size_t textBytes, char separator) {
    std::string text;
    text.reserve(textBytes + 256);
    uint32_t address = kImageStart;
    uint32_t upper = 0xFFFFFFFF;
    uint32_t random = 0x12345678;
    uint8_t data[kRecordBytes];
    while (text.size() < textBytes) {
        if (address >> 16 != upper) {
            upper = address >> 16;
            const uint8_t value[2] = {static_cast<uint8_t>(upper >> 8),
                                      static_cast<uint8_t>(upper)};
            AppendRecord(text, separator, 0x04, 0, value, sizeof value);
        }
        for (uint8_t& byte : data) {
            random ^= random << 13;
            random ^= random >> 17;
            random ^= random << 5;
            byte = static_cast<uint8_t>(random);
        }
        AppendRecord(text, separator, 0x00, static_cast<uint16_t>(address), data, sizeof data);
        address += kRecordBytes;
        if ((address - kImageStart) % kGapEvery == 0) address += kGapBytes;
    }
    text += ":00000001FF";
    text += separator;
    return text;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CRC-32 over the converted image in sending order; the block texts are decoded here only to
// have bytes to feed.
uint32_t ImageCrc(const std::vector<UdsTransferDatablockTag>& blocks, size_t totalBytes,
                  double& seconds) {
    std::vector<uint8_t> bytes;
    bytes.reserve(totalBytes);
    for (const auto& block : blocks) {
        for (size_t i = 0; i + 1 < block.data.size(); i += 3) {
            const auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
            bytes.push_back(
                static_cast<uint8_t>(nibble(block.data[i]) << 4 | nibble(block.data[i + 1])));
        }
    }
    const auto start = std::chrono::steady_clock::now();
    const uint32_t crc = diagbridge::Crc32(bytes);
    seconds = SecondsSince(start);
    return crc;
}

bool RunSize(size_t mib) {
    const std::string text = MakeHexText(mib * kMiB, '|');
    std::vector<UdsTransferDatablockTag> blocks;
    double best = 1e30;
    int32_t result = 0;
    for (int run = 0; run < kRuns; ++run) {
        blocks = {};  // the previous result is freed outside the timing
        const auto start = std::chrono::steady_clock::now();
        result = ConvertHexToDatablocks(text, 0, blocks);
        best = std::min(best, SecondsSince(start));
    }
    if (result <= 0) {
        std::printf("%4zu MiB: conversion failed (%d)\n", mib, result);
        return false;
    }
    double crcSeconds = 0;
    const uint32_t crc = ImageCrc(blocks, static_cast<size_t>(result), crcSeconds);
    std::printf(
        "%4zu MiB text %10zu chars %9d data bytes %4zu blocks  %8.2f ms  %7.1f MB/s"
        "  %6.2f ms/MiB  CRC-32 %08X %7.1f MB/s\n",
        mib, text.size(), result, blocks.size(), best * 1e3, text.size() / best / kMB,
        best * 1e3 / (static_cast<double>(text.size()) / kMiB), crc, result / crcSeconds / kMB);
    return true;
}

// Best wall time of srec_cat turning the file into a binary image (the image moved down to
// address 0), or a negative value when srec_cat cannot be run.
double SrecCatSeconds(const std::string& hexPath, const std::string& binaryPath) {
    char offset[16];
    std::snprintf(offset, sizeof offset, "-0x%X", kImageStart);
    std::vector<std::string> arguments = {kSrecCat, hexPath, "-Intel",   "-offset",
                                          offset,   "-o",    binaryPath, "-Binary"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        pid_t child = 0;
        if (posix_spawnp(&child, kSrecCat, nullptr, nullptr, argv.data(), environ) != 0) return -1;
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return -1;
        }
        best = std::min(best, SecondsSince(start));
    }
    return best;
}

struct ComponentFigures {
    double seconds = 1e30;
    int32_t result = -1;
    size_t peakBytes = 0;   // the conversion's own allocations at their peak, text excluded
    long rssGrowthKiB = 0;  // resident memory the conversion added, from /proc/self/status
    long pageFaults = 0;    // minor faults of the file read and the conversion
};

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), 0 when it cannot be read.
long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    }
    return 0;
}

// One run in this process: reads the file and converts it into UDS blocks.
ComponentFigures ConvertFile(const std::string& hexPath) {
    ComponentFigures figures;
    const long faultsBefore = MinorFaults();
    const auto start = std::chrono::steady_clock::now();
    std::string text;
    if (diagbridge::platform::ReadRegularFile(hexPath, SIZE_MAX, text) !=
        diagbridge::platform::FileReadResult::kOk) {
        return figures;
    }
    std::vector<UdsTransferDatablockTag> blocks;
    const long rssBefore = StatusKiB("VmRSS");
    const size_t before = liveBytes.load();
    peakBytes.store(before);
    figures.result = ConvertHexToDatablocks(text, 0, blocks);
    figures.seconds = SecondsSince(start);
    figures.pageFaults = MinorFaults() - faultsBefore;
    figures.peakBytes = peakBytes.load() - before;
    figures.rssGrowthKiB = StatusKiB("VmHWM") - rssBefore;
    return figures;
}

// Best of kRuns, each run in a fresh child process as srec_cat's runs are: a download is
// converted once, into memory the process has not used before.
ComponentFigures ComponentFileConversion(const std::string& hexPath) {
    ComponentFigures best;
    for (int run = 0; run < kRuns; ++run) {
        int channel[2];
        if (pipe(channel) != 0) return best;
        const pid_t child = fork();
        if (child == 0) {
            const ComponentFigures figures = ConvertFile(hexPath);
            const bool written = write(channel[1], &figures, sizeof figures) == sizeof figures;
            _exit(written ? 0 : 1);
        }
        close(channel[1]);
        ComponentFigures figures;
        const bool read =
            child > 0 && ::read(channel[0], &figures, sizeof figures) == sizeof figures;
        close(channel[0]);
        if (child > 0) waitpid(child, nullptr, 0);
        if (!read || figures.result <= 0) return figures;
        if (figures.seconds < best.seconds) best = figures;
    }
    return best;
}

bool CompareWithSrecCat() {
    const std::string hexPath =
        "/tmp/hex_conversion_benchmark." + std::to_string(getpid()) + ".hex";
    const std::string binaryPath = hexPath + ".bin";
    const std::string text = MakeHexText(kFileMiB * kMiB, '\n');
    std::ofstream(hexPath, std::ios::binary) << text;
    std::printf(
        "\n%zu MiB HEX file (%zu chars, 32-byte records, LF line ends), best of %d runs, each in "
        "a fresh process:\n",
        kFileMiB, text.size(), kRuns);
    const ComponentFigures component = ComponentFileConversion(hexPath);
    const double textMiB = static_cast<double>(text.size()) / kMiB;
    const double peakMiB = static_cast<double>(component.peakBytes) / kMiB;
    std::printf("  component, file read + UDS blocks: %8.2f ms, %d data bytes, %ld page faults\n",
                component.seconds * 1e3, component.result, component.pageFaults);
    std::printf(
        "  conversion peak memory %.1f MiB = %.2f x the text of %.1f MiB (target <= 2.0; the "
        "text itself held by the caller); resident memory grew by %.1f MiB\n",
        peakMiB, peakMiB / textMiB, textMiB, component.rssGrowthKiB / 1024.0);
    const double srec = SrecCatSeconds(hexPath, binaryPath);
    std::remove(hexPath.c_str());
    std::remove(binaryPath.c_str());
    if (srec < 0) {
        std::printf(
            "  srec_cat not found or failed: comparison skipped (Debian package srecord)\n");
        return component.result > 0;
    }
    std::printf("  srec_cat, Intel-HEX file -> binary image file: %8.2f ms\n", srec * 1e3);
    std::printf("  component speed = %.2f x srec_cat's (target >= 2.0)\n",
                srec / component.seconds);
    return component.result > 0;
}

}  // namespace

int main() {
    std::printf("Intel-HEX -> UDS download blocks, best of %d runs (MB = 10^6 bytes of HEX text)\n",
                kRuns);
    bool ok = true;
    for (size_t mib : {1, 4, 16}) ok = RunSize(mib) && ok;
    ok = CompareWithSrecCat() && ok;
    return ok ? 0 : 1;
}
