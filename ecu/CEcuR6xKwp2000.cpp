#include "ecu/CEcuR6xKwp2000.h"

#include <array>
#include <cctype>

#include "ecu/KwpKeyRoutines.h"
#include "engine/ParameterString.h"

namespace diagbridge {
namespace {

constexpr uint8_t kEcuAddress = 0xEF;
constexpr uint8_t kTesterAddress = 0xFA;
// A missing part of ECU_TESTER takes the addresses of the KWP2000 models, as for the T6x.
constexpr uint8_t kMissingEcuPart = 0x18;
constexpr uint8_t kKeepTester = 0x00;  // below 0xF0: the access keeps the current tester
constexpr int32_t kMakerOem = 0;
constexpr uint8_t kMakerSeed = 0xFD;  // security-access sub-functions
constexpr uint8_t kMakerKey = 0xFE;

constexpr uint32_t kFramAddress = 0x400180;
constexpr uint32_t kFramSize = 0xFE80;
constexpr uint32_t kDataSetArea = 0x405E00;
constexpr uint32_t kUploadStart = 0x400180;
constexpr uint32_t kUploadLength = 0xFE80;
constexpr int32_t kUploadPiece = 640;  // read as a byte: pieces of 128 bytes

constexpr std::array<uint8_t, 2> kDateOptions = {0x8F, 0x99};
constexpr std::size_t kDateDigits = 8;
constexpr const char* kEmptyDate = "0000-00-00";

constexpr CEcuKwp2000::Layout kR6xLayout = {
    "[FRAM]", "[IdentMem]", "[EventMem]",    "[SID]",       "A",
    false,    false,        kMissingEcuPart, kTesterAddress};

bool IsDateOption(uint8_t option) {
    for (uint8_t date : kDateOptions) {
        if (date == option) return true;
    }
    return false;
}

}  // namespace

CEcuR6xKwp2000::CEcuR6xKwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter)
    : CEcuR6xKwp2000(communicationObject, parameter, kKeyword) {}

CEcuR6xKwp2000::CEcuR6xKwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter, const std::string& keyword)
    : CEcuKwp2000(communicationObject, keyword, keyword, kR6xLayout) {
    CEcuR6xKwp2000::SetDefaults();
    AcceptParameterString(parameter);
}

int32_t CEcuR6xKwp2000::SetDefaults() {
    KwpParameterBlock& kwp = Kwp();
    FillAddressTable(kTesterAddress, kEcuAddress, 1);
    kwp.scanAllAddresses = false;
    kwp.oemTesterAddress.fill(kKeepTester);
    kwp.oemTesterAddress[kMakerOem] = kTesterAddress;
    SetCommonTiming();
    kwp.swDownloadArea = KwpDownloadArea{};
    kwp.dsDownloadArea = KwpDownloadArea{};
    kwp.dsDownloadArea.address = kDataSetArea;
    kwp.framAvailable = true;
    kwp.upgradeStatusSupported = true;
    kwp.framAddress = kFramAddress;
    kwp.framSize = kFramSize;
    kwp.uploadStart = kUploadStart;
    kwp.uploadLength = kUploadLength;
    kwp.uploadPiece = kUploadPiece;
    kwp.sidRequests.clear();
    SetPermissions(true, true, true, true);
    return 0;
}

std::string CEcuR6xKwp2000::GetParameterString() {
    return keyword_ + "|" + kProtocolKeyword + "|" + AddressParameters() + TimingParameters() +
           FormatText("SERVICESINGLEREQUEST=%d|", singleRequestAllowed_ ? 1 : 0) +
           ServiceParameters();
}

int32_t CEcuR6xKwp2000::ParseParameterString(const std::string& text) {
    return diagbridge::ParseParameterString(
        text, keyword_, [this](const std::string& key, const std::string& value) {
            return SetParameter(key, value);
        });
}

std::string CEcuR6xKwp2000::SeedRequestFor(int32_t oemId, int32_t /*diagnosticMode*/) {
    return oemId == kMakerOem ? SecurityRequest(kMakerSeed) : std::string();
}

std::string CEcuR6xKwp2000::KeyRequestFor(int32_t oemId, int32_t diagnosticMode, int32_t seed) {
    if (oemId != kMakerOem) return {};
    return SecurityRequest(kMakerKey,
                           MakerAccessKey(static_cast<uint16_t>(seed & 0xFFFF), diagnosticMode));
}

std::string CEcuR6xKwp2000::IdentValueText(const KwpIdentValue& value) const {
    if (!IsDateOption(value.option)) return value.value;
    std::string digits;
    for (char c : value.value) {
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
    }
    if (digits.empty()) return kEmptyDate;
    if (digits.size() != kDateDigits) return value.value;
    auto d = [&digits](std::size_t i) { return digits[i] - '0'; };
    return FormatText("%d%d%d%d-%d%d-%d%d", d(0), d(1), d(2), d(3), d(4), d(5), d(6), d(7));
}

CEcuR60Kwp2000::CEcuR60Kwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter)
    : CEcuR6xKwp2000(communicationObject, parameter, kKeyword) {
    exactObjectType_ = true;
}

}  // namespace diagbridge
