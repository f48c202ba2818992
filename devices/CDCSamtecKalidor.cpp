#include "devices/CDCSamtecKalidor.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Notifier.h"
#include "platform/SystemInfo.h"

namespace diagbridge {

namespace member = samdiax::member;

namespace {

constexpr int32_t kNoControl = -1;
constexpr int32_t kModeKline = 0;
constexpr int32_t kLinkOpen = 0;
constexpr int32_t kLinkClosed = -1;
constexpr int32_t kRunning = 1;
constexpr int32_t kProtocol = 1030;
constexpr const char* kFreeRunProtocol = "16";
constexpr const char* kQuickProtocol = "25";
constexpr const char* kQuickFirst = "07";
constexpr const char* kQuickSecond = "06";
constexpr const char* kQuickDelimiters = "07";
constexpr const char* kReceiveRequest = "20";

std::string Formatted(const char* format, const std::string& text) {
    char buffer[1024];
    std::snprintf(buffer, sizeof(buffer), format, text.c_str());
    return buffer;
}

}  // namespace

CDCSamtecKalidor::CDCSamtecKalidor(const EcuParameterBlock& configuration,
                                   SamtecKalidorSettings settings)
    : CDeviceContainer(configuration, InterfaceSettings{}), kalidor_(std::move(settings)) {}

bool CDCSamtecKalidor::Create() {
    binding_ = std::make_unique<samdiax::SamDiaXBinding>(samdiax::CreateControl());
    if (!binding_->IsBound()) {
        binding_.reset();
        description = kNotAvailable;
        return true;
    }
    description = kDescriptionPrefix + binding_->Firmware();
    binding_->PutFlag(member::kOption2, false);
    binding_->PutParametersMember(member::kParametersOption13, false);
    binding_->PutFlag(member::kOption19, false);
    binding_->PutInt(member::kMode, kModeKline);
    binding_->PutFlag(member::kOption43, true);
    return true;
}

std::string CDCSamtecKalidor::ConfigurationPath() const {
    const char* chosen = std::getenv(kDataFolderVariable);
    const char separator = platform::PathSeparator();
    std::string folder = chosen != nullptr && *chosen != '\0' ? std::string(chosen)
                                                              : platform::CommonAppDataFolder();
    if (folder.back() != separator) folder += separator;
    return folder + "samtec" + separator + "Configuration" + separator + "Settings" + separator +
           kalidor_.configFile;
}

int32_t CDCSamtecKalidor::DevOpen() {
    if (!binding_) return kNoControl;
    const std::string path = ConfigurationPath();
    auto detection = binding_->Detection();
    auto adapters = binding_->Adapters();
    if (!detection || !adapters) return 0;
    detection->Put(member::kDetectionOption1, -1);
    detection->Put(member::kDetectionOption2, 1);
    binding_->RunDetection();
    auto found = samdiax::AsObject(detection->Get(member::kFound));
    // Without an adapter there is no firmware to check: later transfers fail.
    if (!found || samdiax::AsInt(found->Get(member::kFoundCount)) < 1) return 0;
    detection->Call(member::kAdapterFound);
    binding_->CallInt(member::kStopCommunication);
    binding_->PutFlag(member::kOption41, false);
    binding_->PutFlag(member::kOption2, false);
    binding_->PutInt(member::kLinkState, kLinkOpen);
    auto first = samdiax::AsObject(adapters->Get(member::kItem, {0}));
    const std::string firmware = first ? samdiax::AsText(first->Get(member::kAdapterFirmware)) : "";
    if (firmware != kalidor_.firmware) {
        platform::Notify(Formatted(kWrongFirmware, kalidor_.firmware));
        return 0;
    }
    binding_->PutParametersMember(member::kConfigurationPath, path);
    if (!samdiax::AsBool(binding_->CallParametersMember(member::kLoadConfiguration))) {
        platform::Notify(Formatted(kLoadingError, path));
        return 0;
    }
    binding_->PutFlag(member::kOption2, false);
    return 0;
}

int32_t CDCSamtecKalidor::DevClose() {
    if (!binding_) return kNoControl;
    if (binding_->CallInt(member::kRunning) == kRunning) {
        binding_->CallInt(member::kStopCommunication);
    }
    binding_->PutInt(member::kLinkState, kLinkClosed);
    return 0;
}

std::string CDCSamtecKalidor::QuickSecondRequest(const std::string& firstAnswer) {
    const std::size_t start = firstAnswer.find_first_not_of(kQuickDelimiters);
    if (start == std::string::npos) return kQuickSecond;
    const std::size_t end = firstAnswer.find_first_of(kQuickDelimiters, start);
    return kQuickSecond + firstAnswer.substr(start, end - start);
}

int32_t CDCSamtecKalidor::DevConnect() {
    if (!binding_) return kNoControl;
    if (Mode() == SamtecKalidorSettings::kFreeRun) {
        binding_->SetParameter(kProtocol, std::string(kFreeRunProtocol));
        binding_->CallInt(member::kStartCommunication);
        return 0;
    }
    if (Mode() != SamtecKalidorSettings::kQuick) return kNoControl;
    binding_->SetParameter(kProtocol, std::string(kQuickProtocol));
    binding_->CallInt(member::kStartCommunication);
    std::string answer;
    DevTransferData(kQuickFirst, answer);
    std::string ignored;
    DevTransferData(QuickSecondRequest(answer), ignored);
    return 0;
}

int32_t CDCSamtecKalidor::DevDisconnect() {
    if (!binding_) return kNoControl;
    binding_->CallInt(member::kStopCommunication);
    return 0;
}

int32_t CDCSamtecKalidor::DevTransferData(std::string request, std::string& response) {
    if (!binding_) return kNoControl;
    const int32_t result = binding_->Transfer(request, response);
    if (result < 0) {
        lastErrorText_ = samdiax::SamDiaXBinding::Describe(binding_->LastError());
        response.clear();
    }
    return result;
}

int32_t CDCSamtecKalidor::DevReceiveData(std::string& response) {
    if (!binding_) return kNoControl;
    binding_->CallInt(member::kStartCommunication);
    std::string frame;
    binding_->Transfer(kReceiveRequest, frame);
    binding_->CallInt(member::kStopCommunication);
    if (frame.empty()) return -1;
    response = frame;
    return 0;
}

}  // namespace diagbridge
