#include "t40kalidor/CHT40.h"

#include "devices/CDCT40.h"

namespace diagbridge {

namespace {
constexpr int32_t kNoContainer = -7;
constexpr int32_t kFailed = -1;
constexpr const char* kNames[] = {"RS232", "SKYLINK"};
constexpr const char* kNoInterface = "NONE";
}  // namespace

CHT40::CHT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings)
    : CHT40(configuration, settings,
            [](int32_t, const EcuParameterBlock& block, const InterfaceSettings& devices) {
                return std::make_unique<CDCT40>(block, devices);
            }) {}

CHT40::CHT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
             const ContainerFactory& makeContainer)
    : CHardwareInterface(configuration, settings) {
    const struct {
        int32_t slot;
        int32_t port;
        const char* error;
    } adapters[] = {{kRs232Slot, settings.rs232Port, kRs232Error},
                    {kSkyLinkSlot, settings.skyLinkPort, kSkyLinkError}};
    currentContainer_ = 0;
    for (const auto& adapter : adapters) {
        if (adapter.port < 0) continue;
        if (!AddContainer(adapter.slot, makeContainer(adapter.slot, configuration_, settings_),
                          adapter.slot, adapter.error, false, adapter.port, 0)) {
            continue;
        }
        currentContainer_ = adapter.slot;
        interfaceName_ = kNames[adapter.slot];
    }
}

int32_t CHT40::CurrentPort() const {
    if (currentContainer_ == kSkyLinkSlot) return settings_.skyLinkPort;
    if (currentContainer_ == kRs232Slot) return settings_.rs232Port;
    return kNone;
}

int32_t CHT40::HALPrepareDevice() {
    if (CurrentContainer() != nullptr) CurrentContainer()->DevPrepare();
    return 0;
}

int32_t CHT40::HALEnterFlashMode() {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->hardwareType = hardwareType_;
    const int32_t result = container->DevEnterFlashMode();
    hardwareText_ = container->description;
    return result;
}

int32_t CHT40::HALSetBaudRate(int32_t baud) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->DevSetBaudRate(baud);
    return 0;
}

int32_t CHT40::HALConnect() {
    currentContainer_ = kNone;
    interfaceName_ = kNoInterface;
    int32_t result = kNoContainer;
    for (int32_t slot : {kRs232Slot, kSkyLinkSlot}) {
        CDeviceContainer* container = Container(slot);
        if (container == nullptr) continue;
        result = container->DevConnect();
        if (result != 0) continue;
        currentContainer_ = slot;
        interfaceName_ = kNames[slot];
        return 0;
    }
    return result;
}

int32_t CHT40::HALDisconnect() {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    container->DevDisconnect();
    return 0;
}

int32_t CHT40::HALTransferData(std::string request, std::string& response) {
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    return container->DevTransferData(std::move(request), response) >= 0 ? 0 : kFailed;
}

int32_t CHT40::HALSendFlashCode() {
    if (currentContainer_ != kSkyLinkSlot) return 0;
    CDeviceContainer* container = CurrentContainer();
    if (container == nullptr) return kNoContainer;
    return container->DevSendFlashCode();
}

}  // namespace diagbridge
