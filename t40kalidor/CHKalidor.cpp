#include "t40kalidor/CHKalidor.h"

#include "devices/CDCKalidorCom.h"
#include "devices/CDCSamtecKalidor.h"
#include "platform/Notifier.h"

namespace diagbridge {

namespace {
constexpr int32_t kNoContainer = -7;
constexpr int32_t kNoFrame = -1;
}  // namespace

CHKalidor::CHKalidor(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
                     bool)
    : CHardwareInterface(configuration, settings) {}

CHKalidor::CHKalidor(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
                     const ContainerFactory& samtecFactory)
    : CHardwareInterface(configuration, settings) {
    if (settings.samtecUsb) {
        Place(samtecFactory ? samtecFactory(configuration_, settings_) : nullptr, kSamtecError);
        return;
    }
    Place(std::make_unique<CDCKalidorCom>(configuration_, settings_), kRs232Error);
}

std::unique_ptr<CHKalidor> CHKalidor::WithContainer(const EcuParameterBlock& configuration,
                                                    const InterfaceSettings& settings,
                                                    const ContainerFactory& makeContainer) {
    std::unique_ptr<CHKalidor> hardware(new CHKalidor(configuration, settings, true));
    hardware->Place(makeContainer(configuration, settings), kRs232Error);
    return hardware;
}

CHKalidor::ContainerFactory CHKalidor::SamtecFactory(const std::string& firmware,
                                                     const std::string& configFile) {
    return [firmware, configFile](const EcuParameterBlock& configuration,
                                  const InterfaceSettings&) -> std::unique_ptr<CDeviceContainer> {
        SamtecKalidorSettings samtec;
        samtec.firmware = firmware;
        samtec.configFile = configFile;
        return std::make_unique<CDCSamtecKalidor>(configuration, samtec);
    };
}

void CHKalidor::Place(std::unique_ptr<CDeviceContainer> container, const char* error) {
    if (!container) {
        platform::Notify(error);
        return;
    }
    if (!container->Create()) {
        platform::Notify(error);
        return;
    }
    containers_[0] = std::move(container);
}

int32_t CHKalidor::HALInit() {
    return Only() == nullptr ? kNoContainer : Only()->DevOpen();
}

int32_t CHKalidor::HALConnect() {
    if (Only() == nullptr) return kNoContainer;
    Only()->SetConfiguration(configuration_);
    return Only()->DevConnect();
}

int32_t CHKalidor::HALDisconnect() {
    return Only() == nullptr ? kNoContainer : Only()->DevDisconnect();
}

int32_t CHKalidor::HALTransferData(std::string request, std::string& response) {
    return Only() == nullptr ? kNoContainer : Only()->DevTransferData(std::move(request), response);
}

int32_t CHKalidor::HALReceiveData(std::string& response) {
    if (Only() == nullptr) return kNoFrame;
    std::string frame;
    const int32_t result = Only()->DevReceiveData(frame);
    response = frame;
    return result;
}

}  // namespace diagbridge
