// Throughput of the Intel-HEX conversion into UDS download blocks, and of the CRC-32 over the
// converted image, on HEX texts of 1, 4 and 16 MiB built in memory. Equal time per MiB across
// the sizes shows that the conversion is linear in its input.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "uds/Crc32.h"
#include "uds/HexImage.h"

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

void AppendRecord(std::string& text, uint8_t type, uint16_t address, const uint8_t* data,
                  size_t length) {
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
    text += '|';
}

// A linear-addressed image of pseudo-random bytes whose HEX text is about textBytes long.
std::string MakeHexText(size_t textBytes) {
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
            AppendRecord(text, 0x04, 0, value, sizeof value);
        }
        for (uint8_t& byte : data) {
            random ^= random << 13;
            random ^= random >> 17;
            random ^= random << 5;
            byte = static_cast<uint8_t>(random);
        }
        AppendRecord(text, 0x00, static_cast<uint16_t>(address), data, sizeof data);
        address += kRecordBytes;
        if ((address - kImageStart) % kGapEvery == 0) address += kGapBytes;
    }
    text += ":00000001FF";
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
    const std::string text = MakeHexText(mib * kMiB);
    std::vector<UdsTransferDatablockTag> blocks;
    double best = 1e30;
    int32_t result = 0;
    for (int run = 0; run < kRuns; ++run) {
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

}  // namespace

int main() {
    std::printf("Intel-HEX -> UDS download blocks, best of %d runs (MB = 10^6 bytes of HEX text)\n",
                kRuns);
    bool ok = true;
    for (size_t mib : {1, 4, 16}) ok = RunSize(mib) && ok;
    return ok ? 0 : 1;
}
