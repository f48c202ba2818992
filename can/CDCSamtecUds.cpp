#include "can/CDCSamtecUds.h"

#include "engine/CSoftwareInterface.h"
#include "platform/Notifier.h"

namespace diagbridge {

namespace member = samdiax::member;

namespace {

constexpr int32_t kModeCan = 1;
constexpr int32_t kLinkOpen = 0;
constexpr int32_t kLinkClosed = -1;
constexpr int32_t kDetectionAll = -1;
constexpr int32_t kRunning = 1;
constexpr int32_t kAddressPhysical = 0;
constexpr int32_t kAddressFunctional = 1;

// Adapter parameter ids and the fixed values written at configuration.
constexpr int32_t kBus = 1000;
constexpr int32_t kProtocol = 1030;
constexpr int32_t kProtocolUdsOnCan = 44;
constexpr int32_t kParameter10219 = 10219;
constexpr int32_t kBitRate = 10000;
constexpr int32_t kFrame = 10201;
constexpr int32_t kUseFill = 60206;
constexpr int32_t kFill = 60236;
constexpr int32_t kTesterAddress = 60205;
constexpr int32_t kTesterAddressValue = 0xF1;
constexpr int32_t kRequestId = 10205;
constexpr int32_t kResponseId = 10207;
constexpr int32_t kFunctionalId = 10505;
constexpr int32_t kParameter10003 = 10003;
constexpr int32_t kAddressMode = 10206;
constexpr int32_t kKeepAliveMode = 10004;
constexpr int32_t kKeepAliveMessage = 10006;
constexpr int32_t kKeepAliveFunctional = 10506;

constexpr const char* kTesterPresentProbe = "3E 80";
constexpr const char* kTesterPresentConnect = "3E 00";

}  // namespace

CDCSamtecUds::CDCSamtecUds(const EcuParameterBlock& configuration,
                           const UdsInterfaceSettings& settings)
    : CDeviceContainer(configuration, InterfaceSettings{}), interface_(settings) {}

bool CDCSamtecUds::Create() {
    binding_ = std::make_unique<samdiax::SamDiaXBinding>(samdiax::CreateControl());
    if (!binding_->IsBound()) {
        platform::Notify(kNotAvailable);
        binding_.reset();
        return true;
    }
    description = kDescriptionPrefix + binding_->Firmware();
    binding_->PutFlag(member::kOption2, false);
    binding_->PutParametersMember(member::kParametersOption13, false);
    binding_->PutFlag(member::kOption19, false);
    binding_->PutFlag(member::kOption43, true);
    binding_->PutInt(member::kMode, kModeCan);
    binding_->PutFlag(member::kOption26, false);
    return true;
}

int32_t CDCSamtecUds::DevOpen() {
    if (!binding_) return kResultFailure;
    auto detection = binding_->Detection();
    if (!detection) return 1;
    detection->Put(member::kDetectionOption2, kDetectionAll);
    detection->Put(member::kDetectionOption1, kDetectionAll);
    if (auto found = samdiax::AsObject(detection->Get(member::kFound))) {
        found->Call(member::kRefresh);
    }
    if (!binding_->RunDetection()) return 1;
    if (!samdiax::AsBool(detection->Call(member::kAdapterFound))) return 1;
    binding_->PutInt(member::kLinkState, kLinkOpen);
    return 0;
}

int32_t CDCSamtecUds::DevConfigure(std::string /*settings*/) {
    if (!binding_) return kResultFailure;
    const UdsParameterBlock& uds = configuration_.uds;
    binding_->SetParameter(kBus, interface_.bus);
    binding_->SetParameter(kProtocol, kProtocolUdsOnCan);
    binding_->SetParameter(kParameter10219, 1);
    binding_->SetParameter(kBitRate, interface_.bitRate);
    binding_->SetParameter(kFrame, interface_.frame);
    binding_->SetParameter(kUseFill, uds.useFillByte);
    binding_->SetParameter(kFill, uds.fillByte);
    binding_->SetParameter(kTesterAddress, kTesterAddressValue);
    binding_->SetParameter(kRequestId, int64_t{uds.requestId});
    binding_->SetParameter(kResponseId, int64_t{uds.responseId});
    binding_->SetParameter(kFunctionalId, int64_t{uds.functionalId});
    binding_->SetParameter(kParameter10003, 1);
    binding_->SetParameter(kAddressMode, kAddressPhysical);
    DevSetChannelMode(uds.keepAliveMode);
    return 0;
}

int32_t CDCSamtecUds::DevClose() {
    if (!binding_) return kResultFailure;
    if (binding_->CallInt(member::kRunning) == kRunning) {
        binding_->CallInt(member::kStopCommunication);
    }
    binding_->PutInt(member::kLinkState, kLinkClosed);
    return 0;
}

int32_t CDCSamtecUds::DevConnect() {
    if (!binding_) return kResultFailure;
    if (binding_->CallInt(member::kStartCommunication) == 0) return -1;
    std::string response;
    const int32_t result = DevTransferDataEx(kAddressPhysical, kTesterPresentConnect, response);
    return result < 0 ? result : 0;
}

int32_t CDCSamtecUds::DevTransferDataEx(int32_t addressMode, std::string request,
                                        std::string& response) {
    if (!binding_) return kResultFailure;
    if (request.find_first_not_of(" \t\r\n") == std::string::npos) return 0;
    const UdsParameterBlock& uds = configuration_.uds;
    if (addressMode == kAddressPhysical) {
        binding_->SetParameter(kAddressMode, kAddressPhysical);
        binding_->SetParameter(kRequestId, int64_t{uds.requestId});
    } else if (addressMode == kAddressFunctional) {
        binding_->SetParameter(kAddressMode, kAddressFunctional);
        binding_->SetParameter(kRequestId, int64_t{uds.functionalId});
    }
    std::string answer;
    const int32_t result = binding_->Transfer(request, answer);
    if (result < 0) {
        response = binding_->LastError().message;
        return -1;
    }
    response = answer;
    return result;
}

int32_t CDCSamtecUds::DevSetChannelMode(int32_t mode) {
    if (!binding_) return kResultFailure;
    if (mode == 0) {
        binding_->SetParameter(kKeepAliveMode, 0);
    } else if (mode == 1) {
        binding_->SetParameter(kKeepAliveMode, 1);
        binding_->SetParameter(kKeepAliveFunctional, 0);
    } else if (mode == 2) {
        binding_->SetParameter(kKeepAliveMode, 2);
        binding_->SetParameter(kKeepAliveMessage, std::string(kTesterPresentProbe));
        binding_->SetParameter(kKeepAliveFunctional, 1);
    }
    return 0;
}

int32_t CDCSamtecUds::DevEnterFlashMode() {
    if (!binding_) return kResultFailure;
    const int32_t saved = binding_->GetInt(member::kResponseTimeout);
    binding_->PutInt(member::kResponseTimeout, kProbeTimeoutMs);
    std::string response;
    const int32_t result = DevTransferDataEx(kAddressPhysical, kTesterPresentProbe, response);
    binding_->PutInt(member::kResponseTimeout, saved);
    return result < 0 ? result : 0;
}

}  // namespace diagbridge
