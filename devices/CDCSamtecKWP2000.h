#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "devices/CDeviceContainer.h"
#include "devices/SamDiaXBinding.h"

namespace diagbridge {

// The KWP2000 container of the Samtec SamDiaX USB adapter: the adapter's control frames and
// times the K-line itself; this container sets its parameters and settings by number and
// hands hex byte strings through. Every operation answers -1 without the control
// (DevTesterPresent -7).
class CDCSamtecKWP2000 : public CDeviceContainer {
  public:
    static constexpr const char* kDescriptionPrefix = "Samtec at USB SamDiaX Version: ";
    static constexpr const char* kNotAvailable = "Samtec SamDiaX not available ";

    CDCSamtecKWP2000(const EcuParameterBlock& configuration, const InterfaceSettings& settings);

    // Binds the control and makes the start-up settings; without one the description says
    // so. Always true.
    bool Create() override;
    // Detection, then the K-line settings: 0, 1 no adapter, -1 communication would not stop.
    int32_t DevOpen() override;
    int32_t DevClose() override;
    // Wakes the ECU (fast initialisation by the adapter): 0, -1 not answered.
    int32_t DevConnect() override;
    int32_t DevDisconnect() override;
    // 0 for an empty request; the control's result: >= 0 with the response, < 0 failed.
    int32_t DevTransferData(std::string request, std::string& response) override;
    // P2min, P2max, P3min, P3max, P4min in ms: restarts communication with them; 0.
    int32_t DevUseTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                         int32_t p4min) override;
    int32_t DevSetTiming(int32_t p2min, int32_t p2max, int32_t p3min, int32_t p3max,
                         int32_t p4min) override;
    int32_t DevSetAddress(uint8_t tester, uint8_t ecu) override;
    // "3E" answered "7E": 0, else -1.
    int32_t DevTesterPresent() override;

    // The account of the last failed request.
    const samdiax::SamDiaXBinding::Error& LastError() const { return lastError_; }

  private:
    void WriteAddresses();

    std::unique_ptr<samdiax::SamDiaXBinding> binding_;
    uint8_t tester_ = 0;
    uint8_t ecu_ = 0;
    samdiax::SamDiaXBinding::Error lastError_;
};

}  // namespace diagbridge
