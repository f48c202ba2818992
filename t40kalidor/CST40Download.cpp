// Software (boot loader) and data-set downloads of the T40 communication object.
#include <algorithm>

#include "ecu/KwpUploadValues.h"
#include "engine/CConvert.h"
#include "engine/HexRange.h"
#include "engine/ParameterString.h"
#include "t40kalidor/CST40.h"
#include "t40kalidor/T40Ident.h"

namespace diagbridge {

namespace {
constexpr int32_t kTypeSoftware = 2;
constexpr int32_t kTypeDataSet = 3;
constexpr int32_t kTypeDetect = 4;
constexpr int32_t kKindDataSet = 5;
constexpr int32_t kKindDataSetFull = 6;
constexpr int32_t kKindNone = -1;
constexpr uint32_t kSoftwareMinStart = 0x8000;
constexpr uint32_t kExcludedStart = 0x18000;
constexpr uint32_t kSoftwareMinEnd = 0x28000;
constexpr uint32_t kSoftwareEndLimit = 0x62000;
constexpr const char* kDataSetLengthRecord = ":1000B000";
constexpr const char* kDataSetEndRecord = ":10180000";
constexpr const char* kDataSetStartRecord = ":1000A000";
constexpr const char* kDataSetStartReplacement = ":0A00A600";
constexpr std::size_t kRecordHeaderChars = 9;
constexpr std::size_t kDroppedDataChars = 12;
constexpr std::size_t kPartNumberChars = 8;
constexpr uint8_t kRecordData = 0x00;
constexpr uint8_t kRecordSegment = 0x02;
constexpr uint8_t kRecordLinear = 0x04;
constexpr uint8_t kDataSetAddressShift = 0x20;
// Largest record that fits a request: command, length, bank/memory and address before it.
constexpr std::size_t kMaxRecordData = 248;
constexpr int kMaxFlashModeFailures = 6;
constexpr int kMaxFlashModeAttempts = 12;
constexpr int kMaxEntryFailures = 5;
// Erase in progress is waited for at most this many times (60 s) per entry.
constexpr int kMaxEraseWaits = 120;
constexpr uint32_t kEraseWaitMs = 500;
constexpr uint32_t kEntryPauseMs = 10;
constexpr uint32_t kFailurePauseMs = 100;
constexpr uint32_t kSkyLinkFlashWaitMs = 5000;
constexpr uint32_t kResetWaitMs = 2000;
constexpr uint32_t kChecksumWaitMs = 1000;
constexpr int kMaxChecksumRequests = 10;
constexpr const char* kFlashIdentRequest = "40";
constexpr const char* kResetRequest = "46";
constexpr const char* kChecksumRequest = "1B 1D";

std::vector<std::string> Lines(const std::string& hexText) {
    return SplitParameterTokens(hexText);
}

std::string LeftTrimmed(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : line.substr(first);
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The bytes of an Intel-HEX record line (":" and leading blanks dropped), its length and
// checksum checked; empty when it is not a well-formed record.
std::vector<uint8_t> RecordBytes(const std::string& line, bool checkSum) {
    std::string text = LeftTrimmed(line);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
    if (text.empty() || text[0] != ':' || text.size() % 2 != 1) return {};
    std::string spaced;
    for (std::size_t i = 1; i < text.size(); i += 2) spaced += text.substr(i, 2) + " ";
    std::vector<uint8_t> bytes = T40Bytes(spaced);
    if (bytes.size() < 5 || bytes.size() != bytes[0] + 5u) return {};
    if (!checkSum) return bytes;
    uint8_t sum = 0;
    for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
    return sum == 0 ? bytes : std::vector<uint8_t>();
}

std::string Request(uint8_t command, uint8_t length, std::initializer_list<uint8_t> head,
                    const std::vector<uint8_t>& record) {
    std::vector<uint8_t> bytes = {command, length};
    bytes.insert(bytes.end(), head);
    bytes.insert(bytes.end(), record.begin() + 4, record.end() - 1);
    return BytesToHexString(bytes.data(), bytes.size());
}

bool DataSetNameFits(const std::string& name) {
    const std::size_t first = name.find('.');
    if (first != 2) return false;
    const std::string rest = name.substr(first + 1);
    const std::size_t second = rest.find('.');
    return second == 4 && rest.size() > second + 1;
}
}  // namespace

int32_t CST40::DetectDownloadKind(const std::string& hexText, uint32_t dataSetLength) {
    const std::vector<std::string> lines = Lines(hexText);
    if (lines.empty()) return kKindNone;
    if (lines[0].find('.') == std::string::npos) {
        HexRange range;
        if (diagbridge::DetectHexRange(hexText, range) == 0) return kKindNone;
        const bool fits = range.start >= kSoftwareMinStart && range.start != kExcludedStart &&
                          range.end >= kSoftwareMinEnd && range.end < kSoftwareEndLimit;
        return fits ? kTypeSoftware : kKindNone;
    }
    if (!DataSetNameFits(lines[0])) return kKindNone;
    bool noted = false;
    for (const std::string& raw : lines) {
        const std::string line = LeftTrimmed(raw);
        if (StartsWith(line, kDataSetLengthRecord)) {
            const std::vector<uint8_t> record = RecordBytes(line, false);
            if (record.size() < 6) return kKindNone;
            const uint32_t length = record[4] | (static_cast<uint32_t>(record[5]) << 8);
            if (length < dataSetLength) return kKindNone;
            noted = true;
        } else if (noted && StartsWith(line, kDataSetEndRecord)) {
            return kKindDataSetFull;
        }
    }
    return noted ? kKindDataSet : kKindNone;
}

bool CST40::PrepareSoftwareData(const std::string& hexText) {
    downloadList_.clear();
    uint32_t base = 0;
    for (const std::string& line : Lines(hexText)) {
        const std::vector<uint8_t> record = RecordBytes(line, true);
        if (record.empty() || record[0] > kMaxRecordData) {
            downloadList_.clear();
            return false;
        }
        const uint32_t value = (static_cast<uint32_t>(record.size() > 5 ? record[4] : 0) << 8) |
                               (record.size() > 6 ? record[5] : 0);
        if (record[3] == kRecordSegment) base = value << 4;
        if (record[3] == kRecordLinear) base = value << 16;
        if (record[3] != kRecordData) continue;
        const uint32_t address = base + ((static_cast<uint32_t>(record[1]) << 8) | record[2]);
        downloadList_.push_back(
            Request(0x5A, record[0],
                    {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                     static_cast<uint8_t>(address)},
                    record));
    }
    return !downloadList_.empty();
}

bool CST40::PrepareDataSetData(const std::string& hexText) {
    downloadList_.clear();
    partNumber_.clear();
    const std::vector<std::string> lines = Lines(hexText);
    if (lines.empty()) return false;
    std::string name = lines[0];
    name.erase(std::remove(name.begin(), name.end(), '.'), name.end());
    if (name.size() < kPartNumberChars) return false;
    for (std::size_t i = 0; i < kPartNumberChars; ++i) {
        partNumber_ += FormatText(i == 0 ? "%X" : " %X", static_cast<uint8_t>(name[i]));
    }
    bool started = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string line = LeftTrimmed(lines[i]);
        if (!started) {
            const std::size_t at = line.find(kDataSetStartRecord);
            if (at == std::string::npos) continue;
            if (RecordBytes(line, true).empty() ||
                line.size() < at + kRecordHeaderChars + kDroppedDataChars) {
                return false;
            }
            line.replace(at, kRecordHeaderChars, kDataSetStartReplacement);
            line.erase(at + kRecordHeaderChars, kDroppedDataChars);
            started = true;
        } else if (StartsWith(line, kDataSetEndRecord)) {
            break;
        } else if (RecordBytes(line, true).empty()) {
            downloadList_.clear();
            return false;
        }
        const std::vector<uint8_t> record = RecordBytes(line, false);
        if (record.empty() || record[0] > kMaxRecordData) {
            downloadList_.clear();
            return false;
        }
        if (record[3] != kRecordData) continue;
        const uint32_t address =
            ((static_cast<uint32_t>(record[1]) + kDataSetAddressShift) << 8) + record[2];
        downloadList_.push_back(Request(
            0x1A, record[0],
            {0x04, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)}, record));
    }
    return started && !downloadList_.empty();
}

int32_t CST40::SetFlashMode() {
    CHT40& hardware = *Hardware();
    hardware.HALSendFlashCode();
    RaiseProgress(-1, 0, "ServiceDownload: Turn ignition or T40 off and on!!");
    if (hardware.CurrentIndex() == CHT40::kSkyLinkSlot) PauseMs(kSkyLinkFlashWaitMs);
    ecuType_ = hardware.HardwareType();
    const int32_t result = hardware.HALEnterFlashMode();
    RaiseProgress(1, 50,
                  result < 0 ? "ServiceDownload: Set Flashmode failed"
                             : "ServiceDownload: Flashmode active!!!");
    return result;
}

int32_t CST40::SendDownloadList() {
    const std::size_t count = downloadList_.size();
    int failures = 0;
    int lastPercent = -1;
    for (std::size_t i = 1; i <= count; ++i) {
        int eraseWaits = 0;
        for (;;) {
            if (IsCancelled()) return kResultTimeout;
            std::string response;
            const int32_t result = DataTransfer(downloadList_[i - 1], response, true, true);
            if (result == kEraseInProgress && eraseWaits < kMaxEraseWaits) {
                ++eraseWaits;
                RaiseProgress(2, 15, "ServiceDownload: Erase Flash activ");
                PauseMs(kEraseWaitMs);
                continue;
            }
            if (result == kResultOk) {
                failures = 0;
                PauseMs(kEntryPauseMs);
                const int percent = static_cast<int>(100 * i / count);
                if (percent > lastPercent) {
                    lastPercent = percent;
                    downloadProgress_ = static_cast<int16_t>(10 + 80 * i / count);
                    RaiseProgress(2, downloadProgress_,
                                  FormatText("ServiceDownload: Data transfer %d %%", percent));
                }
                break;
            }
            RaiseProgress(2, downloadProgress_, "ServiceDownload: NRC detect");
            if (++failures >= kMaxEntryFailures) {
                RaiseProgress(2, downloadProgress_,
                              FormatText("ServiceDownload: Finished with error. Line: %d",
                                         static_cast<int>(i)));
                return kResultFailure;
            }
            PauseMs(kFailurePauseMs);
        }
    }
    return kResultOk;
}

int32_t CST40::SetDownloadBaudrate() {
    const int32_t baud = parameters_.iso9141.downloadBaudrate;
    RaiseProgress(2, 10, FormatText("ServiceDownload: Set Baudrate: %d Baud", baud));
    const char* request = nullptr;
    if (baud == 19200) request = "41 00 4B 00 00";
    if (baud == 38400) request = "41 00 96 00 00";
    if (request == nullptr) {
        RaiseProgress(2, 10,
                      baud == 9600
                          ? "ServiceDownload: Baudrate 9600 Baud ok"
                          : "ServiceDownload: Unkown Baudrate detected: use Default 9600 Baud");
        return kResultOk;
    }
    std::string response;
    const int32_t result = DataTransfer(request, response, true, true);
    if (result < 0) {
        RaiseProgress(2, 10, FormatText("ServiceDownload: Set Baudrate: %d Baud failed", baud));
        return result;
    }
    Hardware()->HALSetBaudRate(baud);
    RaiseProgress(2, 10, FormatText("ServiceDownload: Set Baudrate %d Baud ok", baud));
    return kResultOk;
}

int32_t CST40::DownloadSoftware() {
    RaiseProgress(2, 0, "ServiceDownload: Start SW Download");
    RaiseProgress(2, 5, "ServiceDownload: Read Flash Ident");
    std::string response;
    if (DataTransfer(kFlashIdentRequest, response, true, true) != kResultOk &&
        DataTransfer(kFlashIdentRequest, response, true, true) != kResultOk) {
        RaiseProgress(2, 5, "ServiceDownload: Read Flash Ident failed");
        return kResultFailure;
    }
    int32_t result = SetDownloadBaudrate();
    if (result < 0) return result;
    result = SendDownloadList();
    if (result < 0) return result;
    RaiseProgress(3, 90, "ServiceDownload: ECU reset");
    DataTransfer(kResetRequest, response, false, false);
    PauseMs(kResetWaitMs);
    RaiseProgress(3, 100, "ServiceDownload: finished");
    return kResultOk;
}

int32_t CST40::CompareChecksum() {
    std::string response;
    int32_t result = kBusy;
    for (int i = 0; i < kMaxChecksumRequests && result == kBusy; ++i) {
        result = DataTransfer(kChecksumRequest, response, true, true);
        PauseMs(kChecksumWaitMs);
    }
    if (result != kResultOk) {
        RaiseProgress(3, 99, "ServiceDownload: Compare Checksum failed");
        return kChecksumRequestFailed;
    }
    std::vector<uint8_t> bytes = T40Bytes(response);
    bytes.resize(std::max<std::size_t>(bytes.size(), 5), 0);
    const std::string shown =
        FormatText("[ %02X %02X -> %02X %02X ]", bytes[1], bytes[2], bytes[3], bytes[4]);
    if (bytes[1] == bytes[3] && bytes[2] == bytes[4]) {
        RaiseProgress(3, 99, "ServiceDownload: Compare Checksum  " + shown + " : OK");
        return kResultOk;
    }
    RaiseProgress(
        3, 99, "ServiceDownload: Compare Checksum failed " + shown + " : Wrong Checksum detected");
    return kChecksumMismatch;
}

int32_t CST40::DownloadDataSet() {
    RaiseProgress(2, 0, "ServiceDownload: Start DS Download");
    int32_t result = SendDownloadList();
    if (result == kResultOk && !partNumber_.empty()) {
        const std::string request =
            FormatText(ecuType_ == "T40H4" ? "1A 09 03 37 F7 %s BB" : "1A 09 04 37 F7 %s BB",
                       partNumber_.c_str());
        std::string response;
        DataTransfer(request, response, true, true);
        RaiseProgress(2, 98,
                      FormatText("ServiceDownload: Write PartNumber %s: at %s :%s",
                                 partNumber_.c_str(), request.c_str(), response.c_str()));
    }
    if (result == kResultOk) result = CompareChecksum();
    RaiseProgress(
        3, 100,
        result < 0 ? "ServiceDownload: finished with Errors" : "ServiceDownload: finished OK");
    return result;
}

int32_t CST40::ServiceDownload(ServiceOrder order) {
    RaiseProgress(0, 0, "ServiceDownload: Start");
    if (HardwareInterface() == nullptr) return kResultFailure;
    if (Hardware()->CurrentIndex() == CHT40::kSkyLinkSlot && ecuType_ == "T40H4") {
        return kResultNotPermitted;
    }
    int32_t type = order.downloadType;
    if (type == kTypeDetect) type = DetectDownloadKind(order.hexText, dataSetLength_);
    // The whole text is read before anything is sent to the controller.
    const bool prepared = (type == kTypeSoftware && PrepareSoftwareData(order.hexText)) ||
                          (type == kTypeDataSet && PrepareDataSetData(order.hexText));
    if ((type == kTypeSoftware || type == kTypeDataSet) && !prepared) {
        RaiseProgress(5, 100, "ServiceDownload: Hex data invalid");
        return kResultHexMalformed;
    }
    RaiseProgress(1, 0, "ServiceDownload: Init Download");
    ReadSerialData();
    int32_t result = kResultFailure;
    if (type == kTypeSoftware) {
        RaiseProgress(1, 0, "ServiceDownload: Load SW Data ECU-Type: " + ecuType_);
        RaiseProgress(1, 0, "ServiceDownload: SetFlashMode ECU-Type: " + ecuType_);
        int failures = 0;
        for (int attempt = 0; attempt < kMaxFlashModeAttempts; ++attempt) {
            const int32_t flash = SetFlashMode();
            if (flash == 0 || (flash < 0 && ++failures >= kMaxFlashModeFailures)) break;
        }
        result = DownloadSoftware();
    } else if (type == kTypeDataSet) {
        RaiseProgress(1, 0, "ServiceDownload: Load DS Data ECU-Type: " + ecuType_);
        RaiseProgress(1, 0, "ServiceDownload: Login ECU-Type: " + ecuType_);
        Login();
        result = DownloadDataSet();
    }
    RestartCommunication();
    RaiseProgress(5, 100, "ServiceDownload: Start");
    return result;
}

}  // namespace diagbridge
