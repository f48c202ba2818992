#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/CDeviceContainer.h"
#include "devices/InterfaceSettings.h"
#include "ecu/EcuParameterBlock.h"

namespace diagbridge {

// A protocol's view of the tester hardware: up to three device containers, one of them
// current. The base answers every operation with 0 (strings "XXXXX"); the protocol's
// subclass forwards to its containers and returns -7 when the current one is missing.
class CHardwareInterface {
  public:
    static constexpr std::size_t kMaxContainers = 3;
    static constexpr const char* kUnknownText = "XXXXX";

    CHardwareInterface(const EcuParameterBlock& configuration, const InterfaceSettings& settings)
        : configuration_(configuration), settings_(settings) {}
    virtual ~CHardwareInterface() = default;
    CHardwareInterface(const CHardwareInterface&) = delete;
    CHardwareInterface& operator=(const CHardwareInterface&) = delete;

    virtual int32_t HALPrepareDevice() { return 0; }
    virtual int32_t HALEnterFlashMode() { return 0; }
    virtual int32_t HALInit();    // DevOpen on every present container; 0
    virtual int32_t HALDeInit();  // DevClose on every present container; 0
    virtual int32_t HALSetBaudRate(int32_t /*baud*/) { return 0; }
    virtual int32_t HALSetTiming(int32_t /*p2min*/, int32_t /*p2max*/, int32_t /*p3min*/,
                                 int32_t /*p3max*/, int32_t /*p4min*/) {
        return 0;
    }
    // Timing agreed with the ECU in the running session (ms), without a new wake-up; 0.
    virtual int32_t HALUseTiming(int32_t /*p2min*/, int32_t /*p2max*/, int32_t /*p3min*/,
                                 int32_t /*p3max*/, int32_t /*p4min*/) {
        return 0;
    }
    virtual int32_t HALDetectEcu() { return 0; }
    virtual int32_t HALConnect() { return 0; }
    virtual int32_t HALDisconnect() { return 0; }
    // 0 success, -1 or -7 failure.
    virtual int32_t HALTransferData(std::string /*request*/, std::string& /*response*/) {
        return 0;
    }
    virtual int32_t HALTransferDataEx(int32_t /*addressMode*/, std::string /*request*/,
                                      std::string& /*response*/) {
        return 0;
    }
    virtual int32_t HALReceiveData(std::string& /*response*/) { return 0; }
    virtual int32_t HALSetAddress(uint8_t /*tester*/, uint8_t /*ecu*/) { return 0; }
    virtual int32_t HALTesterPresent() { return 0; }
    virtual int32_t HALSetChannelMode(int32_t /*mode*/) { return 0; }
    virtual std::string HALGetEcuHardwareVersion() { return kUnknownText; }
    virtual int32_t HALAdjustBaudrateId(int32_t id) { return id; }
    virtual int32_t HALCheckConnection() { return 0; }
    virtual int32_t HALSendFlashCode() { return 0; }

    bool DevicePresent() const { return devicePresent_; }
    // "|" and the description of each container created, in creation order.
    const std::string& DeviceList() const { return deviceList_; }
    const std::string& HardwareText() const { return hardwareText_; }
    const std::string& InterfaceName() const { return interfaceName_; }

  protected:
    // Puts the container of one adapter into its slot: creates its device, and on failure
    // reports errorText once through the notifier and leaves the slot empty. Serial
    // containers are described with port and baud. True when the adapter is present.
    bool AddContainer(int32_t slot, std::unique_ptr<CDeviceContainer> container, int32_t skyLink,
                      const std::string& errorText, bool describe, int32_t port, int32_t baud);
    CDeviceContainer* Container(int32_t index) const;
    CDeviceContainer* CurrentContainer() const { return Container(currentContainer_); }

    EcuParameterBlock configuration_;
    InterfaceSettings settings_;
    std::array<std::unique_ptr<CDeviceContainer>, kMaxContainers> containers_;
    int32_t currentContainer_ = 0;
    bool devicePresent_ = false;
    std::string deviceList_;
    std::string interfaceName_;
    std::string hardwareText_;
};

}  // namespace diagbridge
