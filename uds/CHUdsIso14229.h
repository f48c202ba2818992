#pragma once
#include <cstdint>
#include <string>

#include "can/CDCSamtecUds.h"
#include "devices/CHardwareInterface.h"
#include "platform/Clock.h"
#include "uds/UdsInterfaceSettings.h"

namespace diagbridge {

// The UDS view of the tester hardware: one container, Samtec or Vector, chosen by the
// interface settings. Every operation answers -7 without a container.
class CHUdsIso14229 : public CHardwareInterface {
  public:
    static constexpr const char* kSamtecError = "SAMTEC device error\nCheck your configuration!!";
    static constexpr const char* kVectorError = "VECTOR device error\nCheck your configuration!!";

    // cancel is the communication object's stop request, handed to the transport's waits.
    CHUdsIso14229(const EcuParameterBlock& configuration, const UdsInterfaceSettings& settings,
                  platform::CancelFlag* cancel);
    // Takes an already built container (tests).
    CHUdsIso14229(const EcuParameterBlock& configuration, const UdsInterfaceSettings& settings,
                  std::unique_ptr<CDeviceContainer> container);

    bool HardwareReady() const { return hardwareReady_; }
    void SetConfiguration(const EcuParameterBlock& configuration) {
        configuration_ = configuration;
    }

    int32_t HALInit() override;
    int32_t HALDeInit() override;
    int32_t HALConnect() override;
    int32_t HALDisconnect() override;
    // Not a UDS path: -7.
    int32_t HALTransferData(std::string request, std::string& response) override;
    // The container's result, or -7 when it failed.
    int32_t HALTransferDataEx(int32_t addressMode, std::string request,
                              std::string& response) override;
    int32_t HALSetChannelMode(int32_t mode) override;
    // Bit-rate detection by tester-present probe on the Samtec adapter: the first of 666666,
    // 500000, 250000 bit/s that the ECU acknowledges, or -7. 0 on the Vector adapter, whose
    // transport detects while it connects.
    int32_t HALCheckConnection() override;

  private:
    void Adopt(std::unique_ptr<CDeviceContainer> container);
    void CreateSamtec(const EcuParameterBlock& configuration, const UdsInterfaceSettings& settings);

    UdsInterfaceSettings interface_;
    bool hardwareReady_ = false;
    CDCSamtecUds* samtec_ = nullptr;  // the container when it is the Samtec one
};

}  // namespace diagbridge
