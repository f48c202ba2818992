#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/CHardwareInterface.h"

namespace diagbridge {

// The Kalidor view of the tester hardware: exactly one container, the Samtec SamDiaX adapter
// when samtecUsb is set, else the RS232 adapter (CDCKalidorCom). Every operation goes to it
// and answers -7 when it is missing (-1 for HALReceiveData); results pass through unchanged.
class CHKalidor : public CHardwareInterface {
  public:
    static constexpr const char* kSamtecError = "SAMTEC device error\nCheck your configuration!!";
    static constexpr const char* kRs232Error = "RS232 device error\nCheck your configuration!!";

    // Makes the container for the settings; null when that adapter cannot be built.
    using ContainerFactory = std::function<std::unique_ptr<CDeviceContainer>(
        const EcuParameterBlock&, const InterfaceSettings&)>;

    // The Samtec container plugs in through samtecFactory: without one, SAMTECUSB=1 reports
    // the Samtec error and leaves no container.
    CHKalidor(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
              const ContainerFactory& samtecFactory = nullptr);
    // The factory of the SamDiaX container: it checks for firmware and loads configFile at
    // open, and drives the controller in the mode word of the configuration handed at connect.
    static ContainerFactory SamtecFactory(const std::string& firmware,
                                          const std::string& configFile);
    // One container from makeContainer whatever the settings (tests).
    static std::unique_ptr<CHKalidor> WithContainer(const EcuParameterBlock& configuration,
                                                    const InterfaceSettings& settings,
                                                    const ContainerFactory& makeContainer);

    void SetConfiguration(const EcuParameterBlock& configuration) {
        configuration_ = configuration;
    }

    int32_t HALInit() override;
    // Hands the configuration (with the model's mode) to the container, then its connect.
    int32_t HALConnect() override;
    int32_t HALDisconnect() override;
    // The container's result: the reply's payload count, or negative.
    int32_t HALTransferData(std::string request, std::string& response) override;
    // One frame the controller sent by itself, as "%2.2X " per byte, replaces response.
    int32_t HALReceiveData(std::string& response) override;

  private:
    CHKalidor(const EcuParameterBlock& configuration, const InterfaceSettings& settings, bool);
    void Place(std::unique_ptr<CDeviceContainer> container, const char* error);
    CDeviceContainer* Only() const { return Container(0); }
};

}  // namespace diagbridge
