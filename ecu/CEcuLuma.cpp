#include "ecu/CEcuLuma.h"

#include <algorithm>
#include <array>

#include "ecu/KwpKeyRoutines.h"
#include "engine/CConvert.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"

namespace diagbridge {
namespace {

constexpr uint8_t kEcuAddress = 0x29;
constexpr uint8_t kTesterAddress = 0xF0;
constexpr uint8_t kMarivaneEcu = 0x2C;
constexpr uint8_t kManRetarderEcu = 0x2D;
constexpr uint8_t kKodierstationEcu = 0x2F;
constexpr uint8_t kKodierstationTester = 0xFD;
constexpr uint8_t kPrototypeEcu = 0xFF;
constexpr std::array<uint8_t, 5> kScannedEcuAddresses = {kEcuAddress, kMarivaneEcu, kManRetarderEcu,
                                                         kKodierstationEcu, kPrototypeEcu};
constexpr uint8_t kKeepTester = 0x00;  // below 0xF0: the access keeps the current tester

constexpr uint32_t kEepromAddress = 0x800000;
constexpr uint32_t kEepromSize = 2048;
constexpr int32_t kUploadPiece = 528;  // read as a byte: pieces of 16 bytes
constexpr uint8_t kMemoryMap = 0x04;

constexpr int32_t kOrlanOem = 0;
constexpr int32_t kManOem = 1;
constexpr int32_t kDefaultSession = 0x81;  // MAN: no access needed
constexpr int32_t kManEndOfLineSession = 0x83;
constexpr uint8_t kOrlanSeed = 0xFD;  // security-access sub-functions
constexpr uint8_t kOrlanKey = 0xFE;
constexpr uint8_t kManEndOfLineSeed = 0x01;
constexpr uint8_t kManEndOfLineKey = 0x02;
constexpr uint8_t kManSeed = 0xFB;
constexpr uint8_t kManKey = 0xFC;

constexpr CEcuKwp2000::Layout kLumaLayout = {"[EEPROM]", "[Ident]",   "[Fehlerspeicher]",
                                             "[SID]",    "",          true,
                                             true,       kEcuAddress, kTesterAddress};

const std::vector<KwpIdentName> kDefaultIdentNames = {
    {0x6087, "Artikelnummer"},  {0x609B, "Hardwarekennung"}, {0x408F, "HardwareHerstelldatum"},
    {0x6093, "Hardwarenummer"}, {0x408D, "Seriennummer"},    {0x4095, "Software"},
    {0x4099, "Kodierdatum"},    {0x6097, "Retardertyp"},     {0x609A, "KundeProjekt"},
    {0x6091, "SachnummerKunde"}};

const std::vector<KwpIdentName> kManIdentNames = {
    {0x6095, "Artikelnummer"},   {0x6093, "Hardwarekennung"},   {0x408F, "HardwareHerstelldatum"},
    {0x6092, "Hardwarenummer"},  {0x008C, "Seriennummer"},      {0x4094, "Software"},
    {0x4099, "Kodierdatum"},     {0x6097, "Retardertyp"},       {0x608E, "KundeProjekt"},
    {0x6091, "SachnummerKunde"}, {0x6090, "Fahrgestellnummer"}, {0x609C, "Motornummer"}};

// The value read under option; null when it was not read or refused.
const KwpIdentValue* FindValue(const std::vector<KwpIdentValue>& values, uint8_t option) {
    for (const KwpIdentValue& value : values) {
        if (value.option == option && value.valid) return &value;
    }
    return nullptr;
}

bool AnyValueRead(const std::vector<KwpIdentValue>& values) {
    return std::any_of(values.begin(), values.end(),
                       [](const KwpIdentValue& value) { return value.valid; });
}

}  // namespace

CEcuLumaXX::CEcuLumaXX(CSoftwareInterface* communicationObject, const std::string& parameter)
    : CEcuLumaXX(communicationObject, parameter,
                 Variant{kKeyword, kEcuAddress, kTesterAddress, false, false, false}) {}

CEcuLumaXX::CEcuLumaXX(CSoftwareInterface* communicationObject, const std::string& parameter,
                       const Variant& variant)
    : CEcuKwp2000(communicationObject, variant.keyword, variant.keyword, kLumaLayout) {
    CEcuLumaXX::SetDefaults();
    if (variant.onePair) FillAddressTable(variant.testerAddress, variant.ecuAddress, 1);
    Kwp().scanAllAddresses = !variant.onePair;
    if (variant.manIdentTable) identNames_ = kManIdentNames;
    SetPermissions(true, variant.allow, variant.allow, false);
    AcceptParameterString(parameter);
}

int32_t CEcuLumaXX::SetDefaults() {
    KwpParameterBlock& kwp = Kwp();
    FillAddressTable(kTesterAddress, kEcuAddress,
                     static_cast<int32_t>(kScannedEcuAddresses.size()));
    for (std::size_t i = 0; i < kScannedEcuAddresses.size(); ++i) {
        kwp.addressTable[i].ecuAddress = kScannedEcuAddresses[i];
    }
    kwp.scanAllAddresses = false;
    kwp.oemTesterAddress.fill(kKeepTester);
    SetCommonTiming();
    kwp.framAvailable = true;
    kwp.upgradeStatusSupported = false;
    kwp.framAddress = kEepromAddress;
    kwp.framSize = kEepromSize;
    kwp.uploadStart = kEepromAddress;
    kwp.uploadLength = kEepromSize;
    kwp.uploadPiece = kUploadPiece;
    kwp.memoryMapIdentifier = kMemoryMap;
    kwp.sidRequests.clear();
    identNames_ = kDefaultIdentNames;
    return 0;
}

std::string CEcuLumaXX::GetParameterString() {
    return std::string(kKeyword) + "|" + kProtocolKeyword + "|" + AddressParameters() +
           TimingParameters() + FormatText("FRAMADR=0x%Xh|", Kwp().framAddress) +
           FormatText("FRAMSIZE=0x%Xh|", Kwp().framSize) + ServiceParameters();
}

int32_t CEcuLumaXX::ParseParameterString(const std::string& text) {
    const std::vector<std::string> tokens = SplitParameterTokens(text);
    if (tokens.empty() || tokens.front() != keyword_) return kResultBadParameter;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::size_t equals = tokens[i].find('=');
        if (equals == std::string::npos) return kResultBadParameter;
        if (SetParameter(tokens[i].substr(0, equals), tokens[i].substr(equals + 1)) < 0) {
            return kResultBadParameter;
        }
    }
    return 0;
}

int32_t CEcuLumaXX::Connect() {
    const int32_t result = ConnectThroughCommunicationObject();
    CSoftwareInterface* communication = CommunicationObject();
    if (communication == nullptr) return result;
    // Only a finished service has left the block alone.
    if (communication->ServiceCompleted()) parameters_ = communication->Parameters();
    SetIdent(kIdentEcuAddress, FormatText("%X", Kwp().ecuAddress));
    SetIdent(kIdentTesterAddress, FormatText("%X", Kwp().testerAddress));
    return result;
}

std::string CEcuLumaXX::SeedRequestFor(int32_t oemId, int32_t diagnosticMode) {
    if (oemId == kOrlanOem) {
        AccessProgress(FormatText("OEM ORLAN: Request Seed for DiagMode %X", diagnosticMode));
        return SecurityRequest(kOrlanSeed);
    }
    if (oemId != kManOem) return {};
    AccessProgress(FormatText("OEM MAN: Request Seed for DiagMode %X", diagnosticMode));
    if (diagnosticMode == kDefaultSession) return {};
    return SecurityRequest(diagnosticMode == kManEndOfLineSession ? kManEndOfLineSeed : kManSeed);
}

std::string CEcuLumaXX::KeyRequestFor(int32_t oemId, int32_t diagnosticMode, int32_t seed) {
    const auto seed16 = static_cast<uint16_t>(seed & 0xFFFF);
    if (oemId == kOrlanOem) {
        AccessProgress("OEM ORLAN: Calculate Key");
        return SecurityRequest(kOrlanKey, MakerAccessKey(seed16, diagnosticMode));
    }
    if (oemId != kManOem || diagnosticMode == kDefaultSession) return {};
    AccessProgress("OEM MAN: Calculate Key");
    return SecurityRequest(diagnosticMode == kManEndOfLineSession ? kManEndOfLineKey : kManKey,
                           ManAccessKey(seed16, diagnosticMode));
}

std::string CEcuLumaXX::BuildDataBlockSection() {
    return {};
}

std::string CEcuLumaXX::BuildIdentSection() {
    if (!AnyValueRead(upload_.ident)) return {};
    std::string text = std::string(layout_.identHeading) + "|";
    for (const KwpIdentName& name : identNames_) {
        const KwpIdentValue* value = FindValue(upload_.ident, static_cast<uint8_t>(name.word));
        text += value != nullptr ? std::string(name.name) + "=\"" + value->value + "\"|"
                                 : FormatText("%s=%s", name.name, "|");
    }
    return text;
}

std::string CEcuLumaXX::BuildEventMemorySection() {
    std::string text = std::string(layout_.eventHeading) + "|";
    text += FormatText("EventAnz=%d%s", static_cast<int>(upload_.events.size()), "|");
    text += "Eventx=\"" + upload_.eventListText + "\"|";
    int number = 1;
    for (const ShortByteBuffer& event : upload_.events) {
        std::string bytes;
        for (uint16_t i = 0; i < event.length; ++i) bytes += FormatText("%02X ", event.data[i]);
        text += FormatText("%s %s%s", FormatText("Event%d=", number++).c_str(),
                           ("\"" + bytes + "\"").c_str(), "|");
    }
    return text;
}

std::string CEcuLumaXX::BuildUploadText() {
    std::string text;
    for (const std::string& section :
         {BuildUploadHeader(), BuildIdentSection(), BuildEventMemorySection(),
          BuildDataBlockSection(), BuildMemorySection(), BuildSidSection()}) {
        text += section;
    }
    SetUploadText(text);
    return text;
}

CEcuLumaStandard::CEcuLumaStandard(CSoftwareInterface* communicationObject,
                                   const std::string& parameter)
    : CEcuLumaXX(communicationObject, parameter,
                 Variant{kKeyword, kEcuAddress, kTesterAddress, false, true, true}) {}

CEcuLumaDAG::CEcuLumaDAG(CSoftwareInterface* communicationObject, const std::string& parameter)
    : CEcuLumaXX(communicationObject, parameter,
                 Variant{kKeyword, kEcuAddress, kTesterAddress, false, true, true}) {}

CEcuLumaManMarivane::CEcuLumaManMarivane(CSoftwareInterface* communicationObject,
                                         const std::string& parameter)
    : CEcuLumaXX(communicationObject, parameter,
                 Variant{kKeyword, kMarivaneEcu, kTesterAddress, true, true, true}) {}

CEcuLumaManRetarder::CEcuLumaManRetarder(CSoftwareInterface* communicationObject,
                                         const std::string& parameter)
    : CEcuLumaXX(communicationObject, parameter,
                 Variant{kKeyword, kManRetarderEcu, kTesterAddress, true, true, true}) {}

CEcuLumaKodierstation::CEcuLumaKodierstation(CSoftwareInterface* communicationObject,
                                             const std::string& parameter)
    : CEcuLumaXX(communicationObject, parameter,
                 Variant{kKeyword, kKodierstationEcu, kKodierstationTester, false, true, true}) {}

CEcuLumaPrototyp::CEcuLumaPrototyp(CSoftwareInterface* communicationObject,
                                   const std::string& parameter)
    : CEcuLumaXX(communicationObject, parameter,
                 Variant{kKeyword, kPrototypeEcu, kTesterAddress, false, true, true}) {}

}  // namespace diagbridge
