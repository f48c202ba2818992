#include "sim/kline/KwpServiceResponder.h"

#include <algorithm>
#include <chrono>

#include "sim/kline/KwpNegativeCodes.h"

namespace diagbridge::sim {

namespace {

constexpr uint8_t kPositiveOffset = 0x40;
constexpr uint8_t kNegative = 0x7F;

constexpr uint8_t kStartSession = 0x10;
constexpr uint8_t kClearTroubleCodes = 0x14;
constexpr uint8_t kReadTroubleCodeStatus = 0x17;
constexpr uint8_t kReadTroubleCodes = 0x18;
constexpr uint8_t kReadIdent = 0x1A;
constexpr uint8_t kReadLocalData = 0x21;
constexpr uint8_t kReadMemory = 0x23;
constexpr uint8_t kSecurityAccess = 0x27;
constexpr uint8_t kRequestDownload = 0x34;
constexpr uint8_t kTransferData = 0x36;
constexpr uint8_t kTransferExit = 0x37;
constexpr uint8_t kWriteData = 0x3B;
constexpr uint8_t kTesterPresent = 0x3E;
constexpr uint8_t kTimingParameters = 0x83;

constexpr uint8_t kIdentObjectType = 0x8E;
constexpr uint8_t kIdentHardwareVersion = 0x93;
constexpr uint8_t kProgrammingDate = 0x8F;
constexpr size_t kDateBytes = 4;
constexpr uint8_t kUpgradeStatus = 0x03;

// Request lengths, service byte included.
constexpr size_t kServiceOnly = 1;
constexpr size_t kWithParameter = 2;    // the service and one identifier or mode
constexpr size_t kWithCode = 3;         // the service and a 16-bit trouble code or group
constexpr size_t kTroubleCodeRead = 4;  // 18, status, 16-bit group
constexpr size_t kMemoryRead = 5;       // 23, 24-bit address, count
constexpr size_t kDownloadRequest = 8;  // 34, 24-bit address, format, 24-bit size
constexpr size_t kParameterData = 2;    // where the data behind service and identifier start

// Baud rates of the session request by baud-rate id; id 6 carries the rate in 3 bytes.
constexpr std::array<uint32_t, 6> kBaudRates = {10400, 9600, 19200, 38400, 57600, 115200};
constexpr uint8_t kBaudRateGiven = 0x06;
constexpr size_t kSessionWithId = 3;    // 10, mode, baud-rate id
constexpr size_t kSessionWithRate = 6;  // 10, mode, 06, 24-bit baud rate
constexpr size_t kSessionRateAt = 3;

constexpr uint8_t kTimingReadLimits = 0x00;
constexpr uint8_t kTimingSetDefaults = 0x01;
constexpr uint8_t kTimingReadCurrent = 0x02;
constexpr uint8_t kTimingSet = 0x03;
// For each timing value: true when the code is a maximum, which must not exceed its limit.
constexpr std::array<bool, KwpServiceResponder::kTimingCount> kTimingIsMaximum = {
    false, true, false, true, false};

// The times of the timing codes (ISO 14230-3): P2min and P3min in steps of 0.5 ms; P2max in
// steps of 25 ms up to code F0, above it in steps of 256 x 25 ms.
constexpr std::chrono::microseconds kHalfMillisecond{500};
constexpr std::chrono::microseconds kP2MaxStep = std::chrono::milliseconds(25);
constexpr uint8_t kP2MaxFineCodes = 0xF0;
constexpr int kP2MaxCoarseFactor = 256;
constexpr size_t kP2MinCode = 0;
constexpr size_t kP2MaxCode = 1;
constexpr size_t kP3MinCode = 2;

constexpr uint8_t kTesterPresentAnswer = 0x01;
constexpr uint8_t kTesterPresentSilent = 0x02;

constexpr uint16_t kAllGroups = 0xFFFF;
// A download block may fill one frame: the service byte and 254 bytes.
constexpr uint8_t kMaxBlockLength = 0xFF;
constexpr size_t kMaxMemoryRead = 254;
// The upgrade after a download advances by this many percent per status request.
constexpr uint8_t kUpgradeStep = 25;
constexpr uint8_t kFullPercent = 100;

std::chrono::microseconds P2MaxTime(uint8_t code) {
    if (code <= kP2MaxFineCodes) return code * kP2MaxStep;
    return (code - kP2MaxFineCodes) * kP2MaxCoarseFactor * kP2MaxStep;
}

uint32_t Read24(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>((bytes[at] << 16) | (bytes[at + 1] << 8) | bytes[at + 2]);
}

void Append24(std::vector<uint8_t>& bytes, uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value >> 16));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

std::vector<uint8_t> Negative(uint8_t service, uint8_t code) {
    return {kNegative, service, code};
}

uint8_t Positive(uint8_t service) {
    return static_cast<uint8_t>(service + kPositiveOffset);
}

bool IsBcd(uint8_t byte) {
    return (byte >> 4) <= 9 && (byte & 0x0F) <= 9;
}

uint32_t FromBcd(uint8_t byte) {
    return (byte >> 4) * 10u + (byte & 0x0Fu);
}

// cc yy mm dd in decimal digits, with a month and a day that exist.
bool IsDate(const uint8_t* date) {
    if (!std::all_of(date, date + kDateBytes, IsBcd)) return false;
    const uint32_t month = FromBcd(date[2]);
    const uint32_t day = FromBcd(date[3]);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// The ident record of option in records (const or not), or null.
template <typename Records>
auto* FindRecord(Records& records, uint8_t option) {
    const auto found =
        std::find_if(records.begin(), records.end(),
                     [option](const KwpIdentRecord& r) { return r.option == option; });
    return found == records.end() ? nullptr : &*found;
}

// A recognisable, address-dependent filling of the memory before anything was written.
uint8_t InitialMemoryByte(uint32_t address) {
    return static_cast<uint8_t>(address * 7u + (address >> 8));
}

}  // namespace

const std::array<KwpServiceResponder::Service, 14> KwpServiceResponder::kServices = {{
    {kStartSession, &KwpServiceResponder::StartSession},
    {kReadIdent, &KwpServiceResponder::ReadIdent},
    {kWriteData, &KwpServiceResponder::WriteData},
    {kReadLocalData, &KwpServiceResponder::ReadLocalData},
    {kReadMemory, &KwpServiceResponder::ReadMemory},
    {kSecurityAccess, &KwpServiceResponder::SecurityAccess},
    {kTimingParameters, &KwpServiceResponder::TimingParameters},
    {kReadTroubleCodes, &KwpServiceResponder::ReadTroubleCodes},
    {kReadTroubleCodeStatus, &KwpServiceResponder::ReadTroubleCodeStatus},
    {kClearTroubleCodes, &KwpServiceResponder::ClearTroubleCodes},
    {kRequestDownload, &KwpServiceResponder::RequestDownload},
    {kTransferData, &KwpServiceResponder::TransferData},
    {kTransferExit, &KwpServiceResponder::TransferExit},
    {kTesterPresent, &KwpServiceResponder::TesterPresent},
}};

KwpServiceResponder::KwpServiceResponder(const KwpEcuModel& model,
                                         const KwpResponderOptions& options)
    : model_(model),
      options_(options),
      idents_(model.idents),
      troubleCodes_(model.troubleCodes),
      security_(model.securityLevels, options.firstSeed) {
    for (const KwpAddressRange& area : model_.memoryAreas) {
        Bytes contents(area.length);
        for (uint32_t i = 0; i < area.length; ++i) contents[i] = InitialMemoryByte(area.start + i);
        memory_.push_back(std::move(contents));
    }
    if (options_.objectType.empty()) return;
    const Bytes other(options_.objectType.begin(), options_.objectType.end());
    for (const uint8_t option : {kIdentObjectType, kIdentHardwareVersion}) {
        KwpIdentRecord* record = FindIdent(option);
        if (record != nullptr) record->value = other;
    }
}

bool KwpServiceResponder::Respond(const Bytes& request, Bytes& response) {
    std::vector<Bytes> responses;
    if (!RespondSeries(request, responses) || responses.empty()) return false;
    response = responses.back();
    return true;
}

bool KwpServiceResponder::RespondSeries(const Bytes& request, std::vector<Bytes>& responses) {
    responses.clear();
    if (request.empty()) return false;
    const uint8_t service = request[0];
    std::lock_guard lock(mutex_);
    const std::optional<KwpServiceFault> fault = TakeFault(service);
    if (fault) {
        switch (fault->kind) {
            case KwpServiceFault::Kind::kSilence:
                return false;
            case KwpServiceFault::Kind::kBusy:
                responses.push_back(Negative(service, kwpnrc::kBusyRepeatRequest));
                return true;
            case KwpServiceFault::Kind::kNegative:
                responses.push_back(Negative(service, fault->value));
                return true;
            case KwpServiceFault::Kind::kForeign:
                responses.push_back(fault->answer);
                return true;
            case KwpServiceFault::Kind::kPending:
                responses.insert(responses.end(), fault->value,
                                 Negative(service, kwpnrc::kResponsePending));
                break;
        }
    }
    Bytes response;
    if (Answer(request, response)) responses.push_back(std::move(response));
    return !responses.empty();
}

bool KwpServiceResponder::Answer(const Bytes& request, Bytes& response) {
    const uint8_t service = request[0];
    const auto found = std::find_if(kServices.begin(), kServices.end(),
                                    [service](const Service& s) { return s.id == service; });
    if (found == kServices.end()) {
        response = Negative(service, kwpnrc::kServiceNotSupported);
        return true;
    }
    (this->*(found->handler))(request, response);
    return !response.empty();
}

std::optional<KwpServiceFault> KwpServiceResponder::TakeFault(uint8_t service) {
    for (auto fault = faults_.begin(); fault != faults_.end(); ++fault) {
        if (fault->service != KwpServiceFault::kAnyService && fault->service != service) continue;
        const KwpServiceFault acting = *fault;
        if (fault->times != KwpServiceFault::kEveryRequest && --fault->times == 0) {
            faults_.erase(fault);
        }
        return acting;
    }
    return std::nullopt;
}

void KwpServiceResponder::CommunicationChanged(bool /*started*/) {
    std::lock_guard lock(mutex_);
    Reset();
}

void KwpServiceResponder::Reset() {
    session_ = kDefaultSession;
    baudRate_ = kDefaultBaudRate;
    security_.Lock();
    if (image_.Active()) image_.Abandon();
}

void KwpServiceResponder::InjectFaults(const std::vector<KwpServiceFault>& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

// ---------------------------------------------------------------- sessions and access

void KwpServiceResponder::StartSession(const Bytes& request, Bytes& response) {
    uint32_t baudRate = kDefaultBaudRate;
    if (request.size() == kSessionWithId && request[2] < kBaudRates.size()) {
        baudRate = kBaudRates[request[2]];
    } else if (request.size() == kSessionWithRate && request[2] == kBaudRateGiven) {
        baudRate = Read24(request, kSessionRateAt);
    } else if (request.size() != kWithParameter) {
        response = Negative(kStartSession, kwpnrc::kInvalidFormat);
        return;
    }
    const uint8_t mode = request[1];
    const bool known =
        std::find(model_.sessions.begin(), model_.sessions.end(), mode) != model_.sessions.end();
    if (!known || baudRate == 0) {
        response = Negative(kStartSession, kwpnrc::kInvalidFormat);
        return;
    }
    // A new session starts locked; the line may change its speed after this answer.
    security_.Lock();
    session_ = mode;
    baudRate_ = baudRate;
    response = {Positive(kStartSession), mode};
}

void KwpServiceResponder::SecurityAccess(const Bytes& request, Bytes& response) {
    security_.Handle(request.data(), request.size(), session_, response);
}

void KwpServiceResponder::TimingParameters(const Bytes& request, Bytes& response) {
    const uint8_t what = request.size() >= kWithParameter ? request[1] : 0xFF;
    const size_t length = what == kTimingSet ? kParameterData + kTimingCount : kWithParameter;
    if (request.size() != length || what > kTimingSet) {
        response = Negative(kTimingParameters, kwpnrc::kInvalidFormat);
        return;
    }
    response = {Positive(kTimingParameters), what};
    switch (what) {
        case kTimingReadLimits:
            response.insert(response.end(), kTimingLimits.begin(), kTimingLimits.end());
            break;
        case kTimingSetDefaults:
            timing_ = kTimingDefaults;
            break;
        case kTimingReadCurrent:
            response.insert(response.end(), timing_.begin(), timing_.end());
            break;
        default:
            SetTiming(request.data() + kParameterData, response);
            break;
    }
}

void KwpServiceResponder::SetTiming(const uint8_t* codes, Bytes& response) {
    for (size_t i = 0; i < kTimingCount; ++i) {
        const bool beyond =
            kTimingIsMaximum[i] ? codes[i] > kTimingLimits[i] : codes[i] < kTimingLimits[i];
        if (beyond) {
            response = Negative(kTimingParameters, kwpnrc::kOutOfRange);
            return;
        }
    }
    std::copy_n(codes, kTimingCount, timing_.begin());
}

void KwpServiceResponder::TesterPresent(const Bytes& request, Bytes& response) {
    const bool withMode = request.size() == kWithParameter;
    if (withMode && request[1] == kTesterPresentSilent) return;
    if (request.size() > kWithParameter || (withMode && request[1] != kTesterPresentAnswer)) {
        response = Negative(kTesterPresent, kwpnrc::kInvalidFormat);
        return;
    }
    response = {Positive(kTesterPresent)};
}

// ---------------------------------------------------------------- identification and data

KwpIdentRecord* KwpServiceResponder::FindIdent(uint8_t option) {
    return FindRecord(idents_, option);
}

void KwpServiceResponder::ReadIdent(const Bytes& request, Bytes& response) {
    if (request.size() != kWithParameter) {
        response = Negative(kReadIdent, kwpnrc::kInvalidFormat);
        return;
    }
    const KwpIdentRecord* record = FindIdent(request[1]);
    if (record == nullptr) {
        response = Negative(kReadIdent, kwpnrc::kOutOfRange);
        return;
    }
    response = {Positive(kReadIdent), record->option};
    response.insert(response.end(), record->value.begin(), record->value.end());
}

void KwpServiceResponder::WriteData(const Bytes& request, Bytes& response) {
    if (request.size() < kWithParameter) {
        response = Negative(kWriteData, kwpnrc::kInvalidFormat);
        return;
    }
    KwpIdentRecord* record = request[1] == kProgrammingDate ? FindIdent(kProgrammingDate) : nullptr;
    if (record == nullptr) {
        response = Negative(kWriteData, kwpnrc::kOutOfRange);
        return;
    }
    if (options_.writesNeedSecurity && security_.UnlockedLevel() == 0) {
        response = Negative(kWriteData, kwpnrc::kAccessDenied);
        return;
    }
    // The date and the record behind it: as long as the stored record.
    if (request.size() - kParameterData != record->value.size() ||
        record->value.size() < kDateBytes) {
        response = Negative(kWriteData, kwpnrc::kInvalidFormat);
        return;
    }
    if (!IsDate(request.data() + kParameterData)) {
        response = Negative(kWriteData, kwpnrc::kOutOfRange);
        return;
    }
    record->value.assign(request.begin() + kParameterData, request.end());
    response = {Positive(kWriteData), kProgrammingDate};
}

void KwpServiceResponder::ReadLocalData(const Bytes& request, Bytes& response) {
    if (request.size() != kWithParameter) {
        response = Negative(kReadLocalData, kwpnrc::kInvalidFormat);
        return;
    }
    const uint8_t identifier = request[1];
    for (const KwpAreaList& list : model_.areaLists) {
        if (list.identifier != identifier) continue;
        response = {Positive(kReadLocalData), identifier};
        for (const KwpAddressRange& area : list.areas) {
            Append24(response, area.start);
            Append24(response, area.length);
        }
        return;
    }
    if (identifier == kUpgradeStatus && model_.upgradeStatus) {
        AnswerUpgradeStatus(response);
        return;
    }
    response = Negative(kReadLocalData, kwpnrc::kOutOfRange);
}

void KwpServiceResponder::AnswerUpgradeStatus(Bytes& response) {
    response = {Positive(kReadLocalData), kUpgradeStatus, upgradeState_, upgradePercent_};
    if (upgradeState_ != kUpgradeBusy) return;
    upgradePercent_ =
        static_cast<uint8_t>(std::min<uint32_t>(upgradePercent_ + kUpgradeStep, kFullPercent));
    if (upgradePercent_ == kFullPercent)
        upgradeState_ = options_.upgradeFails ? kUpgradeFailed : kUpgradeOk;
}

void KwpServiceResponder::ReadMemory(const Bytes& request, Bytes& response) {
    if (request.size() != kMemoryRead || request[4] == 0 || request[4] > kMaxMemoryRead) {
        response = Negative(kReadMemory, kwpnrc::kInvalidFormat);
        return;
    }
    const uint32_t address = Read24(request, 1);
    const uint32_t count = request[4];
    for (size_t i = 0; i < model_.memoryAreas.size(); ++i) {
        const KwpAddressRange& area = model_.memoryAreas[i];
        if (!area.Contains(address, count)) continue;
        const auto from = memory_[i].begin() + static_cast<std::ptrdiff_t>(address - area.start);
        response = {Positive(kReadMemory)};
        response.insert(response.end(), from, from + static_cast<std::ptrdiff_t>(count));
        return;
    }
    response = Negative(kReadMemory, kwpnrc::kOutOfRange);
}

// ---------------------------------------------------------------- event memory

void KwpServiceResponder::ReadTroubleCodes(const Bytes& request, Bytes& response) {
    if (request.size() != kTroubleCodeRead) {
        response = Negative(kReadTroubleCodes, kwpnrc::kInvalidFormat);
        return;
    }
    const auto group = static_cast<uint16_t>((request[2] << 8) | request[3]);
    response = {Positive(kReadTroubleCodes), 0};
    for (const KwpTroubleCode& code : troubleCodes_) {
        if (group != kAllGroups && group != code.code) continue;
        response.push_back(static_cast<uint8_t>(code.code >> 8));
        response.push_back(static_cast<uint8_t>(code.code));
        response.push_back(code.status);
        ++response[1];
    }
}

void KwpServiceResponder::ReadTroubleCodeStatus(const Bytes& request, Bytes& response) {
    if (request.size() != kWithCode) {
        response = Negative(kReadTroubleCodeStatus, kwpnrc::kInvalidFormat);
        return;
    }
    const auto number = static_cast<uint16_t>((request[1] << 8) | request[2]);
    for (const KwpTroubleCode& code : troubleCodes_) {
        if (code.code != number) continue;
        response = {Positive(kReadTroubleCodeStatus), 1, request[1], request[2], code.status};
        response.insert(response.end(), code.environment.begin(), code.environment.end());
        return;
    }
    response = Negative(kReadTroubleCodeStatus, kwpnrc::kOutOfRange);
}

void KwpServiceResponder::ClearTroubleCodes(const Bytes& request, Bytes& response) {
    if (request.size() != kWithCode) {
        response = Negative(kClearTroubleCodes, kwpnrc::kInvalidFormat);
        return;
    }
    const auto group = static_cast<uint16_t>((request[1] << 8) | request[2]);
    std::erase_if(troubleCodes_, [group](const KwpTroubleCode& code) {
        return group == kAllGroups || group == code.code;
    });
    response = {Positive(kClearTroubleCodes), request[1], request[2]};
}

// ---------------------------------------------------------------- download

void KwpServiceResponder::RequestDownload(const Bytes& request, Bytes& response) {
    if (request.size() != kDownloadRequest) {
        response = Negative(kRequestDownload, kwpnrc::kInvalidFormat);
        return;
    }
    // Programming only outside the default session, as on the controllers.
    if (session_ == kDefaultSession) {
        response = Negative(kRequestDownload, kwpnrc::kNotInActiveSession);
        return;
    }
    if (options_.writesNeedSecurity && security_.UnlockedLevel() == 0) {
        response = Negative(kRequestDownload, kwpnrc::kAccessDenied);
        return;
    }
    const uint8_t code =
        image_.Begin(Read24(request, 1), request[4], Read24(request, 5), model_.downloadRegions);
    if (code != kwpnrc::kNone) {
        response = Negative(kRequestDownload, code);
        return;
    }
    upgradeState_ = kUpgradeIdle;
    upgradePercent_ = 0;
    response = {Positive(kRequestDownload), kMaxBlockLength};
}

void KwpServiceResponder::TransferData(const Bytes& request, Bytes& response) {
    const uint8_t code = image_.AddRecord(request.data() + 1, request.size() - 1);
    response =
        code == kwpnrc::kNone ? Bytes{Positive(kTransferData)} : Negative(kTransferData, code);
}

void KwpServiceResponder::TransferExit(const Bytes& request, Bytes& response) {
    const uint8_t code = request.size() == kServiceOnly ? image_.Finish() : kwpnrc::kInvalidFormat;
    if (code != kwpnrc::kNone) {
        response = Negative(kTransferExit, code);
        return;
    }
    ApplyImageToMemory();
    ++downloadsCompleted_;
    upgradeState_ = kUpgradeBusy;
    upgradePercent_ = 0;
    response = {Positive(kTransferExit)};
}

void KwpServiceResponder::ApplyImageToMemory() {
    for (const auto& [start, bytes] : image_.Runs()) {
        for (size_t i = 0; i < model_.memoryAreas.size(); ++i) {
            const KwpAddressRange& area = model_.memoryAreas[i];
            for (size_t j = 0; j < bytes.size(); ++j) {
                const auto address = static_cast<uint32_t>(start + j);
                if (area.Contains(address, 1)) memory_[i][address - area.start] = bytes[j];
            }
        }
    }
}

// ---------------------------------------------------------------- state for tests and tools

uint8_t KwpServiceResponder::Session() const {
    std::lock_guard lock(mutex_);
    return session_;
}

uint32_t KwpServiceResponder::BaudRate() const {
    std::lock_guard lock(mutex_);
    return baudRate_;
}

uint8_t KwpServiceResponder::UnlockedLevel() const {
    std::lock_guard lock(mutex_);
    return security_.UnlockedLevel();
}

uint16_t KwpServiceResponder::LastSeed() const {
    std::lock_guard lock(mutex_);
    return security_.LastSeed();
}

KwpServiceResponder::TimingCodes KwpServiceResponder::Timing() const {
    std::lock_guard lock(mutex_);
    return timing_;
}

std::vector<uint8_t> KwpServiceResponder::Ident(uint8_t option) const {
    std::lock_guard lock(mutex_);
    const KwpIdentRecord* record = FindRecord(idents_, option);
    return record == nullptr ? std::vector<uint8_t>{} : record->value;
}

KwpDownloadImage KwpServiceResponder::Image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

KlineTiming KwpServiceResponder::LineTiming() const {
    std::lock_guard lock(mutex_);
    KlineTiming timing;
    timing.baudRate = baudRate_;
    timing.p2Min = timing_[kP2MinCode] * kHalfMillisecond;
    timing.p2Max = P2MaxTime(timing_[kP2MaxCode]);
    timing.p3Min = timing_[kP3MinCode] * kHalfMillisecond;
    return timing;
}

uint32_t KwpServiceResponder::DownloadsCompleted() const {
    std::lock_guard lock(mutex_);
    return downloadsCompleted_;
}

}  // namespace diagbridge::sim
