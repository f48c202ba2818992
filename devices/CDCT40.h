#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/CDeviceContainer.h"
#include "devices/CT40.h"

namespace diagbridge {

// A T40 controller on a wired RS232 (isSkyLink 0) or SkyLink (1) adapter, through a CT40.
// Requests and responses are hex byte strings: the request's first byte is the command, the
// response's first byte the controller's response code (length byte and checksum never
// appear). Settings: port RS232 or SKYLINK, BAUDRATE and SKYLINKINIT (the speed a SkyLink port
// keeps), TIMEOUT_RS232 or TIMEOUT_SKYLINK.
class CDCT40 : public CDeviceContainer {
  public:
    using DeviceFactory = std::function<std::unique_ptr<CT40>()>;
    static constexpr char kSkyLinkFlashCode[] = "KQZB&RUC";  // eight characters
    static constexpr int32_t kNoDevice = -7;
    static constexpr int32_t kFailed = -1;

    CDCT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings);
    // As above with another device (tests).
    CDCT40(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
           DeviceFactory makeDevice);
    ~CDCT40() override;

    // Creates a closed device; true.
    bool Create() override;
    // Opens the adapter's port: 0 opened, 1 not; -7 without device.
    int32_t DevOpen() override;
    int32_t DevClose() override;
    int32_t DevSetBaudRate(int32_t baud) override;
    // Wake-up, on the wired adapter after opening its port anew: 0 answered, -1 not; -7
    // without device.
    int32_t DevConnect() override;
    // Request 06; 0 (-7 without device).
    int32_t DevDisconnect() override;
    // 0 with response = the payload as hex; -1 on failure (response unchanged), also for a
    // request that is no hex byte string of 1..253 bytes (nothing sent); -7 without device.
    int32_t DevTransferData(std::string request, std::string& response) override;
    // The boot-loader hand-shake for hardwareType; 0 with description "H4"/"H5", else -1.
    int32_t DevEnterFlashMode() override;
    // Writes the SkyLink flash code "KQZB&RUC"; 0.
    int32_t DevSendFlashCode() override;

    CT40* Device() const { return device_.get(); }

  private:
    DeviceFactory makeDevice_;
    std::unique_ptr<CT40> device_;
};

}  // namespace diagbridge
