#include "devices/CDCSamtecKWP2000.h"

namespace diagbridge {

namespace member = samdiax::member;

namespace {

constexpr int32_t kNoControl = -1;
constexpr int32_t kModeKline = 0;
constexpr int32_t kLinkOpen = 0;
constexpr int32_t kLinkClosed = -1;
constexpr int32_t kRunning = 1;
constexpr int32_t kNoAdapter = 1;

// Adapter parameters and protocol settings of the K-line.
constexpr int32_t kBus = 1000;
constexpr int32_t kProtocol = 1030;
constexpr int32_t kTimingApplied = 20009;
constexpr int32_t kP2Min = 20101;
constexpr int32_t kP2Max = 20001;
constexpr int32_t kP3Min = 20102;
constexpr int32_t kP3Max = 20002;
constexpr int32_t kP4Min = 20103;
constexpr int32_t kEcuSetting = 5;
constexpr int32_t kTesterSetting = 38;
constexpr int32_t kSetting35 = 35;
constexpr int32_t kSetting37 = 37;
constexpr int32_t kSetting39 = 39;

constexpr const char* kTesterPresent = "3E";
constexpr const char* kTesterPresentAnswer = "7E";

}  // namespace

CDCSamtecKWP2000::CDCSamtecKWP2000(const EcuParameterBlock& configuration,
                                   const InterfaceSettings& settings)
    : CDeviceContainer(configuration, settings),
      tester_(configuration.kwp.testerAddress),
      ecu_(configuration.kwp.ecuAddress) {}

bool CDCSamtecKWP2000::Create() {
    binding_ = std::make_unique<samdiax::SamDiaXBinding>(samdiax::CreateControl());
    if (!binding_->IsBound()) {
        binding_.reset();
        description = kNotAvailable;
        return true;
    }
    description = kDescriptionPrefix + binding_->Firmware();
    binding_->PutFlag(member::kOption2, false);
    binding_->PutFlag(member::kOption19, false);
    binding_->PutFlag(member::kOption26, false);
    binding_->PutParametersMember(member::kParametersOption13, false);
    binding_->PutFlag(member::kOption43, true);
    binding_->PutInt(member::kMode, kModeKline);
    return true;
}

int32_t CDCSamtecKWP2000::DevOpen() {
    if (!binding_) return kNoControl;
    auto detection = binding_->Detection();
    if (!detection) return kNoAdapter;
    detection->Put(member::kDetectionOption1, -1);
    detection->Put(member::kDetectionOption2, 1);
    if (!binding_->RunDetection()) return kNoAdapter;
    auto found = samdiax::AsObject(detection->Get(member::kFound));
    if (!found || samdiax::AsInt(found->Get(member::kFoundCount)) < 1) return kNoAdapter;
    binding_->PutFlag(member::kOption26, false);
    if (binding_->CallInt(member::kRunning) == kRunning) {
        binding_->CallInt(member::kStopCommunication);
    }
    if (binding_->CallInt(member::kRunning) == kRunning) return -1;
    binding_->PutInt(member::kLinkState, kLinkOpen);
    binding_->SetParameter(kBus, 1);
    binding_->SetParameter(kProtocol, 1);
    binding_->SetParameter(kTimingApplied, 0);
    binding_->SetSetting(kSetting37, "0");
    binding_->SetSetting(kSetting39, "0");
    WriteAddresses();
    binding_->SetSetting(kSetting35, "3000");
    return 0;
}

void CDCSamtecKWP2000::WriteAddresses() {
    binding_->SetSetting(kEcuSetting, std::to_string(ecu_));
    binding_->SetSetting(kTesterSetting, std::to_string(tester_));
}

int32_t CDCSamtecKWP2000::DevClose() {
    if (!binding_) return kNoControl;
    if (binding_->CallInt(member::kRunning) == kRunning) {
        binding_->CallInt(member::kStopCommunication);
    }
    binding_->PutInt(member::kLinkState, kLinkClosed);
    return 0;
}

int32_t CDCSamtecKWP2000::DevConnect() {
    if (!binding_) return kNoControl;
    return binding_->CallInt(member::kStartCommunication) > 0 ? 0 : -1;
}

int32_t CDCSamtecKWP2000::DevDisconnect() {
    if (!binding_) return kNoControl;
    binding_->CallInt(member::kStopCommunication);
    return 0;
}

int32_t CDCSamtecKWP2000::DevTransferData(std::string request, std::string& response) {
    if (!binding_) return kNoControl;
    if (request.find_first_not_of(" \t\r\n") == std::string::npos) return 0;
    const int32_t result = binding_->Transfer(request, response);
    if (result < 0) lastError_ = binding_->LastError();
    return result;
}

int32_t CDCSamtecKWP2000::DevSetTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                                       int32_t p4min) {
    if (!binding_) return kNoControl;
    DevDisconnect();
    DevUseTiming(p2min, p2max, p3min, p3max, p4min);
    DevConnect();
    return 0;
}

int32_t CDCSamtecKWP2000::DevUseTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                                       int32_t p4min) {
    if (!binding_) return kNoControl;
    binding_->SetParameter(kP2Min, p2min);
    binding_->SetParameter(kP2Max, p2max);
    binding_->SetParameter(kP3Min, p3min);
    binding_->SetParameter(kP3Max, p3max);
    binding_->SetParameter(kP4Min, p4min);
    binding_->SetParameter(kTimingApplied, 0);
    return 0;
}

int32_t CDCSamtecKWP2000::DevSetAddress(uint8_t tester, uint8_t ecu) {
    if (!binding_) return kNoControl;
    tester_ = tester;
    ecu_ = ecu;
    WriteAddresses();
    return 0;
}

int32_t CDCSamtecKWP2000::DevTesterPresent() {
    if (!binding_) return -7;
    std::string response;
    if (binding_->Transfer(kTesterPresent, response) < 0) return -1;
    return response == kTesterPresentAnswer ? 0 : -1;
}

}  // namespace diagbridge
