#include "devices/CHardwareInterface.h"

#include "platform/Notifier.h"

namespace diagbridge {

int32_t CHardwareInterface::HALInit() {
    for (auto& container : containers_) {
        if (container) container->DevOpen();
    }
    return 0;
}

int32_t CHardwareInterface::HALDeInit() {
    for (auto& container : containers_) {
        if (container) container->DevClose();
    }
    return 0;
}

bool CHardwareInterface::AddContainer(int32_t slot, std::unique_ptr<CDeviceContainer> container,
                                      int32_t skyLink, const std::string& errorText, bool describe,
                                      int32_t port, int32_t baud) {
    if (slot < 0 || slot >= static_cast<int32_t>(containers_.size()) || !container) return false;
    container->isSkyLink = skyLink;
    if (!container->Create()) {
        platform::Notify(errorText);
        return false;
    }
    devicePresent_ = true;
    if (describe) container->DevDescribe(container->description, port, baud, skyLink);
    deviceList_ += "|" + container->description;
    containers_[static_cast<std::size_t>(slot)] = std::move(container);
    return true;
}

CDeviceContainer* CHardwareInterface::Container(int32_t index) const {
    if (index < 0 || index >= static_cast<int32_t>(containers_.size())) return nullptr;
    return containers_[static_cast<std::size_t>(index)].get();
}

}  // namespace diagbridge
