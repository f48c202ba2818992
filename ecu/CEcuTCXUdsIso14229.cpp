#include "ecu/CEcuTCXUdsIso14229.h"

namespace diagbridge {

namespace {

constexpr UdsIdentifierStyle kTcxStyle = {"TESTER_FUNCTIONAL", "FTESTER", false, true};
constexpr int32_t kSingleRequestTimeoutMs = 500;
constexpr int32_t kUploadTimeoutMs = 120000;
constexpr int32_t kDownloadTimeoutMs = 600000;
constexpr int32_t kJobTimeoutMs = 180000;
constexpr int32_t kProgrammingAccess = 0;
constexpr uint32_t kAllSteps = (1u << CEcuTCXUdsIso14229::kAccessSteps) - 1;
constexpr uint16_t kShortSeedResponse = 4;  // 67, level, 16-bit seed
constexpr uint16_t kLongSeedResponse = 6;   // 67, level, 32-bit seed

}  // namespace

const std::array<UdsIdentEntry, CEcuTCXUdsIso14229::kIdentEntries> CEcuTCXUdsIso14229::kIdentTable =
    {{
        {"22 F1 8C", "Seriennummer", ""},
        {"22 F1 92", "Artikelnummer", ""},
        {"22 F1 F5", "Hardwarenummer", ""},
        {"22 F1 93", "Hardwarekennung", ""},
        {"22 F1 50", "HardwareVersion", "D1_D1_D1"},
        {"22 F1 F4", "HerstelldatumHardware", "A4_A2_A2_A2"},
        {"22 F1 51", "SoftwareVersion", "D1_D1_D1"},
        {"22 F1 94", "EcuSoftwareNumber", ""},
        {"22 F1 95", "Software", ""},
        {"22 F1 5B", "SoftwareFingerprint", "H1_D2_D3_I4"},
        {"22 F1 53", "BootSoftwareVersion", "D1_D1_D1"},
        {"22 F1 F3", "Retardertyp", ""},
        {"22 F1 FD", "PartNumberRetarder", ""},
        {"22 F1 FB", "SerialNumberRetarder", ""},
        {"22 F1 16", "SachnummerKunde", ""},
        {"22 F1 26", "MercedesTruckSoftware", ""},
        {"22 F1 90", "VinOriginal", ""},
        {"22 F1 A0", "VinCurrent", ""},
    }};

CEcuTCXUdsIso14229::CEcuTCXUdsIso14229(CSoftwareInterface* communicationObject,
                                       const std::string& parameter)
    : CEcuUdsModel(communicationObject, kKeyword, "", kTcxStyle) {
    UdsParameterBlock& uds = parameters_.uds;
    uds = UdsParameterBlock{};
    uds.requestId = 0x18DA0FF1;
    uds.responseId = 0x18DAF10F;
    uds.functionalId = 0x18DBFFF1;
    uds.useFillByte = 1;
    uds.timeouts.singleRequest = kSingleRequestTimeoutMs;
    uds.timeouts.upload = kUploadTimeoutMs;
    uds.timeouts.download = kDownloadTimeoutMs;
    uds.timeouts.job = kJobTimeoutMs;
    uds.programmingAccess = kProgrammingAccess;
    uds.crcInDependencyCheck = true;
    uds.identHeading = kIdentHeading;
    uds.identTable.assign(kIdentTable.begin(), kIdentTable.end());
    SetPermissions(true, true, true, false);
    ApplyCreationString(parameter);
    FillAccessTable(Today());
    EnableAccessSteps(kAllSteps);
}

std::unique_ptr<CEcu> CEcuTCXUdsIso14229::Create(CSoftwareInterface* communicationObject,
                                                 const std::string& parameter) {
    return std::make_unique<CEcuTCXUdsIso14229>(communicationObject, parameter);
}

void CEcuTCXUdsIso14229::FillAccessTable(const CalendarDate& date) {
    struct Row {
        const char* session;
        const char* seed;
        const char* key;
    };
    static constexpr Row kRows[kAccessSteps] = {
        {"10 02", "27 05", "27 06"}, {"10 03", "27 01", "27 02"}, {"10 60", "27 61", "27 62"},
        {"10 61", "27 63", "27 64"}, {"10 62", "27 65", "27 66"},
    };
    accessCount_ = 0;
    for (std::size_t i = 0; i < kAccessSteps; ++i) {
        AccessStep step;
        step.sessionRequest = kRows[i].session;
        step.seedRequest = kRows[i].seed;
        step.keyRequestPrefix = kRows[i].key;
        step.keyMultiplier = kKeyConstants[i].multiplier;
        step.keyAddend = kKeyConstants[i].addend;
        AddAccessStep(step);
    }
    accessTable_[0].writeRequests[0] =
        "2E F1 5A 00 00 5B " + DateBinary(date) + " " + kTesterSerial;
}

std::string CEcuTCXUdsIso14229::BuildMemorySection() {
    const UdsParameterBlock& uds = parameters_.uds;
    return IntelHexSection("[EEPROM]", uds.memoryStart, uds.memoryChunk, uploadData_.memoryLines);
}

std::string CEcuTCXUdsIso14229::BuildAccessRequest(const AccessStep& step,
                                                   const std::string& response) {
    ShortByteBuffer bytes;
    if (!ReadSeedResponse(response, bytes)) return {};
    const KeyConstants constants = {step.keyMultiplier, step.keyAddend};
    const uint8_t* seed = bytes.data + 2;
    if (bytes.length == kShortSeedResponse) {
        const auto seed16 = static_cast<uint16_t>((seed[0] << 8) | seed[1]);
        return KeyRequest(step.keyRequestPrefix, Key16(seed16, constants), 2);
    }
    if (bytes.length == kLongSeedResponse) {
        const uint32_t seed32 = (static_cast<uint32_t>(seed[0]) << 24) |
                                (static_cast<uint32_t>(seed[1]) << 16) |
                                (static_cast<uint32_t>(seed[2]) << 8) | seed[3];
        return KeyRequest(step.keyRequestPrefix, Key32(seed32, constants), 4);
    }
    return {};
}

}  // namespace diagbridge
