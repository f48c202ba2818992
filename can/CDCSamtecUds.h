#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "devices/CDeviceContainer.h"
#include "devices/SamDiaXBinding.h"
#include "uds/UdsInterfaceSettings.h"

namespace diagbridge {

// The UDS container of the Samtec SamDiaX USB adapter: the adapter's control does ISO-TP
// itself; this container writes its parameters by number and hands hex byte strings through.
// Every operation answers -7 when the control is missing.
class CDCSamtecUds : public CDeviceContainer {
  public:
    static constexpr const char* kNotAvailable = "Samtec SamDiaX not available ";
    static constexpr const char* kDescriptionPrefix = "Samtec SamDiaX Version: ";
    static constexpr int32_t kProbeTimeoutMs = 1000;

    CDCSamtecUds(const EcuParameterBlock& configuration, const UdsInterfaceSettings& settings);

    // Binds the control and makes its start-up settings; without a control the message
    // kNotAvailable goes out and the container stays, unable to talk. Always true.
    bool Create() override;
    // Hardware detection: 0 adapter found, 1 not (also when detection does not finish).
    int32_t DevOpen() override;
    // Writes the adapter parameters of the configuration and the keep-alive mode; 0.
    int32_t DevConfigure(std::string settings) override;
    int32_t DevClose() override;
    // Starts communication and sends "3E 00": 0, the exchange's negative result, or -1 when
    // the adapter does not start.
    int32_t DevConnect() override;
    // Mode 0 physical, 1 functional. 0 for an empty request (nothing sent); the control's
    // result (>= 0) with the response; -1 with the adapter's error message as the response.
    int32_t DevTransferDataEx(int32_t addressMode, std::string request,
                              std::string& response) override;
    // 0 none, 1 physical, 2 functional tester present "3E 80" by the adapter; 0.
    int32_t DevSetChannelMode(int32_t mode) override;
    // Tester-present probe "3E 80" with a 1000 ms response time-out: 0 or the negative result.
    int32_t DevEnterFlashMode() override;

    // The bit rate (bit/s) the next DevConfigure writes.
    void SetBitRate(int32_t bitRate) { interface_.bitRate = bitRate; }
    int32_t BitRate() const { return interface_.bitRate; }

  private:
    UdsInterfaceSettings interface_;
    std::unique_ptr<samdiax::SamDiaXBinding> binding_;
};

}  // namespace diagbridge
