// Identification and upload services of the KWP2000 communication object.
#include <algorithm>

#include "ecu/CEcuKwp2000.h"
#include "ecu/KwpUploadValues.h"
#include "engine/CConvert.h"
#include "kwp2000/CSKwp2000.h"
#include "kwp2000/KwpText.h"

namespace diagbridge {

namespace {
constexpr std::size_t kDataOffset = 2;  // after the service id and the echoed identifier
constexpr uint8_t kProductionDate = 0x8F;
constexpr uint8_t kOemId = 0xBF;
constexpr std::size_t kDateBytes = 4;
constexpr std::size_t kMaxNumberBytes = 4;
constexpr uint8_t kIdentList = 0x80;
constexpr uint8_t kFirstListedIdent = 0xA0;
constexpr uint8_t kLastListedIdent = 0xAF;
constexpr std::size_t kMemoryAnswerHeader = 1;
constexpr std::size_t kMaxEvents = 20;
constexpr std::size_t kEventBytes = 3;
constexpr char kSidBlank = '_';

bool IsPrintable(uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F;
}

// Identification data as text: characters with the zero bytes left out when all of it is
// text, else the bytes as a hex byte string.
std::string IdentValueText(const std::vector<uint8_t>& answer) {
    std::string text;
    for (std::size_t i = kDataOffset; i < answer.size(); ++i) {
        if (answer[i] == 0) continue;
        if (!IsPrintable(answer[i])) {
            return BytesToHexString(answer.data() + kDataOffset, answer.size() - kDataOffset);
        }
        text += static_cast<char>(answer[i]);
    }
    return text;
}

std::string DateText(const std::vector<uint8_t>& answer) {
    const uint8_t* d = answer.data() + kDataOffset;
    return FormatText("%d%d%d%d-%d%d-%d%d", d[0] >> 4, d[0] & 0xF, d[1] >> 4, d[1] & 0xF, d[2] >> 4,
                      d[2] & 0xF, d[3] >> 4, d[3] & 0xF);
}

std::string NumberText(const std::vector<uint8_t>& answer) {
    uint32_t value = 0;
    const std::size_t end = std::min(answer.size(), kDataOffset + kMaxNumberBytes);
    for (std::size_t i = kDataOffset; i < end; ++i) value = (value << 8) | answer[i];
    return FormatText("%u", value);
}

// The part of the ECU's memory map that lies in the model's memory-upload area; the whole
// map when the model names no area.
std::vector<KwpMemoryArea> UploadAreas(const KwpParameterBlock& kwp,
                                       const std::vector<KwpMemoryArea>& map) {
    if (kwp.uploadLength == 0) return map;
    const uint64_t first = kwp.uploadStart;
    const uint64_t end = first + kwp.uploadLength;
    std::vector<KwpMemoryArea> areas;
    for (const KwpMemoryArea& area : map) {
        const uint64_t from = std::max<uint64_t>(area.start, first);
        const uint64_t to = std::min<uint64_t>(uint64_t{area.start} + area.length, end);
        if (from < to) {
            areas.push_back({static_cast<uint32_t>(from), static_cast<uint32_t>(to - from)});
        }
    }
    return areas;
}
}  // namespace

// ---------------------------------------------------------------- identification

std::string CSKwp2000::ReadEcuIdent(uint8_t option) {
    std::string response;
    if (DataTransfer(FormatText("%02X %02X", 0x1A, option), response, true, true) != kResultOk) {
        return CEcu::kUnknownIdent;
    }
    const std::vector<uint8_t> answer = KwpBytes(response);
    if (answer.size() <= kDataOffset) return CEcu::kUnknownIdent;
    if (option == kProductionDate) {
        return answer.size() >= kDataOffset + kDateBytes ? DateText(answer) : CEcu::kUnknownIdent;
    }
    if (option == kOemId) return NumberText(answer);
    return IdentValueText(answer);
}

std::string CSKwp2000::ConfigurationText(CEcu& ecu) const {
    const KwpParameterBlock& kwp = parameters_.kwp;
    const int32_t entries =
        std::clamp<int32_t>(kwp.addressCount, 0, KwpParameterBlock::kAddressTableSize);
    const std::string device = HardwareInterface() ? HardwareInterface()->HardwareText() : "";
    std::string text = "NAME=" + ecu.Ident(CEcu::kIdentObjectType) +
                       "|PROTOCOL=" + ecu.Ident(CEcu::kIdentProtocol) + "|DEVICE=" + device +
                       FormatText("|NOE=%d", entries);
    for (int32_t i = 0; i < entries; ++i) {
        const KwpAddressEntry& entry = kwp.addressTable[static_cast<std::size_t>(i)];
        text += FormatText("%s%d_%s%s%s%d_%s%s%s%d_%s0x%02Xh%s%d_%s0x%02Xh", "|HARDWAREID", i, "=",
                           entry.hardwareNumber.c_str(), "|HARDWAREVERSION", i, "=",
                           entry.hardwareVersion.c_str(), "|TESTER", i, "=", entry.testerAddress,
                           "|ECU", i, "=", entry.ecuAddress);
    }
    return text + "|";
}

int32_t CSKwp2000::ServiceGetObjectInfo(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceGetObjectInfo: Start");
    CEcu* ecu = AttachedEcu();
    if (ecu == nullptr) return kResultFailure;
    if (!ecu->IsConnected() || HardwareInterface() == nullptr) {
        ecu->SetIdentText(ConfigurationText(*ecu));
        RaiseProgress(0, 100, "ServiceGetObjectInfo: Finished");
        return kResultOk;
    }
    constexpr std::size_t kNoField = CEcu::kIdentFields;
    struct Item {
        const char* name;
        uint8_t option;
        int16_t progress;
        std::size_t field;
        std::string value;
    };
    Item items[] = {
        {"HARDWARE_VERSION", 0x93, 20, CEcu::kIdentHardware, {}},
        {"HARDWARE_ID", 0x92, 20, kNoField, {}},
        {"SERIALNUMBER", 0x8C, 30, CEcu::kIdentSerialNumber, {}},
        {"OBJECTTYPE", 0x8E, 40, CEcu::kIdentObject, {}},
        {"PRODUCTION_DATE", 0x8F, 50, CEcu::kIdentProductionDate, {}},
        {"SOFTWARE_ID", 0x95, 60, CEcu::kIdentSoftware, {}},
        {"LOADER_ID", 0xB1, 70, CEcu::kIdentLoader, {}},
        {"DATASET_ID", 0xB5, 80, CEcu::kIdentDataset, {}},
        {"OEM_ID", 0xBF, 90, CEcu::kIdentOemId, {}},
        {"SCSW", 0xA7, 95, kNoField, {}},
    };
    for (Item& item : items) {
        RaiseProgress(0, item.progress,
                      std::string("ServiceGetObjectInfo:  GetEcuIdentData ") + item.name);
        item.value = ReadEcuIdent(item.option);
        if (item.field != kNoField) ecu->SetIdent(item.field, item.value);
    }
    const KwpParameterBlock& kwp = parameters_.kwp;
    const std::string ecuAddress = FormatText("0x%Xh", kwp.ecuAddress);
    const std::string testerAddress = FormatText("0x%Xh", kwp.testerAddress);
    ecu->SetIdent(CEcu::kIdentEcuAddress, ecuAddress);
    ecu->SetIdent(CEcu::kIdentTesterAddress, testerAddress);
    const std::pair<const char*, std::string> lines[] = {
        {"NAME=", ecu->Ident(CEcu::kIdentObjectType)},
        {"PROTOCOL=", ecu->Ident(CEcu::kIdentProtocol)},
        {"DEVICE=", HardwareInterface()->HardwareText()},
        {"OBJECTTYPE=", items[3].value},
        {"HARDWAREVERSION=", items[0].value},
        {"HARDWAREID=", items[1].value},
        {"SERIALNUMBER=", items[2].value},
        {"PRODUCTIONDATE=", items[4].value},
        {"SOFTWARE=", items[5].value},
        {"DATASET=", items[7].value},
        {"SCSW=", items[9].value},
        {"LOADER=", items[6].value},
        {"ECU=", ecuAddress},
        {"TESTER=", testerAddress},
        {"TIM=",
         FormatText("%d,%d,%d,%d,%d", kwp.p2Min, kwp.p2Max, kwp.p3Min, kwp.p3Max, kwp.p4Min)},
    };
    std::string text;
    for (const auto& [key, value] : lines) text += key + value + "|";
    ecu->SetIdentText(text);
    RaiseProgress(0, 100, "ServiceGetObjectInfo: Finished");
    return kResultOk;
}

// ---------------------------------------------------------------- upload

int32_t CSKwp2000::ServiceUpload(ServiceOrder /*order*/) {
    RaiseProgress(0, 0, "ServiceUpload: Start");
    auto* ecu = dynamic_cast<CEcuKwp2000*>(AttachedEcu());
    if (ecu == nullptr) return kResultFailure;
    RaiseProgress(0, 5, "ServiceUpload: Initialise Upload");
    PrepareUploadHeader(*ecu);
    RaiseProgress(0, 10, "ServiceUpload: Upload Memory");
    int32_t result = UploadMemory(*ecu);
    if (result < 0) {
        RaiseProgress(0, 10, FormatText("ServiceUpload: Upload Memory Error: %d", result));
        return result;
    }
    RaiseProgress(0, 60, "ServiceUpload: Upload Memory OK");
    RaiseProgress(0, 60, "ServiceUpload: Upload Ident Data");
    result = UploadIdent(*ecu);
    if (result < 0) {
        RaiseProgress(0, 70, FormatText("ServiceUpload: Upload Ident Data Error: %d", result));
        RaiseProgress(0, 100, "ServiceUpload: Finished");
        return result;
    }
    RaiseProgress(0, 70, "ServiceUpload: Upload Ident Data OK");
    RaiseProgress(0, 70, "ServiceUpload: Upload Event Data");
    result = UploadEvents(*ecu);
    if (result < 0) {
        RaiseProgress(0, 80, FormatText("ServiceUpload: Upload Event Data Error: %d", result));
        RaiseProgress(0, 100, "ServiceUpload: Finished");
        return result;
    }
    RaiseProgress(0, 80, "ServiceUpload: Upload Event Data OK");
    result = UploadSid(*ecu);
    RaiseProgress(0, 90,
                  result < 0 ? FormatText("ServiceUpload: Upload SID Data Error: %d", result)
                             : std::string("ServiceUpload: Upload SID Data OK"));
    ecu->SetUploadText(ecu->BuildUploadText());
    RaiseProgress(0, 100, "ServiceUpload: Finished");
    return result;
}

void CSKwp2000::PrepareUploadHeader(CEcuKwp2000& ecu) {
    KwpUploadValues& upload = ecu.KwpUpload();
    upload.Clear();
    ecu.SetUploadText({});
    upload.date = today_ ? today_() : std::string();
    const std::pair<uint8_t, std::size_t> fields[] = {
        {0x8E, CEcu::kIdentObject},         {0x93, CEcu::kIdentHardware},
        {0x8F, CEcu::kIdentProductionDate}, {0x95, CEcu::kIdentSoftware},
        {0xB5, CEcu::kIdentDataset},
    };
    for (const auto& [option, field] : fields) ecu.SetIdent(field, ReadEcuIdent(option));
}

int32_t CSKwp2000::UploadMemory(CEcuKwp2000& ecu) {
    const KwpParameterBlock& kwp = parameters_.kwp;
    const uint32_t piece = kwp.UploadPieceBytes();
    if (piece == 0) return kResultBadParameter;
    KwpUploadValues& upload = ecu.KwpUpload();
    std::string response;
    int32_t result =
        DataTransfer(FormatText("%02X %02X", 0x21, kwp.memoryMapIdentifier), response, true, true);
    if (result < 0) return result;
    if (upload.SetMemoryMap(response) < 0) return kUnexpectedResponse;
    const std::vector<KwpMemoryArea> areas = UploadAreas(kwp, upload.memoryMap);
    // The controller holds none of the memory the model reads.
    if (areas.empty() && !upload.memoryMap.empty()) return kUnexpectedResponse;
    uint64_t total = 0;
    for (const KwpMemoryArea& area : areas) total += area.length;
    uint64_t read = 0;
    int32_t lastPercent = -1;
    for (const KwpMemoryArea& area : areas) {
        uint32_t address = area.start;
        uint32_t left = area.length;
        while (left > 0) {
            const uint32_t n = std::min(left, piece);
            result =
                DataTransfer(FormatText("%02X %02X %02X %02X %02X", 0x23, (address >> 16) & 0xFF,
                                        (address >> 8) & 0xFF, address & 0xFF, n),
                             response, true, true);
            if (result < 0) return result;
            if (KwpBytes(response).size() < kMemoryAnswerHeader + n ||
                upload.AddMemoryAnswer(address, response) < 0) {
                return kUnexpectedResponse;
            }
            address += n;
            left -= n;
            read += n;
            const auto percent = static_cast<int32_t>(read * 100 / total);
            if (percent != lastPercent) {
                lastPercent = percent;
                RaiseProgress(0, static_cast<int16_t>(10 + percent / 2),
                              FormatText("Upload Memory: %d %%", percent));
            }
        }
    }
    return kResultOk;
}

int32_t CSKwp2000::ReadIdentValue(const std::string& request, uint8_t option,
                                  KwpUploadValues& upload) {
    std::string response;
    const int32_t read = DataTransfer(request, response, true, true);
    if (read == kResultCommunication || read == kResultFailure || read == kResultTimeout) {
        return read;
    }
    const std::vector<uint8_t> answer = KwpBytes(response);
    KwpIdentValue value;
    value.option = option;
    value.valid = read == kResultOk && answer.size() > kDataOffset;
    if (value.valid) value.value = IdentValueText(answer);
    upload.ident.push_back(value);
    return kResultOk;
}

int32_t CSKwp2000::UploadIdent(CEcuKwp2000& ecu) {
    KwpUploadValues& upload = ecu.KwpUpload();
    // A model with its own identification table reads each entry with ReadEcuIdentification,
    // the low byte of the entry's word being the option.
    for (const KwpIdentName& name : ecu.IdentNames()) {
        const auto option = static_cast<uint8_t>(name.word & 0xFF);
        const int32_t result =
            ReadIdentValue(FormatText("%02X %02X", 0x1A, option), option, upload);
        if (result < 0) return result;
    }
    if (!ecu.IdentNames().empty()) return kResultOk;
    std::string response;
    const int32_t result =
        DataTransfer(FormatText("%02X %02X", 0x1A, kIdentList), response, true, true);
    if (result < 0) return result;
    const std::vector<uint8_t> list = KwpBytes(response);
    for (std::size_t i = kDataOffset; i < list.size(); ++i) {
        const uint8_t option = list[i];
        if (option < kFirstListedIdent || option > kLastListedIdent) continue;
        const int32_t read = ReadIdentValue(FormatText("%02X %02X", 0x1A, option), option, upload);
        if (read < 0) return read;
    }
    return kResultOk;
}

int32_t CSKwp2000::UploadEvents(CEcuKwp2000& ecu) {
    KwpUploadValues& upload = ecu.KwpUpload();
    std::string response;
    int32_t result = DataTransfer(
        FormatText("%02X %s %02X %02X", 0x18, parameters_.kwp.dtcStatusText.c_str(), 0xFF, 0xFF),
        response, true, true);
    if (result < 0) return result;
    const std::vector<uint8_t> list = KwpBytes(response);
    if (list.size() < kDataOffset) return kUnexpectedResponse;
    upload.eventListText = response;
    const std::size_t listed = std::min<std::size_t>(list[1], kMaxEvents);
    const std::size_t present = std::min(listed, (list.size() - kDataOffset) / kEventBytes);
    for (std::size_t i = 0; i < present; ++i) {
        const std::size_t at = kDataOffset + i * kEventBytes;
        result = DataTransfer(FormatText("%02X %02X %02X", 0x17, list[at], list[at + 1]), response,
                              true, true);
        if (result < 0) return result;
        if (upload.AddEvent(response) < 0) return kUnexpectedResponse;
    }
    return present < listed ? kUnexpectedResponse : kResultOk;
}

int32_t CSKwp2000::UploadSid(CEcuKwp2000& ecu) {
    for (const std::string& entry : parameters_.kwp.sidRequests) {
        std::string request = entry;
        std::replace(request.begin(), request.end(), kSidBlank, ' ');
        std::string response;
        const int32_t result = DataTransfer(request, response, true, true);
        if (result < 0) return result;
        ecu.KwpUpload().sidLines.push_back("SID_" + entry + "= " + response + "|");
    }
    return kResultOk;
}

}  // namespace diagbridge
