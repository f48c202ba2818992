// Download of the KWP2000 communication object: Intel-HEX records through RequestDownload,
// TransferData and RequestTransferExit, the programming date and the upgrade-status wait.
#include <algorithm>
#include <cstdio>

#include "ecu/CEcu.h"
#include "ecu/KwpUploadValues.h"
#include "engine/CConvert.h"
#include "engine/HexRange.h"
#include "engine/ParameterString.h"
#include "kwp2000/CSKwp2000.h"
#include "kwp2000/KwpDownloadRecords.h"
#include "kwp2000/KwpText.h"

namespace diagbridge {

namespace {
enum DownloadType : int32_t {
    kLoader = 0,
    kSoftwareAndDataset = 1,
    kSoftware = 2,
    kDataset = 3,
    kDetect = 4,
    kFram = 7,
    kInvalidType = -1,
};

constexpr uint32_t kSoftwareStart = 0x8000;
constexpr uint32_t kSoftwareStartHigh = 0x18000;
constexpr uint32_t kDatasetStart = 0x405E00;
constexpr uint32_t kDatasetEnd = 0x406E00;
constexpr uint8_t kFramFormat = 0xFF;
constexpr uint32_t kFramSize = 0xFFFFFF;
constexpr std::size_t kFramPairs = 16;
constexpr std::size_t kPairBytes = 6;
constexpr std::size_t kDataOffset = 2;

constexpr const char* kEndRecord = "00 00 00 01 FF";
constexpr uint32_t kEndRecordPauseMs = 500;
constexpr std::size_t kDateTailOffset = 6;

constexpr uint32_t kRestartPauseMs = 2000;
constexpr uint32_t kLoaderRestartSteps = 125;
constexpr uint32_t kLoaderRestartStepMs = 500;
constexpr uint32_t kSlowAnswerMs = 1000;
constexpr uint32_t kPollPauseMs = 250;
constexpr int32_t kMaxPollFailures = 2;
constexpr uint32_t kFinishWaitMs = 30000;
constexpr uint32_t kFinishStepMs = 300;
// No ECU takes longer to install an upgrade; the wait gives up after it.
constexpr uint32_t kUpgradeStatusTotalMs = 240000;
constexpr int32_t kMaxPercent = 100;
constexpr std::size_t kStatusAnswerLength = 4;
enum UpgradeState : uint8_t { kIdle = 0, kBusy = 1, kOk = 2, kFailed = 3 };

const char* TypeText(int32_t type, bool withPath) {
    switch (type) {
        case kLoader:
            return withPath ? "ServiceDownload Loader: %s" : "ServiceDownload: Loader detected";
        case kSoftwareAndDataset:
            return withPath ? "ServiceDownload SW + DS: %s" : "ServiceDownload: SW + DS detected";
        case kSoftware:
            return withPath ? "ServiceDownload SW: %s" : "ServiceDownload: SW detected";
        case kDataset:
            return withPath ? "ServiceDownload DS: %s" : "ServiceDownload: DS detected";
        default:
            return withPath ? "ServiceDownload: FRAM: %s" : "ServiceDownload: FRAM Data detected";
    }
}

int32_t ClassifyRange(uint32_t start, uint64_t end) {
    if (start != kSoftwareStart && start != kSoftwareStartHigh) {
        return start >= kDatasetStart && end <= kDatasetEnd ? kDataset : kInvalidType;
    }
    if (end < kDatasetStart) return kSoftware;
    return end <= kDatasetEnd ? kSoftwareAndDataset : kInvalidType;
}
}  // namespace

int32_t CSKwp2000::ServiceDownload(ServiceOrder order) {
    RaiseProgress(0, 0, "ServiceDownload: Start");
    platform::IClock& clock = platform::Clock();
    const uint32_t started = clock.TickMs();
    // Every record is checked before anything goes to the ECU.
    if (ParseRecords(order.hexText) != kResultOk) {
        RaiseProgress(0, 0, "ServiceDownload: Convert hexdata failed");
        return kHexConvertFailed;
    }
    const uint32_t parseMs = platform::ElapsedMs(started, clock.TickMs());
    int32_t type = order.downloadType;
    uint32_t start = 0;
    int32_t result = DetermineType(order, type, start);
    if (result < 0) return result;
    const bool withPath = !order.hexFilePath.empty();
    RaiseProgress(0, 10,
                  withPath ? FormatText(TypeText(type, true), order.hexFilePath.c_str())
                           : std::string(TypeText(type, false)));
    RaiseProgress(0, 15,
                  FormatText("ServiceDownload: Parse Hex Data: %d ms", static_cast<int>(parseMs)));

    const KwpParameterBlock& kwp = parameters_.kwp;
    KwpDownloadArea area = type == kDataset ? kwp.dsDownloadArea : kwp.swDownloadArea;
    if (type == kFram) area = {start, kFramFormat, kFramSize};
    std::string response;
    RaiseProgress(0, 20, "ServiceDownload: Initialise Download Process");
    result = DataTransfer(
        FormatText("%02X %02X %02X %02X %02X %02X %02X %02X", 0x34, (area.address >> 16) & 0xFF,
                   (area.address >> 8) & 0xFF, area.address & 0xFF, area.format,
                   (area.size >> 16) & 0xFF, (area.size >> 8) & 0xFF, area.size & 0xFF),
        response, true, true);
    if (result < 0) {
        RaiseProgress(0, 20, "ServiceDownload: Request Download failed");
        return kRequestDownloadFailed;
    }
    if ((result = SendRecords()) < 0) return result;
    RaiseProgress(0, 80, "ServiceDownload: data transfer exit");
    if (DataTransfer(FormatText("%02X", 0x37), response, true, true) < 0) {
        RaiseProgress(0, 80, "ServiceDownload: Transfer exit failed");
        return kTransferExitFailed;
    }
    if ((result = StampProgrammingDate()) < 0) return result;
    RaiseProgress(0, 90,
                  FormatText("ServiceDownload: data transfer finished: %3.3f min",
                             platform::ElapsedMs(started, clock.TickMs()) / 60000.0));
    result = WaitUpgradeStatus(type);
    // A download stopped by its time-out has not finished.
    if (result == kResultTimeout) return result;
    RaiseProgress(0, 100, "ServiceDownload: finished");
    return result;
}

int32_t CSKwp2000::DetermineType(const ServiceOrder& order, int32_t& type, uint32_t& start) {
    if (type == kDetect || type == kFram) {
        int32_t detected = kInvalidType;
        const int32_t result = DetectType(order.hexText, detected, start);
        if (result < 0) return result;
        if (type == kDetect) {
            type = detected;
        } else if (detected != kFram) {
            // FRAM data given as such must lie where the ECU keeps its FRAM.
            type = kInvalidType;
        }
    }
    if (type < kLoader || type > kFram || (type >= kDetect && type < kFram)) {
        RaiseProgress(0, 10,
                      "ServiceDownload: ERROR Wrong HexFile Type detected! Please check your "
                      "parameters!!");
        return kResultFailure;
    }
    return kResultOk;
}

int32_t CSKwp2000::DetectType(const std::string& hexText, int32_t& type, uint32_t& start) {
    HexRange range;
    if (DetectHexRange(hexText, range) != 1) {
        RaiseProgress(0, 10, "ServiceDownload: Range Detection failed! Check your Hex Data");
        return kResultFailure;
    }
    start = range.start;
    uint32_t framStart = 0;
    uint32_t framEnd = 0;
    if (parameters_.kwp.framAvailable && ReadFramLayout(framStart, framEnd) &&
        range.start >= framStart && range.end <= framEnd) {
        type = kFram;
    } else {
        type = ClassifyRange(range.start, range.end);
    }
    RaiseProgress(0, 10, FormatText("ServiceDownload: Auto detected HexFile Type: %d", type));
    return kResultOk;
}

bool CSKwp2000::ReadFramLayout(uint32_t& start, uint32_t& end) {
    std::string response;
    if (DataTransfer("21 01", response, true, true) != kResultOk) return false;
    const std::vector<uint8_t> layout = KwpBytes(response);
    const std::size_t pairs = layout.size() > kDataOffset
                                  ? std::min(kFramPairs, (layout.size() - kDataOffset) / kPairBytes)
                                  : 0;
    if (pairs == 0) return false;
    start = UINT32_MAX;
    end = 0;
    for (std::size_t p = 0; p < pairs; ++p) {
        const uint32_t address = KwpRead24(layout, kDataOffset + p * kPairBytes);
        const uint32_t length = KwpRead24(layout, kDataOffset + p * kPairBytes + 3);
        start = std::min(start, address);
        end = std::max(end, address + length);
    }
    return true;
}

int32_t CSKwp2000::ParseRecords(const std::string& hexText) {
    platform::IClock& clock = platform::Clock();
    uint32_t lastKeepAlive = clock.TickMs();
    const auto keepAlive = [&] {
        const uint32_t now = clock.TickMs();
        if (platform::ElapsedMs(lastKeepAlive, now) < kParseKeepAliveMs) return;
        lastKeepAlive = now;
        ServiceKeepAlive();
    };
    return ReadKwpDownloadRecords(hexText, records_, keepAlive) ? kResultOk : kHexConvertFailed;
}

int32_t CSKwp2000::SendRecords() {
    std::string response;
    int32_t lastPercent = -1;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const auto percent = static_cast<int32_t>(i * 100 / records_.size());
        if (percent != lastPercent) {
            lastPercent = percent;
            RaiseProgress(0, static_cast<int16_t>(20 + percent * 6 / 10),
                          FormatText("ServiceDownload: Data transfer %d %%", percent));
        }
        if (DataTransfer(FormatText("%02X %s", 0x36, records_[i].c_str()), response, true, true) <
            0) {
            RaiseProgress(0, 80, "ServiceDownload: TransferData failed");
            return kTransferDataFailed;
        }
    }
    RaiseProgress(0, 80, "ServiceDownload: data transfer finished");
    if (!PauseMs(kEndRecordPauseMs)) return kResultTimeout;
    return DataTransfer(FormatText("%02X %s", 0x36, kEndRecord), response, true, true);
}

int32_t CSKwp2000::StampProgrammingDate() {
    RaiseProgress(0, 85, "ServiceDownload: read programming date");
    std::string response;
    const int32_t result = DataTransfer(FormatText("%02X %02X", 0x1A, 0x8F), response, true, true);
    const std::vector<uint8_t> old = KwpBytes(response);
    if (result < 0 || old.size() < kDateTailOffset) {
        RaiseProgress(0, 85, "ServiceDownload: read programming date failed");
        return kDateReadFailed;
    }
    RaiseProgress(0, 88, "ServiceDownload: write actual programming date");
    int year = 0;
    int month = 0;
    int day = 0;
    const std::string today = today_ ? today_() : std::string();
    if (std::sscanf(today.c_str(), "%d-%d-%d", &year, &month, &day) != 3 || year < 0 || month < 1 ||
        month > 12 || day < 1 || day > 31) {
        RaiseProgress(0, 88, "ServiceDownload: write programming date failed");
        return kDateWriteFailed;
    }
    std::string request =
        FormatText("%02X %02X %02d %02d %02d %02d", 0x3B, 0x8F, year / 100, year % 100, month, day);
    for (std::size_t i = kDateTailOffset; i < old.size(); ++i)
        request += FormatText(" %02X", old[i]);
    if (DataTransfer(request, response, true, true) < 0) {
        RaiseProgress(0, 88, "ServiceDownload: write programming date failed");
        return kDateWriteFailed;
    }
    return kResultOk;
}

// ---------------------------------------------------------------- upgrade status

void CSKwp2000::Reconnect() {
    if (HardwareInterface() == nullptr) return;
    HardwareInterface()->HALDisconnect();
    HardwareInterface()->HALConnect();
}

int32_t CSKwp2000::WaitUpgradeStatus(int32_t type) {
    RaiseProgress(1, 0, "Upgrade status: Start");
    if (HardwareInterface() == nullptr) {
        RaiseProgress(1, 100, "Upgrade status failed");
        return kResultFailure;
    }
    if (type == kLoader) return WaitLoaderRestart();
    return parameters_.kwp.upgradeStatusSupported ? PollUpgradeStatus() : kResultOk;
}

int32_t CSKwp2000::WaitLoaderRestart() {
    platform::IClock& clock = platform::Clock();
    std::string response;
    auto answers = [&] {
        const uint32_t sent = clock.TickMs();
        const int32_t result = DataTransfer("3E", response, true, true);
        return result == kResultOk && platform::ElapsedMs(sent, clock.TickMs()) <= kSlowAnswerMs;
    };
    if (!PauseMs(kRestartPauseMs)) return kResultTimeout;
    Reconnect();
    RaiseProgress(1, 10, "Upgrade status Restart ECU Please wait a little..");
    for (uint32_t step = 0; step < kLoaderRestartSteps; ++step) {
        if (!PauseMs(kLoaderRestartStepMs)) return kResultTimeout;
    }
    Reconnect();
    bool ok = answers();
    if (!ok) {
        if (!PauseMs(kRestartPauseMs)) return kResultTimeout;
        Reconnect();
        ok = answers();
    }
    if (IsCancelled()) return kResultTimeout;
    RaiseProgress(1, 100, ok ? "Upgrade status OK" : "Upgrade status failed");
    return ok ? kResultOk : kResultCommunication;
}

int32_t CSKwp2000::PollUpgradeStatus() {
    platform::IClock& clock = platform::Clock();
    RaiseProgress(1, 5, "Upgrade status wait");
    if (!PauseMs(kRestartPauseMs)) return kResultTimeout;
    RaiseProgress(1, 10, "Upgrade status started");
    const uint32_t started = clock.TickMs();
    int32_t failures = 0;
    int32_t percent = 0;
    bool answered = false;
    std::string response;
    while (platform::ElapsedMs(started, clock.TickMs()) < kUpgradeStatusTotalMs) {
        if (!PauseMs(kPollPauseMs)) return kResultTimeout;
        const uint32_t sent = clock.TickMs();
        const int32_t result = DataTransfer("21 03", response, true, true);
        if (result == kResultTimeout) return result;
        const std::vector<uint8_t> answer = KwpBytes(response);
        if (result != kResultOk || answer.size() < kStatusAnswerLength ||
            platform::ElapsedMs(sent, clock.TickMs()) > kSlowAnswerMs) {
            if (++failures > kMaxPollFailures) break;
            if (!PauseMs(kRestartPauseMs)) return kResultTimeout;
            Reconnect();
            continue;
        }
        answered = true;
        const uint8_t state = answer[2];
        if (answer[3] <= kMaxPercent) percent = answer[3];
        const auto shown = static_cast<int16_t>(percent);
        RaiseProgress(1, shown, FormatText("Upgrade status: %d %d %%", state, percent));
        if (state == kIdle) {
            RaiseProgress(1, shown, "Upgrade status: Idle");
        } else if (state == kBusy) {
            RaiseProgress(1, shown, FormatText("Upgrade status Busy: %d %%", percent));
        } else if (state == kOk) {
            while (platform::ElapsedMs(started, clock.TickMs()) < kFinishWaitMs) {
                RaiseProgress(1, shown, "Upgrade status Please wait a little..");
                if (!PauseMs(kFinishStepMs)) return kResultTimeout;
            }
            RaiseProgress(1, 100, FormatText("Upgrade status: Ok %d %%", percent));
            return kResultOk;
        } else if (state == kFailed) {
            RaiseProgress(1, 100, FormatText("Upgrade status: failed %d %%", percent));
            return kUpgradeFailed;
        }
    }
    RaiseProgress(1, 100, "Upgrade status failed");
    // Silent: the line failed; answering but never done: the upgrade did not complete.
    return answered ? kUpgradeFailed : kResultCommunication;
}

}  // namespace diagbridge
