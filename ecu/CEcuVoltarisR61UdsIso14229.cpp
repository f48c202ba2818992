#include "ecu/CEcuVoltarisR61UdsIso14229.h"

namespace diagbridge {

namespace {

constexpr UdsIdentifierStyle kVoltarisStyle = {"ECU_FUNCTIONAL", "FECU", true, false};
constexpr uint32_t kFunctionalId = 0x18DBFFFA;
constexpr int32_t kSingleRequestTimeoutMs = 5000;
constexpr int32_t kUploadTimeoutMs = 120000;
constexpr int32_t kDownloadTimeoutMs = 600000;
constexpr int32_t kJobTimeoutMs = 180000;
constexpr int32_t kProgrammingAccess = 2;
// The family name its configuration text starts with, for both controllers.
constexpr const char* kConfigurationKeyword = "R6X";
constexpr uint32_t kAllSteps = (1u << CEcuVoltarisR61UdsIso14229::kAccessSteps) - 1;

}  // namespace

CEcuVoltarisR61UdsIso14229::CEcuVoltarisR61UdsIso14229(CSoftwareInterface* communicationObject,
                                                       const std::string& parameter,
                                                       const Controller& controller)
    : CEcuUdsModel(communicationObject, controller.keyword, kMakerName, kVoltarisStyle) {
    UdsParameterBlock& uds = parameters_.uds;
    uds = UdsParameterBlock{};
    uds.requestId = controller.ecuField;
    uds.responseId = controller.testerField;
    uds.functionalId = kFunctionalId;
    uds.timeouts.singleRequest = kSingleRequestTimeoutMs;
    uds.timeouts.upload = kUploadTimeoutMs;
    uds.timeouts.download = kDownloadTimeoutMs;
    uds.timeouts.job = kJobTimeoutMs;
    uds.programmingAccess = kProgrammingAccess;
    uds.crcInDependencyCheck = true;
    SetPermissions(false, false, false, false);
    SetConfigurationKeyword(kConfigurationKeyword);
    ApplyCreationString(parameter);
    InitPredefinedAccess();
    EnableAccessSteps(kAllSteps);
    PrepareFingerprints(Today());
}

int32_t CEcuVoltarisR61UdsIso14229::InitPredefinedAccess() {
    accessCount_ = 0;
    for (const AccessStep& step :
         CEcuT6xUdsIso14229::OrlanAccessSequences(Today(), User(), kKeyConstants)) {
        AddAccessStep(step);
    }
    return accessCount_;
}

CEcuVoltarisR61UdsIso14229MotorController::CEcuVoltarisR61UdsIso14229MotorController(
    CSoftwareInterface* communicationObject, const std::string& parameter)
    : CEcuVoltarisR61UdsIso14229(communicationObject, parameter,
                                 {kKeyword, 0x18DAFAF1, 0x18DAF1FA}) {}

std::unique_ptr<CEcu> CEcuVoltarisR61UdsIso14229MotorController::Create(
    CSoftwareInterface* communicationObject, const std::string& parameter) {
    return std::make_unique<CEcuVoltarisR61UdsIso14229MotorController>(communicationObject,
                                                                       parameter);
}

CEcuVoltarisR61UdsIso14229SafetyController::CEcuVoltarisR61UdsIso14229SafetyController(
    CSoftwareInterface* communicationObject, const std::string& parameter)
    : CEcuVoltarisR61UdsIso14229(communicationObject, parameter,
                                 {kKeyword, 0x18DAFAF2, 0x18DAF2FA}) {}

std::unique_ptr<CEcu> CEcuVoltarisR61UdsIso14229SafetyController::Create(
    CSoftwareInterface* communicationObject, const std::string& parameter) {
    return std::make_unique<CEcuVoltarisR61UdsIso14229SafetyController>(communicationObject,
                                                                        parameter);
}

}  // namespace diagbridge
