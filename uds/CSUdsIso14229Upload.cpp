// Identification and upload services of the UDS communication object.
#include <cstdio>

#include "ecu/CEcu.h"
#include "engine/CConvert.h"
#include "uds/CSUdsIso14229.h"
#include "uds/UdsUploadText.h"

namespace diagbridge {

namespace {
constexpr int32_t kPhysical = 0;
constexpr int32_t kShortUpload = 2;
constexpr int32_t kFullUpload = 3;
constexpr int32_t kExtendedAccess = 1;
constexpr int32_t kDevelopmentAccess = 2;
constexpr uint8_t kMemoryAddressByte = 0x10;

const char* IdentRequest(uint8_t ident) {
    switch (ident) {
        case 0x8C:
            return "22 F1 8C";
        case 0x8E:
            return "22 FD 01";
        case 0x8F:
            return "22 FD 02";
        case 0x92:
            return "22 F1 93";
        case 0x93:
            return "22 FD 00";
        case 0x95:
            return "22 F1 95";
        case 0xB1:
            return "22 F1 F1";
        case 0xB5:
            return "22 F1 F5";
        case 0xBF:
            return "22 FE FD";
        default:
            return nullptr;
    }
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0) {
    char text[64];
    std::snprintf(text, sizeof(text), format, a, b, c, d);
    return text;
}
}  // namespace

// ---------------------------------------------------------------- object info

std::string CSUdsIso14229::GetEcuIdentData(uint8_t ident) {
    const char* request = IdentRequest(ident);
    if (request == nullptr) return kUnknownValue;
    std::string response;
    if (ExtDataTransfer(kPhysical, request, response) != 0) return kUnknownValue;
    return DecodeIdent(ident, response);
}

int32_t CSUdsIso14229::ServiceGetObjectInfo(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceGetObjectInfo: Start");
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    struct Item {
        const char* name;
        uint8_t ident;
        std::size_t field;
    };
    const Item items[] = {
        {"HARDWARE_ID", 0x93, CEcu::kIdentHardware},
        {"SERIALNUMBER", 0x8C, CEcu::kIdentSerialNumber},
        {"OBJECTTYPE", 0x8E, CEcu::kIdentObject},
        {"PRODUCTION_DATE", 0x8F, CEcu::kIdentProductionDate},
        {"SOFTWARE_ID", 0x95, CEcu::kIdentSoftware},
        {"LOADER_ID", 0xB1, CEcu::kIdentLoader},
        {"DATASET_ID", 0xB5, CEcu::kIdentDataset},
        {"OEM_ID", 0xBF, CEcu::kIdentOemId},
    };
    for (const Item& item : items) {
        RaiseProgress(0, 50, std::string("ServiceGetObjectInfo:  GetEcuIdentData ") + item.name);
        ecu->SetIdent(item.field, GetEcuIdentData(item.ident));
    }
    ecu->SetAddressIdents(parameters_.uds.requestId, parameters_.uds.responseId);
    const std::pair<const char*, std::size_t> lines[] = {
        {"NAME=", CEcu::kIdentObjectType},
        {"OBJECTTYPE=", CEcu::kIdentObject},
        {"HARDWAREVERSION=", CEcu::kIdentHardware},
        {"SERIALNUMBER=", CEcu::kIdentSerialNumber},
        {"PRODUCTIONDATE=", CEcu::kIdentProductionDate},
        {"SOFTWARE=", CEcu::kIdentSoftware},
        {"DATASET=", CEcu::kIdentDataset},
        {"OEMID=", CEcu::kIdentOemId},
        {"OEMSET=", CEcu::kIdentOemSet},
        {"LOADER=", CEcu::kIdentLoader},
        {"PROTOCOL=", CEcu::kIdentProtocol},
        {"ECU=", CEcu::kIdentEcuAddress},
        {"TESTER=", CEcu::kIdentTesterAddress},
    };
    std::string text;
    for (const auto& [key, field] : lines) text += key + ecu->Ident(field) + "|";
    ecu->SetIdentText(text);
    RaiseProgress(0, 100, "ServiceGetObjectInfo: Finished");
    return kResultOk;
}

// ---------------------------------------------------------------- upload

int32_t CSUdsIso14229::ServiceUpload(ServiceOrder order) {
    RaiseProgress(0, 0, "ServiceUpload: Started");
    CEcu* ecu = AttachedEcu();
    int32_t result = kResultFailure;
    if (ecu != nullptr && parameters_.uds.uploadType == kShortUpload) {
        result = UploadShortForm(*ecu, order);
    } else if (ecu != nullptr && parameters_.uds.uploadType == kFullUpload) {
        result = UploadFullForm(*ecu, order);
    }
    RaiseProgress(5, 100, "ServiceUpload: Finished");
    return result;
}

int32_t CSUdsIso14229::UploadShortForm(CEcu& ecu, const ServiceOrder& order) {
    if (SelectAccess(kExtendedAccess, false) != kResultOk || RunSession() != kResultOk) {
        RaiseProgress(2, 0, "ServiceUpload: Set Extended Session failed");
        return kAccessFailed;
    }
    if (OpenAccess(kDevelopmentAccess) != kResultOk) {
        RaiseProgress(2, 0, "ServiceUpload: Set Development Session failed");
        return kAccessFailed;
    }
    std::string memory, ident, events;
    MemorySection(ecu, false, memory);
    IdentSection(true, ident);
    EventSectionShort(events);
    RaiseProgress(4, 0, "ServiceUpload: SID started");
    RaiseProgress(4, 100, "ServiceUpload: SID finished");
    ecu.SetUploadText(order.uploadHeader + ident + events + memory);
    return kResultOk;
}

int32_t CSUdsIso14229::UploadFullForm(CEcu& ecu, const ServiceOrder& order) {
    std::string blocks, header, memory, ident, events, sid;
    DataBlockSection(blocks);
    HeaderSection(ecu, header);
    MemorySection(ecu, true, memory);
    IdentSection(false, ident);
    EventSectionFull(events);
    const int32_t result = SidSection(sid);
    ecu.SetUploadText(order.uploadHeader + header + blocks + memory + ident + events + sid);
    return result;
}

int32_t CSUdsIso14229::HeaderSection(CEcu& ecu, std::string& section) {
    const std::pair<uint8_t, std::size_t> reads[] = {
        {0x8E, CEcu::kIdentObject},
        {0x95, CEcu::kIdentSoftware},
        {0xB5, CEcu::kIdentDataset},
        {0x92, CEcu::kIdentHardware},
    };
    for (const auto& [ident, field] : reads) {
        std::string response;
        const int32_t result = ExtDataTransfer(kPhysical, IdentRequest(ident), response);
        if (result < 0) return result;
        ecu.SetIdent(field, DecodeIdent(ident, response));
    }
    const std::vector<std::string>& head = ecu.Upload().header;
    auto headerField = [&](std::size_t i) { return i < head.size() ? head[i] : std::string(); };
    section = headerField(0) + "|Version=" + headerField(1) + "|" + "FormatType=" + headerField(2) +
              "|" + "TheUser=" + headerField(3) + "|" +
              "TheObject=" + ecu.Ident(CEcu::kIdentObject) + "|" +
              "TheHardware=" + ecu.Ident(CEcu::kIdentHardware) + "|" +
              "TheSoftware=" + ecu.Ident(CEcu::kIdentSoftware) + "|" +
              "TheDataset=" + ecu.Ident(CEcu::kIdentDataset) + "|";
    return kResultOk;
}

int32_t CSUdsIso14229::DataBlockSection(std::string& section) {
    std::string response;
    const int32_t result = ExtDataTransfer(kPhysical, "22 E1 01", response);
    if (result == 0) section = DataBlockTable(response);
    return result;
}

int32_t CSUdsIso14229::MemorySection(CEcu& ecu, bool fullForm, std::string& section) {
    const UdsParameterBlock& uds = parameters_.uds;
    RaiseProgress(1, 0, "ServiceUpload: Upload Memory started");
    std::vector<std::string>& lines = ecu.Upload().memoryLines;
    lines.clear();
    const uint32_t chunk = uds.memoryChunk;
    uint32_t address = uds.memoryStart;
    uint32_t remaining = uds.memoryLength;
    int32_t shownPercent = 0;
    while (remaining > 0 && chunk > 0) {
        const std::string request =
            fullForm ? Format("23 13 %02X %02X %02X %02X", (address >> 16) & 0xFF,
                              (address >> 8) & 0xFF, address & 0xFF, chunk & 0xFF)
                     : Format("23 13 %02X %02X %02X 10", kMemoryAddressByte, (address >> 8) & 0xFF,
                              address & 0xFF);
        std::string response;
        const int32_t result = ExtDataTransfer(kPhysical, request, response);
        if (result < 0) return result;
        lines.push_back(response);
        address += chunk;
        remaining -= remaining < chunk ? remaining : chunk;
        const auto percent =
            static_cast<int32_t>(100 - static_cast<uint64_t>(remaining) * 100 / uds.memoryLength);
        if (percent > shownPercent) {
            shownPercent = percent;
            RaiseProgress(1, static_cast<int16_t>(percent),
                          "ServiceUpload: Upload Memory: " + std::to_string(percent));
        }
    }
    RaiseProgress(1, 100, "ServiceUpload: Upload Memory finished");
    section = fullForm ? ecu.BuildMemorySection() : std::string();
    return kResultOk;
}

int32_t CSUdsIso14229::IdentSection(bool decode, std::string& section) {
    RaiseProgress(0, 0, "ServiceUpload: Identdata started");
    section = parameters_.uds.identHeading;
    for (const UdsIdentEntry& entry : parameters_.uds.identTable) {
        std::string response;
        const int32_t result = ExtDataTransfer(kPhysical, entry.request, response);
        if (result < 0) return result;
        const std::string value =
            decode ? DecodeScaledResponse(response, entry.scaling, "") : response;
        section += entry.name + "=\"" + value + "\"|";
    }
    RaiseProgress(0, 100, "ServiceUpload: Identdata finished");
    return kResultOk;
}

int32_t CSUdsIso14229::EventSectionShort(std::string& section) {
    RaiseProgress(3, 0, "ServiceUpload: Eventdata started");
    std::string response;
    const int32_t result = ExtDataTransfer(kPhysical, "19 02 FF", response);
    if (result < 0) return result;
    const std::vector<std::string> lines = EventLines(response);
    section =
        "[EventMem]|EventAnz=" + std::to_string(lines.size()) + "|EventX=\"" + response + "\"|";
    for (const std::string& line : lines) section += line;
    RaiseProgress(3, 0, "ServiceUpload: Eventdata finished");
    return kResultOk;
}

int32_t CSUdsIso14229::EventPart(const char* heading, uint8_t formatService, uint8_t listService,
                                 uint8_t extendedService, std::string& part) {
    const uint8_t mask = parameters_.uds.dtcStatusMask;
    std::string format;
    if (ExtDataTransfer(kPhysical, Format("19 %02X %02X", formatService, mask), format) != 0) {
        return kResultOk;  // no such memory: the part is skipped
    }
    std::vector<uint8_t> formatBytes(8);
    std::size_t stored = 0;
    HexStringToBytes(format, formatBytes.data(), formatBytes.size(), stored);
    const int formatId = stored > 3 ? formatBytes[3] : 0;
    std::string list;
    const int32_t result =
        ExtDataTransfer(kPhysical, Format("19 %02X %02X", listService, mask), list);
    if (result < 0) return result;
    const std::vector<std::string> lines = EventLines(list);
    const std::vector<std::string> dtcs = DtcTexts(list);
    std::string extended;
    for (std::size_t i = 0; i < dtcs.size(); ++i) {
        std::string response;
        const std::string request = Format("19 %02X ", extendedService) + dtcs[i] + " 01";
        if (ExtDataTransfer(kPhysical, request, response) < 0) break;
        extended +=
            "EventExtendedData" + std::to_string(i) + "=\"" + ExtendedData(response) + "\"|";
    }
    part = std::string(heading) + "|EventAnz=" + std::to_string(lines.size()) +
           "|DTCFomatIdentifier=" + std::to_string(formatId) + "|EventX=\"" + list + "\"|";
    for (const std::string& line : lines) part += line;
    part += extended;
    return kResultOk;
}

int32_t CSUdsIso14229::EventSectionFull(std::string& section) {
    RaiseProgress(3, 0, "ServiceUpload: Eventdata started");
    std::string chronological, historical;
    EventPart("[EventMemChronical]", 0x01, 0x02, 0x06, chronological);
    EventPart("[EventMemHistorical]", 0x11, 0x0F, 0x10, historical);
    section = chronological + historical;
    RaiseProgress(3, 100, "ServiceUpload: Eventdata finished");
    return kResultOk;
}

int32_t CSUdsIso14229::SidSection(std::string& section) {
    RaiseProgress(4, 0, "ServiceUpload: SID started");
    section = "[SID]|";
    for (const std::string& request : parameters_.uds.sidRequests) {
        std::string response;
        const int32_t result = ExtDataTransfer(kPhysical, request, response);
        if (result < 0) return result;
        section += "SID_" + request + "= " + response + "|";
    }
    RaiseProgress(4, 100, "ServiceUpload: SID finished");
    return kResultOk;
}

}  // namespace diagbridge
