#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/CDeviceContainer.h"
#include "devices/CKalidor.h"

namespace diagbridge {

// A Kalidor controller on an RS232 port, through a CKalidor that opens the port when the
// container is made. The mode comes from the configuration's second word: 4 the controller
// sends frames by itself (connect waits for one), 5 it is woken and questioned.
class CDCKalidorCom : public CDeviceContainer {
  public:
    using DeviceFactory = std::function<std::unique_ptr<CKalidor>(int32_t port)>;
    static constexpr int32_t kModeFreeRun = 4;
    static constexpr int32_t kModeQuick = 5;
    static constexpr int32_t kNoDevice = -7;
    static constexpr int32_t kFailed = -1;

    CDCKalidorCom(const EcuParameterBlock& configuration, const InterfaceSettings& settings);
    // As above with another device (tests).
    CDCKalidorCom(const EcuParameterBlock& configuration, const InterfaceSettings& settings,
                  const DeviceFactory& makeDevice);
    ~CDCKalidorCom() override;

    // Mode 4: one frame within 2 s; mode 5: wake-up. 0 done, -1 not; -7 for any other mode
    // (the line untouched) or without device.
    int32_t DevConnect() override;
    // 0F 80; 0.
    int32_t DevDisconnect() override;
    // The command's reply payload replaces response (empty when the result is not positive);
    // the payload count, 0 for a reply too short, -7 without port or for a request that is
    // no hex byte string of 1..255 bytes.
    int32_t DevTransferData(std::string request, std::string& response) override;
    // One frame the controller sent by itself, appended to out as "%2.2X " per byte; 0, or
    // -7 (out unchanged) when none came.
    int32_t DevReceiveData(std::string& out) override;

    int32_t Mode() const { return configuration_.word2; }
    CKalidor* Device() const { return device_.get(); }

  private:
    std::unique_ptr<CKalidor> device_;
};

}  // namespace diagbridge
