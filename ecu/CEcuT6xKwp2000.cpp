#include "ecu/CEcuT6xKwp2000.h"

#include "ecu/KwpKeyRoutines.h"
#include "engine/ParameterString.h"

namespace diagbridge {
namespace {

constexpr uint8_t kEcuAddress = 0x18;
constexpr uint8_t kTesterAddress = 0xFA;
constexpr uint8_t kVehicleMakerTester = 0xF0;  // tester address of OEM 1
constexpr int32_t kMakerOem = 0;
constexpr int32_t kVehicleMakerOem = 1;
constexpr uint8_t kMakerSeed = 0xFD;  // security-access sub-functions
constexpr uint8_t kMakerKey = 0xFE;
constexpr uint8_t kVehicleMakerSeed = 0x01;
constexpr uint8_t kVehicleMakerKey = 0x02;

constexpr uint32_t kFramAddress = 0x400180;
constexpr uint32_t kFramSize = 0xFE80;
constexpr uint32_t kDataSetArea = 0x405E00;
constexpr uint32_t kUploadStart = 0x400180;
constexpr int32_t kUploadPiece = 640;  // read as a byte: pieces of 128 bytes
constexpr uint32_t kT60UploadLength = 0x7EE0;
constexpr uint32_t kT65UploadLength = 0xFEE0;
constexpr uint32_t kT61UploadLength = 0xFE80;

constexpr CEcuKwp2000::Layout kT6xLayout = {
    "[FRAM]", "[IdentMem]", "[EventMem]", "[SID]", "A", false, false, kEcuAddress, kTesterAddress};

}  // namespace

CEcuT6xKwp2000::CEcuT6xKwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter)
    : CEcuT6xKwp2000(communicationObject, parameter, kKeyword, kT60UploadLength) {}

CEcuT6xKwp2000::CEcuT6xKwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter, const std::string& keyword,
                               uint32_t uploadLength)
    : CEcuKwp2000(communicationObject, keyword, keyword, kT6xLayout), uploadLength_(uploadLength) {
    CEcuT6xKwp2000::SetDefaults();
    AcceptParameterString(parameter);
}

int32_t CEcuT6xKwp2000::SetDefaults() {
    KwpParameterBlock& kwp = Kwp();
    FillAddressTable(kTesterAddress, kEcuAddress, 1);
    kwp.scanAllAddresses = false;
    kwp.oemTesterAddress.fill(kTesterAddress);
    kwp.oemTesterAddress[kVehicleMakerOem] = kVehicleMakerTester;
    SetCommonTiming();
    kwp.swDownloadArea = KwpDownloadArea{};
    kwp.dsDownloadArea = KwpDownloadArea{};
    kwp.dsDownloadArea.address = kDataSetArea;
    kwp.framAvailable = true;
    kwp.upgradeStatusSupported = true;
    kwp.framAddress = kFramAddress;
    kwp.framSize = kFramSize;
    kwp.uploadStart = kUploadStart;
    kwp.uploadLength = uploadLength_;
    kwp.uploadPiece = kUploadPiece;
    kwp.sidRequests.clear();
    SetPermissions(true, true, true, true);
    return 0;
}

std::string CEcuT6xKwp2000::GetParameterString() {
    return keyword_ + "|" + kProtocolKeyword + "|" + AddressParameters() +
           FormatText("SERVICESINGLEREQUEST=%d|", singleRequestAllowed_ ? 1 : 0) +
           ServiceParameters();
}

int32_t CEcuT6xKwp2000::ParseParameterString(const std::string& text) {
    return diagbridge::ParseParameterString(
        text, keyword_, [this](const std::string& key, const std::string& value) {
            return SetParameter(key, value);
        });
}

std::string CEcuT6xKwp2000::SeedRequestFor(int32_t oemId, int32_t /*diagnosticMode*/) {
    if (oemId == kMakerOem) return SecurityRequest(kMakerSeed);
    if (oemId == kVehicleMakerOem) return SecurityRequest(kVehicleMakerSeed);
    return {};
}

std::string CEcuT6xKwp2000::KeyRequestFor(int32_t oemId, int32_t diagnosticMode, int32_t seed) {
    const auto seed16 = static_cast<uint16_t>(seed & 0xFFFF);
    if (oemId == kMakerOem)
        return SecurityRequest(kMakerKey, MakerAccessKey(seed16, diagnosticMode));
    if (oemId == kVehicleMakerOem) {
        return SecurityRequest(kVehicleMakerKey, VehicleMakerAccessKey(seed16, diagnosticMode));
    }
    return {};
}

CEcuT60Kwp2000::CEcuT60Kwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter)
    : CEcuT6xKwp2000(communicationObject, parameter, kKeyword, kT60UploadLength) {
    exactObjectType_ = true;
}

// The T60.1 reads the T60's memory area.
CEcuT601Kwp2000::CEcuT601Kwp2000(CSoftwareInterface* communicationObject,
                                 const std::string& parameter)
    : CEcuT6xKwp2000(communicationObject, parameter, kKeyword, kT60UploadLength) {
    exactObjectType_ = true;
}

CEcuT65Kwp2000::CEcuT65Kwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter)
    : CEcuT6xKwp2000(communicationObject, parameter, kKeyword, kT65UploadLength) {
    exactObjectType_ = true;
}

CEcuT61Kwp2000::CEcuT61Kwp2000(CSoftwareInterface* communicationObject,
                               const std::string& parameter)
    : CEcuT6xKwp2000(communicationObject, parameter, kKeyword, kT61UploadLength) {
    exactObjectType_ = true;
}

}  // namespace diagbridge
