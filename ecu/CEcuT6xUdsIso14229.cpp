#include "ecu/CEcuT6xUdsIso14229.h"

namespace diagbridge {

namespace {

constexpr UdsIdentifierStyle kT6xStyle = {"TESTER_FUNCTIONAL", "FTESTER", false, true};
constexpr int32_t kSingleRequestTimeoutMs = 500;
constexpr int32_t kUploadTimeoutMs = 120000;
constexpr int32_t kDownloadTimeoutMs = 600000;
constexpr int32_t kJobTimeoutMs = 180000;
constexpr uint32_t kAllSteps = (1u << CEcuT6xUdsIso14229::kAccessSteps) - 1;
constexpr uint32_t Steps(std::initializer_list<int> steps) {
    uint32_t mask = 0;
    for (int step : steps) mask |= 1u << step;
    return mask;
}

// The F198/F19A writes of steps 8 to 10: tester serial, a fixed byte, the workshop code and
// three reserved bytes.
constexpr const char* kRepairShopRecord = "01 02 03 04 FF 08 15 00 00 00";

const CEcuT6xUdsIso14229::Variant kT6x = {
    CEcuT6xUdsIso14229::kKeyword, CEcu::kMakerName, false, false, kAllSteps, 2, true, false, 0};
const CEcuT6xUdsIso14229::Variant kT601 = {
    CEcuT601UdsIso14229::kKeyword, CEcu::kMakerName, true, true, kAllSteps, 2, true, true, 1};
const CEcuT6xUdsIso14229::Variant kT601A = {
    CEcuT601UdsIso14229_A::kKeyword, "UDS_A MAN", false, false, 0, 2, false, false, 1};
const CEcuT6xUdsIso14229::Variant kT601B = {CEcuT601UdsIso14229_B::kKeyword,
                                            "UDS_B EvoBus",
                                            false,
                                            false,
                                            Steps({5, 6, 7}),
                                            5,
                                            false,
                                            false,
                                            1};
const CEcuT6xUdsIso14229::Variant kT601C = {
    CEcuT601UdsIso14229_C::kKeyword, "UDS_C VOLVO", false, false, 0, 2, false, false, 1};
const CEcuT6xUdsIso14229::Variant kT601D = {CEcuT601UdsIso14229_D::kKeyword,
                                            "UDS_D Scania",
                                            false,
                                            false,
                                            Steps({8, 9, 10}),
                                            8,
                                            false,
                                            false,
                                            1};
const CEcuT6xUdsIso14229::Variant kT601E = {CEcuT601UdsIso14229_E::kKeyword,
                                            "UDS_E Irisbus",
                                            false,
                                            false,
                                            Steps({11, 12}),
                                            11,
                                            false,
                                            false,
                                            1};

AccessStep Step(const char* session, const char* seed, const char* key, std::string write,
                std::string after, std::string fallback, KeyConstants constants) {
    AccessStep step;
    step.sessionRequest = session;
    step.seedRequest = seed;
    step.keyRequestPrefix = key;
    step.writeRequests[0] = std::move(write);
    step.writeRequests[1] = std::move(after);
    step.writeRequests[2] = std::move(fallback);
    step.keyMultiplier = constants.multiplier;
    step.keyAddend = constants.addend;
    step.enabled = true;
    return step;
}

template <typename T>
std::unique_ptr<CEcu> Make(CSoftwareInterface* communicationObject, const std::string& parameter) {
    return std::make_unique<T>(communicationObject, parameter);
}

}  // namespace

CEcuT6xUdsIso14229::CEcuT6xUdsIso14229(CSoftwareInterface* communicationObject,
                                       const std::string& parameter)
    : CEcuT6xUdsIso14229(communicationObject, parameter, kT6x) {}

CEcuT6xUdsIso14229::CEcuT6xUdsIso14229(CSoftwareInterface* communicationObject,
                                       const std::string& parameter, const Variant& variant)
    : CEcuUdsModel(communicationObject, variant.keyword, variant.maker, kT6xStyle) {
    SetFamilyDefaults(variant);
    // Permissions are defaults: the creation string may change them.
    SetPermissions(true, variant.upload, variant.download, false);
    ApplyCreationString(parameter);
    InitPredefinedAccess();
    EnableAccessSteps(variant.enabledSteps);
    if (variant.fingerprint) PrepareFingerprints(Today());
}

void CEcuT6xUdsIso14229::SetFamilyDefaults(const Variant& variant) {
    UdsParameterBlock& uds = parameters_.uds;
    uds = UdsParameterBlock{};
    uds.requestId = 0x18DA03F1;
    uds.responseId = 0x18DAF103;
    uds.functionalId = 0x18DBFFF1;
    uds.timeouts.singleRequest = kSingleRequestTimeoutMs;
    uds.timeouts.upload = kUploadTimeoutMs;
    uds.timeouts.download = kDownloadTimeoutMs;
    uds.timeouts.job = kJobTimeoutMs;
    uds.programmingAccess = variant.programmingAccess;
    uds.crcInDependencyCheck = false;
    if (variant.memoryArea) {
        uds.memoryStart = kT601MemoryStart;
        uds.memoryLength = kT601MemoryLength;
        uds.memoryChunk = kT601RecordLength;
    }
    parameters_.downloadOption = variant.downloadOption;
}

std::unique_ptr<CEcu> CEcuT6xUdsIso14229::Create(CSoftwareInterface* communicationObject,
                                                 const std::string& parameter) {
    return Make<CEcuT6xUdsIso14229>(communicationObject, parameter);
}

int32_t CEcuT6xUdsIso14229::InitPredefinedAccess() {
    accessCount_ = 0;
    for (const AccessStep& step : OrlanAccessSequences(Today(), User(), kKeyConstants)) {
        AddAccessStep(step);
    }
    return accessCount_;
}

std::string CEcuT6xUdsIso14229::BuildMemorySection() {
    const UdsParameterBlock& uds = parameters_.uds;
    return IntelHexSection("[FRAM]", uds.memoryStart, uds.memoryChunk, uploadData_.memoryLines);
}

std::vector<AccessStep> CEcuT6xUdsIso14229::OrlanAccessSequences(
    const CalendarDate& date, const std::string& user,
    const std::array<KeyConstants, kAccessSteps>& k) {
    const std::string longRecord = FingerprintRecord(date, user, kLongFingerprint);
    const std::string shortRecord = FingerprintRecord(date, user, kShortFingerprint);
    const std::string development = "2E FE FE " + longRecord;
    const std::string binaryDate = DateBinary(date);
    const std::string decimalDate = DateDecimal(date);
    auto workshop = [&](const char* identifier) {
        return std::string("2E F1 ") + identifier + " 00 00 5B " + binaryDate + " " + kTesterSerial;
    };
    auto repairShop = [&](const char* identifier) {
        return std::string("2E F1 ") + identifier + " " + kRepairShopRecord;
    };
    auto programmingDate = [&](const char* identifier) {
        return std::string("2E F1 ") + identifier + " " + decimalDate;
    };
    return {
        Step("10 01", "", "", "", "", "", k[0]),
        Step("10 01", "", "", "2E FE FF " + longRecord, "", "2E FE FF " + shortRecord, k[1]),
        Step("10 02", "27 61", "27 62", development, "", "", k[2]),
        Step("10 03", "27 61", "27 62", development, "", "", k[3]),
        Step("10 40", "27 61", "27 62", development, "", "", k[4]),
        Step("10 02", "27 05", "27 06", workshop("5A"), "", "", k[5]),
        Step("10 03", "27 07", "27 08", workshop("5C"), "", "", k[6]),
        Step("10 03", "27 09", "27 0A", workshop("5E"), "", "", k[7]),
        Step("10 02", "27 01", "27 02", repairShop("98"), programmingDate("99"), "", k[8]),
        Step("10 03", "27 01", "27 02", repairShop("9A"), programmingDate("9B"), "", k[9]),
        Step("10 03", "27 03", "27 04", repairShop("9A"), programmingDate("9B"), "", k[10]),
        Step("", "", "", "", "", "", k[11]),
        Step("", "", "", "", "", "", k[12]),
    };
}

CEcuT601UdsIso14229::CEcuT601UdsIso14229(CSoftwareInterface* communicationObject,
                                         const std::string& parameter)
    : CEcuT6xUdsIso14229(communicationObject, parameter, kT601) {}

std::unique_ptr<CEcu> CEcuT601UdsIso14229::Create(CSoftwareInterface* communicationObject,
                                                  const std::string& parameter) {
    return Make<CEcuT601UdsIso14229>(communicationObject, parameter);
}

CEcuT601UdsIso14229_A::CEcuT601UdsIso14229_A(CSoftwareInterface* communicationObject,
                                             const std::string& parameter)
    : CEcuT6xUdsIso14229(communicationObject, parameter, kT601A) {}

std::unique_ptr<CEcu> CEcuT601UdsIso14229_A::Create(CSoftwareInterface* communicationObject,
                                                    const std::string& parameter) {
    return Make<CEcuT601UdsIso14229_A>(communicationObject, parameter);
}

CEcuT601UdsIso14229_B::CEcuT601UdsIso14229_B(CSoftwareInterface* communicationObject,
                                             const std::string& parameter)
    : CEcuT6xUdsIso14229(communicationObject, parameter, kT601B) {}

std::unique_ptr<CEcu> CEcuT601UdsIso14229_B::Create(CSoftwareInterface* communicationObject,
                                                    const std::string& parameter) {
    return Make<CEcuT601UdsIso14229_B>(communicationObject, parameter);
}

CEcuT601UdsIso14229_C::CEcuT601UdsIso14229_C(CSoftwareInterface* communicationObject,
                                             const std::string& parameter)
    : CEcuT6xUdsIso14229(communicationObject, parameter, kT601C) {}

std::unique_ptr<CEcu> CEcuT601UdsIso14229_C::Create(CSoftwareInterface* communicationObject,
                                                    const std::string& parameter) {
    return Make<CEcuT601UdsIso14229_C>(communicationObject, parameter);
}

CEcuT601UdsIso14229_D::CEcuT601UdsIso14229_D(CSoftwareInterface* communicationObject,
                                             const std::string& parameter)
    : CEcuT6xUdsIso14229(communicationObject, parameter, kT601D) {}

std::unique_ptr<CEcu> CEcuT601UdsIso14229_D::Create(CSoftwareInterface* communicationObject,
                                                    const std::string& parameter) {
    return Make<CEcuT601UdsIso14229_D>(communicationObject, parameter);
}

CEcuT601UdsIso14229_E::CEcuT601UdsIso14229_E(CSoftwareInterface* communicationObject,
                                             const std::string& parameter)
    : CEcuT6xUdsIso14229(communicationObject, parameter, kT601E) {}

std::unique_ptr<CEcu> CEcuT601UdsIso14229_E::Create(CSoftwareInterface* communicationObject,
                                                    const std::string& parameter) {
    return Make<CEcuT601UdsIso14229_E>(communicationObject, parameter);
}

}  // namespace diagbridge
