#include "uds/CHUdsIso14229.h"

#include "can/CDCVectorUds.h"
#include "engine/CSoftwareInterface.h"
#include "platform/Notifier.h"

namespace diagbridge {

namespace {
constexpr int32_t kSlot = 0;
constexpr int32_t kKeepAliveOff = 0;
}  // namespace

CHUdsIso14229::CHUdsIso14229(const EcuParameterBlock& configuration,
                             const UdsInterfaceSettings& settings, platform::CancelFlag* cancel)
    : CHardwareInterface(configuration, InterfaceSettings{}), interface_(settings) {
    if (settings.samtecUsb) {
        CreateSamtec(configuration, settings);
        return;
    }
    if (!settings.vector) return;
    auto container = std::make_unique<CDCVectorUds>(configuration, settings, cancel);
    if (!container->Create()) {
        platform::Notify(kVectorError);
        return;
    }
    Adopt(std::move(container));
}

CHUdsIso14229::CHUdsIso14229(const EcuParameterBlock& configuration,
                             const UdsInterfaceSettings& settings,
                             std::unique_ptr<CDeviceContainer> container)
    : CHardwareInterface(configuration, InterfaceSettings{}), interface_(settings) {
    Adopt(std::move(container));
}

void CHUdsIso14229::CreateSamtec(const EcuParameterBlock& configuration,
                                 const UdsInterfaceSettings& settings) {
    auto container = std::make_unique<CDCSamtecUds>(configuration, settings);
    if (!container->Create()) {
        platform::Notify(kSamtecError);
        return;
    }
    Adopt(std::move(container));
}

void CHUdsIso14229::Adopt(std::unique_ptr<CDeviceContainer> container) {
    samtec_ = dynamic_cast<CDCSamtecUds*>(container.get());
    deviceList_ += "|" + container->description;
    containers_[kSlot] = std::move(container);
    devicePresent_ = true;
    hardwareReady_ = true;
}

int32_t CHUdsIso14229::HALInit() {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kResultFailure;
    container->DevOpen();
    return 0;
}

int32_t CHUdsIso14229::HALDeInit() {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kResultFailure;
    container->DevClose();
    return 0;
}

int32_t CHUdsIso14229::HALConnect() {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kResultFailure;
    container->SetConfiguration(configuration_);
    container->DevConfigure(std::string());
    return container->DevConnect();
}

int32_t CHUdsIso14229::HALDisconnect() {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kResultFailure;
    container->DevSetChannelMode(kKeepAliveOff);
    container->DevDisconnect();
    return 0;
}

int32_t CHUdsIso14229::HALTransferData(std::string /*request*/, std::string& /*response*/) {
    return kResultFailure;
}

int32_t CHUdsIso14229::HALTransferDataEx(int32_t addressMode, std::string request,
                                         std::string& response) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kResultFailure;
    const int32_t result = container->DevTransferDataEx(addressMode, request, response);
    return result < 0 ? kResultFailure : result;
}

int32_t CHUdsIso14229::HALCheckConnection() {
    static constexpr int32_t kProbeRates[] = {666666, 500000, 250000};
    if (samtec_ == nullptr) return 0;
    for (int32_t rate : kProbeRates) {
        interface_.bitRate = rate;
        samtec_->SetConfiguration(configuration_);
        samtec_->SetBitRate(rate);
        samtec_->DevConfigure(std::string());
        if (samtec_->DevEnterFlashMode() == 0) return rate;
    }
    return kResultFailure;
}

int32_t CHUdsIso14229::HALSetChannelMode(int32_t mode) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kResultFailure;
    return container->DevSetChannelMode(mode);
}

}  // namespace diagbridge
