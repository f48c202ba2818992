// Download service of the UDS communication object: HEX conversion, pre-, main and
// post-programming sequences.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "ecu/CEcu.h"
#include "engine/CConvert.h"
#include "uds/CHUdsIso14229.h"
#include "uds/CSUdsIso14229.h"
#include "uds/Crc32.h"
#include "uds/HexImage.h"

namespace diagbridge {

namespace {
constexpr int32_t kPhysical = 0;
constexpr int32_t kFunctional = 1;
constexpr int32_t kFunctionalTesterPresent = 2;
constexpr int32_t kSessionAccess = 1;
constexpr uint32_t kMaxBlockLength = 0xC00;  // cap of a 2-byte maximum block length
constexpr uint32_t kTransferOverhead = 2;    // service id and block sequence counter
constexpr uint32_t kLastTransferPauseMs = 150;
constexpr uint32_t kPostProgrammingPauseMs = 1000;
constexpr std::size_t kMaxLengthBytes = 4;  // of the maximum block length
constexpr uint8_t kNegativeResponseId = 0x7F;
constexpr uint8_t kTransferDataId = 0x36;
constexpr uint8_t kWrongBlockSequenceCounter = 0x73;
constexpr std::size_t kRoutineStatusByte = 4;

std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Text(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

std::vector<uint8_t> ResponseBytes(const std::string& response) {
    std::vector<uint8_t> bytes(4096);
    std::size_t stored = 0;
    if (HexStringToBytes(response, bytes.data(), bytes.size(), stored) < 0) return {};
    bytes.resize(stored);
    return bytes;
}

// Data bytes per transfer from a request download response 74 <format> <maximum block length>:
// the format's high nibble is the length's byte count (1..4, most significant byte first).
// 0 when the response is short or names no usable length.
uint32_t BytesPerTransfer(const std::vector<uint8_t>& response) {
    if (response.size() < 2) return 0;
    const std::size_t count = response[1] >> 4;
    if (count < 1 || count > kMaxLengthBytes || response.size() < 2 + count) return 0;
    uint32_t maxLength = 0;
    for (std::size_t i = 0; i < count; ++i) maxLength = (maxLength << 8) | response[2 + i];
    maxLength = std::min(maxLength, kMaxBlockLength);
    return maxLength > kTransferOverhead ? maxLength - kTransferOverhead : 0;
}

// 7F 36 73: the ECU expected another block sequence counter.
bool IsWrongBlockCounter(const std::string& response) {
    const std::vector<uint8_t> bytes = ResponseBytes(response);
    return bytes.size() >= 3 && bytes[0] == kNegativeResponseId && bytes[1] == kTransferDataId &&
           bytes[2] == kWrongBlockSequenceCounter;
}

struct Step {
    const char* text;
    const char* request;
    int32_t addressMode;
};
}  // namespace

void CSUdsIso14229::SetChannelModeIfFingerprinted(int32_t mode) {
    if (!parameters_.uds.noFingerprint && HardwareInterface() != nullptr) {
        HardwareInterface()->HALSetChannelMode(mode);
    }
}

int32_t CSUdsIso14229::ServiceDownload(ServiceOrder order) {
    if (AttachedEcu() == nullptr) return kResultFailure;
    RaiseProgress(0, 0, "ServiceDownload: Start Download");
    const uint32_t start = platform::Clock().TickMs();
    int32_t result = PreProgramming();
    if (result < 0) {
        RaiseProgress(1, 100, "Service Download: PreProgramming Sequence failed");
        return result;
    }
    SetChannelModeIfFingerprinted(kFunctionalTesterPresent);
    result = MainProgramming(order);
    SetChannelModeIfFingerprinted(parameters_.uds.keepAliveMode);
    if (result < 0) {
        RaiseProgress(2, 100, "Service Download: MainProgramming Sequence failed");
        return result;
    }
    result = PostProgramming();
    if (result < 0) {
        RaiseProgress(3, 100, "Service Download: PostProgramming Sequence failed");
        return result;
    }
    RaiseProgress(4, 100, "Service Download: Upgradestatus OK");
    const double minutes = (platform::Clock().TickMs() - start) / 60000.0;
    RaiseProgress(5, 100, Text("ServiceDownload: finished after %3.3f min", minutes));
    return result;
}

int32_t CSUdsIso14229::PreProgramming() {
    if (!parameters_.uds.prePostProgramming) {
        RaiseProgress(1, 0, "ServiceDownload: PreProgrammingSequence not used");
        return kResultOk;
    }
    const Step steps[] = {
        {"ServiceDownload: PreProgrammingSequence -> diagnostic session control", "10 83",
         kFunctional},
        {"ServiceDownload: PreProgrammingSequence -> control DTC setting", "85 82", kFunctional},
        {"ServiceDownload: PreProgrammingSequence -> communication control", "28 81 01",
         kFunctional},
    };
    for (const Step& step : steps) {
        RaiseProgress(1, 0, step.text);
        std::string response;
        const int32_t result = ExtDataTransfer(step.addressMode, step.request, response);
        if (result < 0) {
            RaiseProgress(1, 0, std::string(step.text) + " failed");
            return result;
        }
    }
    return kResultOk;
}

int32_t CSUdsIso14229::PostProgramming() {
    if (!parameters_.uds.prePostProgramming) {
        RaiseProgress(3, 0, "ServiceDownload: PostProgrammingSequence not used");
        return kResultOk;
    }
    const Step steps[] = {
        {"ServiceDownload: PostProgrammingSequence -> diagnostic session control", "10 83",
         kPhysical},
        {"ServiceDownload: PostProgrammingSequence -> communication control", "28 80 01",
         kFunctional},
        {"ServiceDownload: PostProgrammingSequence -> control DTC setting", "85 81", kFunctional},
    };
    bool first = true;
    for (const Step& step : steps) {
        RaiseProgress(3, 0, step.text);
        if (first && !PauseMs(kPostProgrammingPauseMs)) return kResultTimeout;
        first = false;
        std::string response;
        const int32_t result = ExtDataTransfer(step.addressMode, step.request, response);
        if (result < 0) {
            RaiseProgress(3, 0, std::string(step.text) + " failed");
            return result;
        }
    }
    return kResultOk;
}

int32_t CSUdsIso14229::MainProgramming(const ServiceOrder& order) {
    RaiseProgress(2, 0, "ServiceDownload: Start");
    if (!order.job.empty()) RaiseProgress(2, 0, "ServiceDownload: " + order.job);
    const int32_t mode = parameters_.uds.hexConversionMode;
    const int32_t total =
        mode == 0 || mode == 1
            ? ConvertHexToDatablocks(order.hexText, static_cast<uint8_t>(mode), blocks_)
            : kHexConversionFailed;
    if (total <= 0) {
        RaiseProgress(2, 0, "ServiceDownload: Convert hexdata failed");
        return kHexConversionFailed;
    }
    RaiseProgress(2, 0, Text("ServiceDownload: Convert hexdata -> [ %d Bytes ]", total));
    RaiseProgress(2, 0, "ServiceDownload: Set Session (1) whitout SAV");
    if (SelectAccess(kSessionAccess, false) != kResultOk || RunSession() != kResultOk) {
        RaiseProgress(2, 0, "ServiceUpload: Set Session (1) without SAV failed");
        return kAccessFailed;
    }
    RaiseProgress(2, 0, "ServiceDownload: Set Programming Access");
    if (OpenAccess(parameters_.uds.programmingAccess) != kResultOk) {
        RaiseProgress(2, 0, "ServiceDownload: Set Programming Access failed");
        return kAccessFailed;
    }
    RaiseProgress(2, 0, "ServiceDownload: Erase Memory");
    std::string response;
    if (ExtDataTransfer(kPhysical, "31 01 FF 00", response) < 0) {
        RaiseProgress(2, 0, "ServiceDownload: Erase Memory failed");
        return kEraseFailed;
    }
    crc_ = kCrc32Initial;
    sentBytes_ = 0;
    blockCounter_ = 0;
    counterRestartsPerBlock_ = false;
    lastPercent_ = 0;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        const int32_t result = TransferBlock(i, blocks_[i], static_cast<uint32_t>(total));
        if (result < 0) return result;
    }
    crc_ = Crc32Final(crc_);
    const int32_t checked = CheckDependencies();
    if (checked < 0) return checked;
    RaiseProgress(2, 100, "ServiceDownload: Ecu Reset");
    const int32_t reset = ExtDataTransfer(kPhysical, "11 01", response);
    if (reset < 0) return reset;
    RaiseProgress(2, 100, Text("Sendet Data: %u", sentBytes_));
    return kResultOk;
}

int32_t CSUdsIso14229::TransferBlock(std::size_t index, const UdsTransferDatablockTag& block,
                                     uint32_t totalBytes) {
    const uint32_t last = block.start + block.length - 1;
    const auto number = static_cast<unsigned>(index);
    RaiseProgress(
        2, static_cast<int16_t>(lastPercent_),
        Text("ServiceDownload: Transfer DataBlock %u [%X - %X]", number, block.start, last));
    const std::string request =
        Text("34 00 33 %02X %02X %02X %02X %02X %02X", (block.start >> 16) & 0xFF,
             (block.start >> 8) & 0xFF, block.start & 0xFF, (block.length >> 16) & 0xFF,
             (block.length >> 8) & 0xFF, block.length & 0xFF);
    std::string response;
    if (block.start > 0xFFFFFF || block.length > 0xFFFFFF ||
        ExtDataTransfer(kPhysical, request, response) < 0) {
        RaiseProgress(2, 0,
                      Text("ServiceDownload: Request Download %u [%X - %X] failed", number,
                           block.start, last));
        return kRequestDownloadFailed;
    }
    bytesPerTransfer_ = BytesPerTransfer(ResponseBytes(response));
    if (bytesPerTransfer_ == 0) {
        RaiseProgress(2, 0,
                      Text("ServiceDownload: Request Download %u [%X - %X] failed", number,
                           block.start, last));
        return kRequestDownloadFailed;
    }
    if (counterRestartsPerBlock_) blockCounter_ = 0;
    bool firstOfLaterBlock = index > 0;
    std::vector<uint8_t> buffer;
    buffer.reserve(bytesPerTransfer_);
    uint8_t record[256];
    std::size_t from = 0;
    while (from < block.data.size()) {
        std::size_t bar = block.data.find('|', from);
        if (bar == std::string::npos) bar = block.data.size();
        std::size_t count = 0;
        if (HexStringToBytes(std::string_view(block.data).substr(from, bar - from), record,
                             sizeof(record), count) < 0) {
            return kHexConversionFailed;
        }
        from = bar + 1;
        for (std::size_t i = 0; i < count; ++i) {
            buffer.push_back(record[i]);
            if (buffer.size() < bytesPerTransfer_) continue;
            const int32_t result = SendTransfer(buffer, totalBytes, firstOfLaterBlock);
            if (result < 0) return result;
            firstOfLaterBlock = false;
        }
    }
    if (!buffer.empty()) {
        const int32_t result = SendTransfer(buffer, totalBytes, firstOfLaterBlock);
        if (result < 0) return result;
        PauseMs(kLastTransferPauseMs);
    }
    if (ExtDataTransfer(kPhysical, "37", response) < 0) {
        RaiseProgress(2, 0, "ServiceDownload: Transfer exit failed");
        return kTransferExitFailed;
    }
    return kResultOk;
}

// The counter runs on across the blocks of one download. An ISO 14229 controller restarts
// it with every request download and refuses the first transfer of a later block with
// 7F 36 73: that transfer is repeated once with counter 01, and the counter restarts per
// block for the rest of the download.
int32_t CSUdsIso14229::SendTransfer(std::vector<uint8_t>& buffer, uint32_t totalBytes,
                                    bool firstOfLaterBlock) {
    ++blockCounter_;  // wraps from 0xFF to 0x00
    sentBytes_ += static_cast<uint32_t>(buffer.size());
    crc_ = Crc32Update(crc_, buffer);
    std::string response;
    int32_t result = SendTransferRequest(buffer, response);
    if (result == kNegativeResponse && firstOfLaterBlock && !counterRestartsPerBlock_ &&
        blockCounter_ != 1 && IsWrongBlockCounter(response)) {
        counterRestartsPerBlock_ = true;
        blockCounter_ = 1;
        RaiseProgress(2, static_cast<int16_t>(lastPercent_),
                      "ServiceDownload: TransferData counter restarts per block");
        result = SendTransferRequest(buffer, response);
    }
    buffer.clear();
    if (result < 0) {
        RaiseProgress(2, 0, "ServiceDownload: TransferData failed");
        return kTransferDataFailed;
    }
    // sent * 100 / total in 64 bits: exact, and no overflow for large images.
    const auto percent = static_cast<int32_t>(static_cast<uint64_t>(sentBytes_) * 100 / totalBytes);
    if (percent > lastPercent_) {
        lastPercent_ = percent;
        RaiseProgress(2, static_cast<int16_t>(percent),
                      Text("ServiceDownload: TransferData %d ", percent));
    }
    return kResultOk;
}

int32_t CSUdsIso14229::SendTransferRequest(const std::vector<uint8_t>& buffer,
                                           std::string& response) {
    const std::string request =
        Text("36 %02X ", blockCounter_) + BytesToHexString(buffer.data(), buffer.size());
    return ExtDataTransfer(kPhysical, request, response);
}

int32_t CSUdsIso14229::CheckDependencies() {
    std::string request = "31 01 FF 01";
    if (parameters_.uds.crcInDependencyCheck) {
        request = Text("31 01 FF 01 00 04 %02X %02X %02X %02X", (crc_ >> 24) & 0xFF,
                       (crc_ >> 16) & 0xFF, (crc_ >> 8) & 0xFF, crc_ & 0xFF);
        RaiseProgress(
            2, 100, Text("ServiceDownload: Check programming dependencies -> CRC [ %04X ]", crc_));
    } else {
        RaiseProgress(2, 100, "ServiceDownload: Check programming dependencies");
    }
    std::string response;
    if (ExtDataTransfer(kPhysical, request, response) < 0) {
        RaiseProgress(2, 100, "ServiceDownload: Startroutine Control failed");
        return kDependencyCheckRefused;
    }
    const std::vector<uint8_t> bytes = ResponseBytes(response);
    if (bytes.size() <= kRoutineStatusByte || bytes[kRoutineStatusByte] != 0) {
        RaiseProgress(2, 100, "ServiceDownload: Startroutine control Status check failed");
        return kDependencyStatusBad;
    }
    RaiseProgress(2, 100, "ServiceDownload: Startroutine control Status check ok");
    return kResultOk;
}

}  // namespace diagbridge
