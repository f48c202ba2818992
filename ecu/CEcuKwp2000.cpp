#include "ecu/CEcuKwp2000.h"

#include <algorithm>
#include <cctype>

#include "engine/CConvert.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"

namespace diagbridge {
namespace {

constexpr int32_t kRejected = kResultBadParameter;
constexpr uint32_t kMaxAddress = 0xFF;
constexpr uint32_t kMaxAreaValue = 0xFFFFFF;  // 24-bit memory addresses and sizes
constexpr int16_t kAccessProgress = 60;       // the security-access step of the access
constexpr uint8_t kSecurityAccess = 0x27;

// Timing shared by every KWP2000 model (ms).
constexpr int32_t kP2Min = 5;
constexpr int32_t kP2Max = 50;
constexpr int32_t kP3Min = 0;
constexpr int32_t kP3Max = 5000;
constexpr int32_t kP4Min = 0;
constexpr int32_t kSingleRequestTimeoutMs = 500;
constexpr int32_t kUploadTimeoutMs = 120000;
constexpr int32_t kDownloadTimeoutMs = 600000;
constexpr int32_t kJobTimeoutMs = 14;

int32_t Accept(bool ok) {
    return ok ? 0 : kRejected;
}

}  // namespace

CEcuKwp2000::CEcuKwp2000(CSoftwareInterface* communicationObject, const std::string& keyword,
                         const std::string& objectType, const Layout& layout)
    : CEcu(communicationObject), keyword_(keyword), layout_(layout) {
    SetCreated(true);
    InitIdent(objectType, kProtocolKeyword);
    uploadData_.header = {kUploadHeading, kFormatVersion, kFormatType, UserMailAddress()};
}

void CEcuKwp2000::AcceptParameterString(const std::string& parameter) {
    if (ParseParameterString(parameter) < 0) SetCreated(false);
}

// ---------------------------------------------------------------- parameters

int32_t CEcuKwp2000::SetParameter(const std::string& key, const std::string& value) {
    const std::string text = StripBlanks(value);
    if (key == "ECU_TESTER") return AddAddressPair(text);
    if (key == "ECU" || key == "TESTER") return SetAddressInUse(key, text);
    if (key == "P2MIN" || key == "P2MAX" || key == "P3MIN" || key == "P3MAX" || key == "P4MIN") {
        return SetTiming(key, text);
    }
    if (key.rfind("TIMEOUT_", 0) == 0) return SetTimeout(key, text);
    if (key == "FRAMADR" || key == "FRAMSIZE") return SetFram(key, text);
    if (key == "UPLOADSID") return SetSidRequests(text);
    return Accept(SetServicePermission(key, text));
}

// "ecu,tester"; a missing or empty part takes the family's default address.
int32_t CEcuKwp2000::AddAddressPair(const std::string& value) {
    if (pairsGiven_ >= static_cast<int32_t>(KwpParameterBlock::kAddressTableSize)) {
        return kRejected;
    }
    const std::size_t comma = value.find(',');
    const std::string ecuText = value.substr(0, comma);
    const std::string testerText = comma == std::string::npos ? "" : value.substr(comma + 1);
    uint32_t ecu = layout_.defaultEcuAddress;
    uint32_t tester = layout_.defaultTesterAddress;
    if (!ecuText.empty() && !ReadNumber(ecuText, ecu)) return kRejected;
    if (!testerText.empty() && !ReadNumber(testerText, tester)) return kRejected;
    if (ecu > kMaxAddress || tester > kMaxAddress) return kRejected;
    KwpAddressEntry& entry = Kwp().addressTable[static_cast<std::size_t>(pairsGiven_)];
    entry = KwpAddressEntry{};
    entry.ecuAddress = static_cast<uint8_t>(ecu);
    entry.testerAddress = static_cast<uint8_t>(tester);
    if (pairsGiven_ == 0) {
        Kwp().ecuAddress = entry.ecuAddress;
        Kwp().testerAddress = entry.testerAddress;
    }
    Kwp().addressCount = ++pairsGiven_;
    return 0;
}

// ECU and TESTER, as the parameter string reports them: the pair in use and the first entry.
int32_t CEcuKwp2000::SetAddressInUse(const std::string& key, const std::string& value) {
    uint32_t address = 0;
    if (!ReadNumber(value, address) || address > kMaxAddress) return kRejected;
    const auto byte = static_cast<uint8_t>(address);
    if (key == "ECU") {
        Kwp().ecuAddress = byte;
        Kwp().addressTable[0].ecuAddress = byte;
    } else {
        Kwp().testerAddress = byte;
        Kwp().addressTable[0].testerAddress = byte;
    }
    return 0;
}

int32_t CEcuKwp2000::SetTiming(const std::string& key, const std::string& value) {
    const int32_t ms = ReadDecimal(value);
    if (ms < 0) return kRejected;
    if (key == "P2MIN") Kwp().p2Min = ms;
    if (key == "P2MAX") Kwp().p2Max = ms;
    if (key == "P3MIN") Kwp().p3Min = ms;
    if (key == "P3MAX") Kwp().p3Max = ms;
    if (key == "P4MIN") Kwp().p4Min = ms;
    return 0;
}

// A time-out of 0 or less would fail every order of its command at once.
int32_t CEcuKwp2000::SetTimeout(const std::string& key, const std::string& value) {
    ServiceTimeouts& timeouts = Kwp().timeouts;
    int32_t* target = nullptr;
    if (key == "TIMEOUT_SERVICESINGLEREQUEST") target = &timeouts.singleRequest;
    if (key == "TIMEOUT_SERVICEUPLOAD") target = &timeouts.upload;
    if (key == "TIMEOUT_SERVICEDOWNLOAD") target = &timeouts.download;
    if (key == "TIMEOUT_SERVICEJOB") target = &timeouts.job;
    if (target == nullptr) return kRejected;
    const int32_t ms = ReadDecimal(value);
    if (ms <= 0) return kRejected;
    *target = ms;
    return 0;
}

int32_t CEcuKwp2000::SetFram(const std::string& key, const std::string& value) {
    uint32_t number = 0;
    const bool read = layout_.framAlwaysHex ? ReadHex(value, number) : ReadNumber(value, number);
    if (!read || number > kMaxAreaValue) return kRejected;
    const bool address = key == "FRAMADR";
    (address ? Kwp().framAddress : Kwp().framSize) = number;
    if (layout_.framSetsUploadArea) (address ? Kwp().uploadStart : Kwp().uploadLength) = number;
    return 0;
}

// Comma-separated requests with "_" for the blanks; each must be a hex byte string.
int32_t CEcuKwp2000::SetSidRequests(const std::string& value) {
    std::vector<std::string> requests;
    std::size_t pos = 0;
    while (pos <= value.size()) {
        std::size_t comma = value.find(',', pos);
        if (comma == std::string::npos) comma = value.size();
        std::string token = value.substr(pos, comma - pos);
        pos = comma + 1;
        if (token.empty()) continue;
        std::string request = token;
        std::replace(request.begin(), request.end(), '_', ' ');
        uint8_t bytes[ByteBuffer::kCapacity];
        std::size_t stored = 0;
        if (HexStringToBytes(request, bytes, sizeof(bytes), stored) <= 0) return kRejected;
        requests.push_back(token);
    }
    if (requests.size() > KwpParameterBlock::kMaxSidRequests) return kRejected;
    Kwp().sidRequests = std::move(requests);
    return 0;
}

void CEcuKwp2000::FillAddressTable(uint8_t tester, uint8_t ecu, int32_t count) {
    for (KwpAddressEntry& entry : Kwp().addressTable) {
        entry = KwpAddressEntry{};
        entry.testerAddress = tester;
        entry.ecuAddress = ecu;
    }
    Kwp().ecuAddress = ecu;
    Kwp().testerAddress = tester;
    Kwp().addressCount = count;
    Kwp().foundEntry = 0;
    pairsGiven_ = 0;
}

void CEcuKwp2000::SetCommonTiming() {
    KwpParameterBlock& kwp = Kwp();
    kwp.p2Min = kP2Min;
    kwp.p2Max = kP2Max;
    kwp.p3Min = kP3Min;
    kwp.p3Max = kP3Max;
    kwp.p4Min = kP4Min;
    kwp.timeouts.singleRequest = kSingleRequestTimeoutMs;
    kwp.timeouts.upload = kUploadTimeoutMs;
    kwp.timeouts.download = kDownloadTimeoutMs;
    kwp.timeouts.job = kJobTimeoutMs;
}

std::string CEcuKwp2000::AddressParameters() const {
    return FormatText("ECU=0x%2Xh|", Kwp().ecuAddress) +
           FormatText("TESTER=0x%2Xh|", Kwp().testerAddress);
}

std::string CEcuKwp2000::TimingParameters() const {
    const KwpParameterBlock& kwp = Kwp();
    return FormatText("P2MIN=%d|", kwp.p2Min) + FormatText("P2MAX=%d|", kwp.p2Max) +
           FormatText("P3MIN=%d|", kwp.p3Min) + FormatText("P3MAX=%d|", kwp.p3Max) +
           FormatText("P4MIN=%d|", kwp.p4Min);
}

std::string CEcuKwp2000::ServiceParameters() const {
    return FormatText("SERVICEUPLOAD=%d|", uploadAllowed_ ? 1 : 0) +
           FormatText("SERVICEDOWNLOAD=%d|", downloadAllowed_ ? 1 : 0) +
           FormatText("SERVICEJOB=%d", jobAllowed_ ? 1 : 0);
}

// ---------------------------------------------------------------- connect and access

int32_t CEcuKwp2000::Connect() {
    return ConnectThroughCommunicationObject();
}

bool CEcuKwp2000::MatchObjectType(const std::string& objectType) {
    return !exactObjectType_ || objectType == Ident(kIdentObjectType);
}

ServiceOrder CEcuKwp2000::AccessOrder() const {
    const CSoftwareInterface* communication = CommunicationObject();
    return communication != nullptr ? communication->CurrentOrder() : ServiceOrder{};
}

void CEcuKwp2000::AccessProgress(const std::string& text) {
    if (CSoftwareInterface* communication = CommunicationObject()) {
        communication->RaiseProgress(0, kAccessProgress, text);
    }
}

std::string CEcuKwp2000::SecurityRequest(uint8_t subFunction) {
    return FormatText("%02X %02X", kSecurityAccess, subFunction);
}

std::string CEcuKwp2000::SecurityRequest(uint8_t subFunction, uint16_t key) {
    return FormatText("%02X %02X %02X %02X", kSecurityAccess, subFunction, key >> 8, key & 0xFF);
}

std::string CEcuKwp2000::GetSeedRequest() {
    const ServiceOrder order = AccessOrder();
    return SeedRequestFor(order.oemId, order.diagnosticMode);
}

std::string CEcuKwp2000::GetKeyRequest(int32_t diagnosticMode, int32_t seed) {
    return KeyRequestFor(AccessOrder().oemId, diagnosticMode, seed);
}

// ---------------------------------------------------------------- upload text

std::string CEcuKwp2000::BuildUploadHeader() {
    const std::vector<std::string>& header = uploadData_.header;
    auto field = [&header](std::size_t i) { return i < header.size() ? header[i] : std::string(); };
    auto quoted = [](const char* key, const std::string& value) {
        return std::string(key) + "=\"" + value + "\"|";
    };
    return field(0) + "|Version=" + field(1) + "|FormatType=" + field(2) + "|" +
           quoted("TheTime", upload_.DateText()) + quoted("TheUser", field(3)) +
           quoted("TheObject", Ident(kIdentObject)) + quoted("TheHardware", Ident(kIdentHardware)) +
           quoted("TheSoftware", Ident(kIdentSoftware)) +
           quoted("TheDataset", Ident(kIdentDataset));
}

std::string CEcuKwp2000::BuildDataBlockSection() {
    return KwpDataBlockSection(upload_.memoryMap);
}

std::string CEcuKwp2000::BuildMemorySection() {
    return KwpMemorySection(layout_.memoryHeading, upload_.memory);
}

std::string CEcuKwp2000::BuildIdentSection() {
    if (upload_.ident.empty()) return {};
    std::string text =
        std::string(layout_.identHeading) + "|Scaling=\"" + layout_.identScaling + "\"|";
    for (const KwpIdentValue& value : upload_.ident) {
        text += FormatText(value.valid ? "Ident%02X=" : "INVALID_Ident%02X=", value.option);
        text += "[\"" + IdentValueText(value) + "\"]|";
    }
    return text;
}

std::string CEcuKwp2000::BuildEventMemorySection() {
    std::string text = std::string(layout_.eventHeading) + "|";
    text += FormatText("EventAnz=%d|", static_cast<int>(upload_.events.size()));
    text += "Eventx=\"" + upload_.eventListText + "\"|";
    int number = 1;
    for (const ShortByteBuffer& event : upload_.events) {
        text += FormatText("Event%d=", number++) + "\"" +
                BytesToHexString(event.data, event.length) + "\"|";
    }
    return text;
}

std::string CEcuKwp2000::BuildSidSection() {
    return KwpSidSection(layout_.sidHeading, upload_.sidLines);
}

std::string CEcuKwp2000::BuildUploadText() {
    const std::string text = ComposeUploadText();
    SetUploadText(text);
    return text;
}

}  // namespace diagbridge
