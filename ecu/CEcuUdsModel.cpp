#include "ecu/CEcuUdsModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

#include "engine/CConvert.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"
#include "platform/SystemInfo.h"

namespace diagbridge {

namespace {

constexpr uint8_t kSecurityAccessAnswer = 0x67;
constexpr uint8_t kReadMemoryAnswer = 0x63;
constexpr uint8_t kFingerprintTag = 0x20;
constexpr int32_t kCenturyStart = 2000;
constexpr uint32_t kMaxHexRecordBytes = 0xFF;
constexpr uint32_t kHexSegmentSize = 0x10000;
constexpr uint8_t kHexDataRecord = 0x00;
constexpr uint8_t kHexExtendedLinearAddress = 0x04;
constexpr const char* kHexEndRecord = ":00000001FF|";
constexpr std::size_t kMaxSidRequests = 255;
constexpr int32_t kMaxKeepAliveMode = 2;
constexpr int32_t kMaxFillByte = 0xFF;
constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

std::string HexByte(uint32_t value) {
    char text[4];
    std::snprintf(text, sizeof(text), "%02X", static_cast<unsigned>(value & 0xFF));
    return text;
}

// Only digits, and the number within [low, high].
bool ReadDecimalInRange(const std::string& value, int32_t low, int32_t high, int32_t& number) {
    if (value.empty() || value.size() > 10) return false;
    for (char c : value) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    const int32_t read = ReadDecimal(value);
    if (read < low || read > high) return false;
    number = read;
    return true;
}

// Two decimal digits read as one byte ("%02i" of the value as hex digits).
uint8_t DecimalDigitsByte(int32_t value) {
    const int32_t clamped = ((value % 100) + 100) % 100;
    return static_cast<uint8_t>(((clamped / 10) << 4) | (clamped % 10));
}

void AppendHexRecord(std::string& text, uint8_t type, uint16_t address, const uint8_t* data,
                     std::size_t count) {
    uint32_t sum = static_cast<uint32_t>(count) + (address >> 8) + (address & 0xFF) + type;
    char head[16];
    std::snprintf(head, sizeof(head), ":%02X%04X%02X", static_cast<unsigned>(count),
                  static_cast<unsigned>(address), static_cast<unsigned>(type));
    text += head;
    for (std::size_t i = 0; i < count; ++i) {
        text += HexByte(data[i]);
        sum += data[i];
    }
    text += HexByte(0x100 - (sum & 0xFF));
    text += '|';
}

void AppendExtendedAddress(std::string& text, uint32_t upper) {
    const uint8_t data[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
    AppendHexRecord(text, kHexExtendedLinearAddress, 0, data, sizeof(data));
}

// Data records for count bytes at address; a new extended address record goes out whenever
// the upper 16 address bits change, so no record crosses a 64 KiB segment.
void AppendHexData(std::string& text, uint32_t address, const uint8_t* data, std::size_t count,
                   uint32_t& currentUpper) {
    while (count > 0) {
        const uint32_t upper = address >> 16;
        if (upper != currentUpper) {
            AppendExtendedAddress(text, upper);
            currentUpper = upper;
        }
        const std::size_t room = kHexSegmentSize - (address & 0xFFFF);
        const std::size_t n = std::min({count, room, std::size_t{kMaxHexRecordBytes}});
        AppendHexRecord(text, kHexDataRecord, static_cast<uint16_t>(address & 0xFFFF), data, n);
        address += static_cast<uint32_t>(n);
        data += n;
        count -= n;
    }
}

}  // namespace

CEcuUdsModel::CEcuUdsModel(CSoftwareInterface* communicationObject, const std::string& keyword,
                           const std::string& maker, UdsIdentifierStyle style)
    : CEcu(communicationObject), keyword_(keyword), configurationKeyword_(keyword), style_(style) {
    SetCreated(true);
    InitIdent(keyword, kProtocolKeyword);
    ident_[kIdentMaker] = maker;
    uploadData_.header = {kUploadHeading, kUploadFormatVersion, kUploadFormatType, ""};
    SetUser(platform::UserName());
}

void CEcuUdsModel::ApplyCreationString(const std::string& parameter) {
    if (ParseParameterString(parameter) < 0) SetCreated(false);
}

bool CEcuUdsModel::AddAccessStep(const AccessStep& step) {
    if (accessCount_ >= static_cast<int32_t>(kMaxAccessSteps)) return false;
    accessTable_[static_cast<std::size_t>(accessCount_++)] = step;
    return true;
}

void CEcuUdsModel::EnableAccessSteps(uint32_t mask) {
    for (int32_t i = 0; i < accessCount_; ++i) {
        accessTable_[static_cast<std::size_t>(i)].enabled = i < 32 && ((mask >> i) & 1u) != 0;
    }
}

void CEcuUdsModel::PrepareFingerprints(const CalendarDate& date) {
    UdsParameterBlock& uds = parameters_.uds;
    uds.fingerprint60 = "2E FE FF " + FingerprintRecord(date, user_, kLongFingerprint);
    uds.fingerprint25 = "2E FE FF " + FingerprintRecord(date, user_, kShortFingerprint);
}

// ---------------------------------------------------------------- parameters

int32_t CEcuUdsModel::ParseParameterString(const std::string& text) {
    return diagbridge::ParseParameterString(
        text, keyword_, [this](const std::string& key, const std::string& value) {
            return SetParameter(key, value);
        });
}

int32_t CEcuUdsModel::SetParameter(const std::string& key, const std::string& rawValue) {
    if (key.empty()) return kResultOk;
    const std::string value = StripBlanks(rawValue);
    UdsParameterBlock& uds = parameters_.uds;
    int32_t number = 0;
    if (key == "ECU_TESTER_PHYSICAL") return SetIdentifierPair(value);
    if (key == style_.functionalKey) return SetIdentifier(value, uds.functionalId);
    if (key == "REBOOT") {
        if (!ReadDecimalInRange(value, 0, kMaxInt, uds.reboot)) return kResultBadParameter;
    } else if (key == "USEFILLBYTE") {
        if (!ReadDecimalInRange(value, 0, kMaxInt, number)) return kResultBadParameter;
        uds.useFillByte = number != 0 ? 1 : 0;
    } else if (key == "FILLBYTE") {
        if (!ReadDecimalInRange(value, 0, kMaxFillByte, uds.fillByte)) return kResultBadParameter;
    } else if (key == "TESTERPRESENT") {
        if (!ReadDecimalInRange(value, 0, kMaxKeepAliveMode, uds.keepAliveMode)) {
            return kResultBadParameter;
        }
    } else if (key == "USER") {
        SetUser(value.empty() ? platform::UserName() : value);
    } else if (key == "SERVICEDOWNLOAD_COMPLETE_SEQUENCE") {
        uds.prePostProgramming = ReadSwitch(value);
    } else if (key == "UPLOADSID") {
        return SetSidRequests(value);
    } else if (key == "UPLOADDTC") {
        uint32_t mask = 0;
        if (!ReadHex(value, mask) || mask > 0xFF) return kResultBadParameter;
        uds.dtcStatusMask = static_cast<uint8_t>(mask);
    } else if (key.rfind("TIMEOUT_", 0) == 0) {
        return SetTimeout(key, value);
    } else {
        // The last candidates; -3 for any other key.
        return SetServicePermission(key, value) ? kResultOk : kResultBadParameter;
    }
    return kResultOk;
}

int32_t CEcuUdsModel::SetTimeout(const std::string& key, const std::string& value) {
    ServiceTimeouts& timeouts = parameters_.uds.timeouts;
    int32_t* target = nullptr;
    if (key == "TIMEOUT_SERVICESINGLEREQUEST") {
        target = &timeouts.singleRequest;
    } else if (key == "TIMEOUT_SERVICEUPLOAD") {
        target = &timeouts.upload;
    } else if (key == "TIMEOUT_SERVICEDOWNLOAD") {
        target = &timeouts.download;
    } else if (key == "TIMEOUT_SERVICEJOB") {
        target = &timeouts.job;
    }
    // A time-out of 0 would abandon every service before it starts.
    if (target == nullptr || !ReadDecimalInRange(value, 1, kMaxInt, *target)) {
        return kResultBadParameter;
    }
    return kResultOk;
}

int32_t CEcuUdsModel::SetIdentifierPair(const std::string& value) {
    const std::size_t comma = value.find(',');
    const std::string ecu = value.substr(0, comma);
    const std::string tester = comma == std::string::npos ? std::string() : value.substr(comma + 1);
    if (tester.find(',') != std::string::npos) return kResultBadParameter;
    uint32_t ecuId = EcuField();
    uint32_t testerId = TesterField();
    if (!ecu.empty() && SetIdentifier(ecu, ecuId) != kResultOk) return kResultBadParameter;
    if (!tester.empty() && SetIdentifier(tester, testerId) != kResultOk) {
        return kResultBadParameter;
    }
    EcuField() = ecuId;
    TesterField() = testerId;
    return kResultOk;
}

int32_t CEcuUdsModel::SetIdentifier(const std::string& value, uint32_t& identifier) {
    uint32_t number = 0;
    if (!ReadHex(value, number) || number > kMaxCanIdentifier) return kResultBadParameter;
    identifier = number;
    return kResultOk;
}

int32_t CEcuUdsModel::SetSidRequests(const std::string& value) {
    std::vector<std::string> requests;
    std::size_t pos = 0;
    while (pos <= value.size()) {
        std::size_t comma = value.find(',', pos);
        if (comma == std::string::npos) comma = value.size();
        std::string request = value.substr(pos, comma - pos);
        pos = comma + 1;
        if (request.empty()) continue;
        std::replace(request.begin(), request.end(), '_', ' ');
        ByteBuffer bytes;
        std::size_t stored = 0;
        if (HexStringToBytes(request, bytes.data, bytes.kCapacity, stored) <= 0) {
            return kResultBadParameter;
        }
        requests.push_back(BytesToHexString(bytes.data, stored));
    }
    if (requests.size() > kMaxSidRequests) return kResultBadParameter;
    parameters_.uds.sidRequests = std::move(requests);
    return kResultOk;
}

void CEcuUdsModel::SetUser(const std::string& user) {
    user_ = user;
    uploadData_.header.back() = user + "@" + kMailDomain;
}

uint32_t& CEcuUdsModel::EcuField() {
    return style_.ecuFieldIsRequest ? parameters_.uds.requestId : parameters_.uds.responseId;
}

uint32_t& CEcuUdsModel::TesterField() {
    return style_.ecuFieldIsRequest ? parameters_.uds.responseId : parameters_.uds.requestId;
}

std::string CEcuUdsModel::GetParameterString() {
    const UdsParameterBlock& uds = parameters_.uds;
    char text[512];
    std::snprintf(text, sizeof(text),
                  "%s|%s|ECU=0x%Xh|TESTER=0x%Xh|%s=0x%Xh|REBOOT=%d|USEFILLBYTE=%d|FILLBYTE=%d|"
                  "SERVICESINGLEREQUEST=%d|SERVICEUPLOAD=%d|SERVICEDOWNLOAD=%d|",
                  configurationKeyword_.c_str(), kProtocolKeyword,
                  static_cast<unsigned>(EcuField()), static_cast<unsigned>(TesterField()),
                  style_.functionalLabel, static_cast<unsigned>(uds.functionalId), uds.reboot,
                  uds.useFillByte, uds.fillByte, SingleRequestAllowed() ? 1 : 0,
                  UploadAllowed() ? 1 : 0, DownloadAllowed() ? 1 : 0);
    std::string result = text;
    if (style_.reportsJob) result += std::string("SERVICEJOB=") + (JobAllowed() ? "1" : "0");
    return result;
}

void CEcuUdsModel::SetAddressIdents(uint32_t requestId, uint32_t responseId) {
    if (style_.ecuFieldIsRequest) std::swap(requestId, responseId);
    CEcu::SetAddressIdents(requestId, responseId);
}

int32_t CEcuUdsModel::Connect() {
    return ConnectThroughCommunicationObject();
}

// ---------------------------------------------------------------- key routine

bool CEcuUdsModel::ReadSeedResponse(const std::string& response, ShortByteBuffer& bytes) {
    std::size_t stored = 0;
    const int32_t count = HexStringToBytes(response, bytes.data, bytes.kCapacity, stored);
    if (count < 4) return false;
    bytes.length = static_cast<uint16_t>(stored);
    return bytes.data[0] == kSecurityAccessAnswer;
}

std::string CEcuUdsModel::KeyRequest(const std::string& prefix, uint32_t key, int32_t bytes) {
    std::string request = prefix;
    for (int32_t i = bytes - 1; i >= 0; --i) {
        request += ' ';
        request += HexByte(key >> (8 * i));
    }
    return request;
}

std::string CEcuUdsModel::BuildAccessRequest(const AccessStep& step, const std::string& response) {
    ShortByteBuffer bytes;
    if (!ReadSeedResponse(response, bytes)) return {};
    const auto seed = static_cast<uint16_t>((bytes.data[2] << 8) | bytes.data[3]);
    return KeyRequest(step.keyRequestPrefix, Key16(seed, {step.keyMultiplier, step.keyAddend}), 2);
}

uint16_t CEcuUdsModel::Key16(uint16_t seed, KeyConstants constants) {
    const int64_t key = static_cast<int64_t>(seed) * constants.multiplier + constants.addend;
    return static_cast<uint16_t>(static_cast<uint64_t>(key) & 0xFFFF);
}

uint32_t CEcuUdsModel::Key32(uint32_t seed, KeyConstants constants) {
    const int64_t key = static_cast<int64_t>(seed) * constants.multiplier + constants.addend;
    return static_cast<uint32_t>(static_cast<uint64_t>(key) & 0xFFFFFFFF);
}

// ---------------------------------------------------------------- dates and fingerprints

CalendarDate CEcuUdsModel::Today() {
    const std::string iso = platform::TodayIsoDate();  // "%Y-%m-%d"
    CalendarDate date;
    if (iso.size() < 10) return date;
    date.year = ReadDecimal(iso.substr(0, 4));
    date.month = ReadDecimal(iso.substr(5, 2));
    date.day = ReadDecimal(iso.substr(8, 2));
    return date;
}

std::string CEcuUdsModel::DateBinary(const CalendarDate& date) {
    const int32_t year = std::clamp(date.year - kCenturyStart, 0, 0xFF);
    return HexByte(static_cast<uint32_t>(year)) + " " + HexByte(static_cast<uint32_t>(date.month)) +
           " " + HexByte(static_cast<uint32_t>(date.day));
}

std::string CEcuUdsModel::DateDecimal(const CalendarDate& date) {
    return HexByte(DecimalDigitsByte(date.year - kCenturyStart)) + " " +
           HexByte(DecimalDigitsByte(date.month)) + " " + HexByte(DecimalDigitsByte(date.day));
}

std::string CEcuUdsModel::FingerprintRecord(const CalendarDate& date, const std::string& user,
                                            std::size_t length) {
    std::vector<uint8_t> record = {kFingerprintTag, DecimalDigitsByte(date.year - kCenturyStart),
                                   DecimalDigitsByte(date.month), DecimalDigitsByte(date.day)};
    ShortByteBuffer serial;
    std::size_t stored = 0;
    HexStringToBytes(kTesterSerial, serial.data, serial.kCapacity, stored);
    record.insert(record.end(), serial.data, serial.data + stored);
    record.insert(record.end(), user.begin(), user.end());
    record.resize(std::max(length, std::size_t{4}), 0);
    return BytesToHexString(record.data(), record.size());
}

// ---------------------------------------------------------------- memory section

std::string CEcuUdsModel::IntelHexSection(const std::string& heading, uint32_t start,
                                          uint32_t recordLength,
                                          const std::vector<std::string>& memoryLines) {
    std::string text = heading + "|";
    uint32_t upper = start >> 16;
    AppendExtendedAddress(text, upper);
    uint32_t address = start;
    for (const std::string& line : memoryLines) {
        ShortByteBuffer bytes;
        std::size_t stored = 0;
        const int32_t count = HexStringToBytes(line, bytes.data, bytes.kCapacity, stored);
        if (count > 1 && bytes.data[0] == kReadMemoryAnswer) {
            const std::size_t data = std::min<std::size_t>(stored - 1, recordLength);
            AppendHexData(text, address, bytes.data + 1, data, upper);
        }
        address += recordLength;
    }
    return text + kHexEndRecord;
}

}  // namespace diagbridge
