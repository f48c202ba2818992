// Upload of the T40 communication object: header, ident, event memory, adaption and BDS
// memory sections.

#include <algorithm>

#include "ecu/CEcuT40.h"
#include "ecu/KwpUploadValues.h"
#include "platform/SystemInfo.h"
#include "t40kalidor/CST40.h"
#include "t40kalidor/T40EventText.h"
#include "t40kalidor/T40Ident.h"

namespace diagbridge {

namespace {
constexpr const char* kAxleRequest = "19 04 04 2E E6";
constexpr const char* kEventRequest = "07";
constexpr uint32_t kBlockBytes = 0x80;
constexpr uint8_t kH4ReadCommand = 0x01;
constexpr uint8_t kH5ReadCommand = 0x19;
constexpr uint32_t kH4AdaptionStart = 0x33D80;
constexpr uint32_t kH5AdaptionStart = 0x43D80;
constexpr uint32_t kH5BdsStart = 0x43640;
constexpr uint32_t kAdaptionBlocks = 4;
constexpr uint32_t kBdsBlocks = 3;
// Response code and its blank in front of a memory block's data.
constexpr std::size_t kMemoryDataOffset = 3;

std::string Line(const std::string& text) {
    return text + "|";
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string HardwareLine(const std::string& version) {
    if (version == "H5") return "TheHardware=T40H5|";
    if (version == "0.0" || version == "???????") return "TheHardware=T40H4|";
    return "TheHardware=T4X|";
}
}  // namespace

void CST40::NoteUploadResult(int32_t result) {
    if (result == kResultCommunication || result == kResultTimeout) uploadResult_ = result;
}

void CST40::UploadTransfer(const std::string& request, std::string& response) {
    NoteUploadResult(DataTransfer(request, response, false, true));
}

std::string CST40::HeaderSection(CEcuT4X& ecu) {
    std::string response;
    UploadTransfer(kAxleRequest, response);
    const std::vector<uint8_t> axle = T40Bytes(response);
    uint32_t value = 0;
    for (std::size_t i = 4; i >= 1; --i) value = (value << 8) | (i < axle.size() ? axle[i] : 0);
    int32_t result = kResultOk;
    const std::string hardware = ReadHardwareVersion(result);
    std::vector<uint8_t> block;
    NoteUploadResult(result);
    NoteUploadResult(ReadIdentBlock(block));
    identHardware_ = hardware;
    identBlock_ = block;
    return Line(ecu.HeaderText(CEcuT4X::kHeaderHeading)) +
           Line("Version=" + ecu.HeaderText(CEcuT4X::kHeaderVersion)) +
           Line("Format=" + ecu.HeaderText(CEcuT4X::kHeaderFormat)) +
           Line("TheTime=" + Quoted(platform::LocalTimeText("%H:%M:%S"))) +
           Line("TheDate=" + Quoted(platform::LocalTimeText("%Y-%m-%d"))) +
           Line("TheUser=" + ecu.HeaderText(CEcuT4X::kHeaderUser)) +
           Line("TheObject=" + T40IdentValue(block, "TRANSMISSIONTYPE")) + HardwareLine(hardware) +
           Line("TheSoftware=" + T40IdentValue(block, "SOFTWAREVERSION")) +
           Line("TheDataset=" + T40IdentValue(block, "DATASETACTUAL")) +
           Line(FormatText("iAxle=%d", static_cast<int>(value & 0xFFFF))) +
           Line(FormatText("rDyn=%d", static_cast<int>(value >> 16)));
}

std::string CST40::IdentSection(CEcuT4X& /*ecu*/) {
    const auto field = [this](const char* key) {
        return Quoted(T40IdentValue(identBlock_, key)) + "|";
    };
    return "[IdentMem]|Ident8A=\"ORLAN\"|Ident8C=" + field("SERIALNUMBER") +
           "Ident8E=" + field("TRANSMISSIONTYPE") + "Ident93=" + Quoted(identHardware_) +
           "|Ident94=\"\"|Ident95=" + field("SOFTWAREVERSION") +
           "IdentB0=" + field("SOFTWAREPARTNUMBER") +
           "IdentB3=\"\"|IdentB4=" + field("DATASETACTUAL") + "IdentB5=" + field("ECUNUMBER") +
           "IdentBA=" + field("TRANSMISSIONTYPE");
}

std::string CST40::EventSection() {
    std::string response;
    UploadTransfer(kEventRequest, response);
    return T40EventSectionText(response);
}

std::string CST40::MemorySection(const char* heading, uint32_t start, uint32_t blocks) {
    const uint8_t command = ecuType_ == "T40H5" ? kH5ReadCommand : kH4ReadCommand;
    std::string text = Line(heading);
    for (uint32_t block = 1; block <= blocks; ++block) {
        const uint32_t offset = (block - 1) * kBlockBytes;
        const uint32_t address = start + offset;
        std::string response;
        UploadTransfer(FormatText("%02X %02X %02X %02X %02X", command, kBlockBytes,
                                  (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF),
                       response);
        std::string data = response.size() > kMemoryDataOffset ? response.substr(kMemoryDataOffset)
                                                               : std::string();
        data.erase(std::remove(data.begin(), data.end(), ' '), data.end());
        text += FormatText("%5.5d=:80%4.4X00", static_cast<int>(block), offset) + data + "00|";
    }
    return text + FormatText("%5.5d=:00000001FF|", static_cast<int>(blocks + 1));
}

int32_t CST40::ServiceUpload(ServiceOrder /*order*/) {
    auto* ecu = dynamic_cast<CEcuT4X*>(AttachedEcu());
    if (ecu == nullptr) return kResultFailure;
    RaiseProgress(0, 0, "ServiceUpload: Start");
    RaiseProgress(1, 10, "ServiceUpload: Get Ident Data: ");
    uploadResult_ = kResultOk;
    NoteUploadResult(ReadEcuType());
    if (uploadResult_ != kResultOk) return uploadResult_;
    RaiseProgress(2, 20, "Get Info Data");
    const std::string header = HeaderSection(*ecu);
    RaiseProgress(3, 40, "Get Ident Data");
    const std::string ident = IdentSection(*ecu);
    RaiseProgress(4, 60, "Get Event Data");
    const std::string events = EventSection();
    std::string memory;
    if (ecuType_ == "T40H5") {
        RaiseProgress(5, 80, "Upload Memory H5");
        memory = MemorySection("[T40ADAPTION]", kH5AdaptionStart, kAdaptionBlocks) +
                 MemorySection("[T40BDS]", kH5BdsStart, kBdsBlocks);
    } else if (ecuType_ == "T40H4") {
        RaiseProgress(5, 80, "Upload Memory H4");
        memory = MemorySection("[T40ADAPTION]", kH4AdaptionStart, kAdaptionBlocks);
    }
    // A line that failed on the way leaves the upload text empty: half a controller is no upload.
    if (uploadResult_ != kResultOk) return uploadResult_;
    RaiseProgress(6, 90, "Create Upload Data Format 1");
    ecu->SetUploadText(header + ident + events + memory);
    RaiseProgress(7, 100, "ServiceUpload: Finished");
    return kResultOk;
}

}  // namespace diagbridge
