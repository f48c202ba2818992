#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/CHardwareInterface.h"

namespace diagbridge {

// The T40 view of the tester hardware: container 0 on the RS232 adapter, 1 on the SkyLink
// adapter, each present when its port number is >= 0. The connect wakes the controller on
// 0, then 1, and makes the first that answers current ("RS232"/"SKYLINK", "NONE" while none
// answered). Forwarded operations answer -7 without a current container.
class CHT40 : public CHardwareInterface {
  public:
    static constexpr int32_t kRs232Slot = 0;
    static constexpr int32_t kSkyLinkSlot = 1;
    static constexpr int32_t kNone = -1;
    static constexpr const char* kRs232Error = "RS232 device error\nCheck your configuration!!";
    static constexpr const char* kSkyLinkError = "SkyLink device error\nCheck your configuration!!";

    // Makes the container of one slot (tests give their own devices).
    using ContainerFactory = std::function<std::unique_ptr<CDeviceContainer>(
        int32_t slot, const EcuParameterBlock&, const InterfaceSettings&)>;

    CHT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings);
    CHT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
          const ContainerFactory& makeContainer);

    void SetConfiguration(const EcuParameterBlock& configuration) {
        configuration_ = configuration;
    }
    int32_t CurrentIndex() const { return currentContainer_; }
    // The ECU type text the boot-loader hand-shake is told ("T40H4", "T40H5").
    void SetHardwareType(const std::string& type) { hardwareType_ = type; }
    const std::string& HardwareType() const { return hardwareType_; }
    int32_t CurrentPort() const;

    int32_t HALPrepareDevice() override;
    // The boot-loader hand-shake on the current container; HardwareText becomes "H4"/"H5".
    int32_t HALEnterFlashMode() override;
    int32_t HALSetBaudRate(int32_t baud) override;
    // 0 woke the controller (that container current), -1 nobody answered, -7 no container.
    int32_t HALConnect() override;
    int32_t HALDisconnect() override;
    // 0 success, -1 failed, -7 no current container.
    int32_t HALTransferData(std::string request, std::string& response) override;
    // Only on SkyLink: the SkyLink flash code; 0 (-7 without the SkyLink container).
    int32_t HALSendFlashCode() override;

  private:
    std::string hardwareType_;
};

}  // namespace diagbridge
