#pragma once
#include <cstdint>
#include <string>

#include "devices/InterfaceSettings.h"
#include "ecu/EcuParameterBlock.h"

namespace diagbridge {

// One configured adapter, owned by a hardware interface. The base answers every operation
// with 0 (success, nothing done); each adapter kind overrides what it supports. Texts are hex
// byte strings.
class CDeviceContainer {
  public:
    CDeviceContainer(const EcuParameterBlock& configuration, const InterfaceSettings& settings)
        : configuration_(configuration), settings_(settings) {}
    virtual ~CDeviceContainer() = default;
    CDeviceContainer(const CDeviceContainer&) = delete;
    CDeviceContainer& operator=(const CDeviceContainer&) = delete;

    // Creates the device object (the window creation of the original); false when the
    // adapter cannot be created.
    virtual bool Create() { return true; }

    virtual int32_t DevPrepare() { return 0; }
    virtual int32_t DevOpen() { return 0; }  // 0 opened, other = error
    virtual int32_t DevConfigure(std::string /*settings*/) { return 0; }
    virtual int32_t DevClose() { return 0; }
    virtual int32_t DevSetBaudRate(int32_t /*baud*/) { return 0; }
    virtual int32_t DevSetTiming(int32_t /*p2min*/, int32_t /*p2max*/, int32_t /*p3min*/,
                                 int32_t /*p3max*/, int32_t /*p4min*/) {
        return 0;
    }
    // Timing agreed with the ECU inside a running session (ms): in force from the next request,
    // without a new wake-up, which would drop the session. 0.
    virtual int32_t DevUseTiming(int32_t /*p2min*/, int32_t /*p2max*/, int32_t /*p3min*/,
                                 int32_t /*p3max*/, int32_t /*p4min*/) {
        return 0;
    }
    virtual int32_t DevConnect() { return 0; }
    virtual int32_t DevDisconnect() { return 0; }
    // >= 0 success (serial containers: response byte count), < 0 failure.
    virtual int32_t DevTransferData(std::string /*request*/, std::string& /*response*/) {
        return 0;
    }
    virtual int32_t DevTransferDataEx(int32_t /*addressMode*/, std::string /*request*/,
                                      std::string& /*response*/) {
        return 0;
    }
    virtual int32_t DevReceiveData(std::string& /*response*/) { return 0; }
    virtual int32_t DevSetAddress(uint8_t /*tester*/, uint8_t /*ecu*/) { return 0; }
    virtual int32_t DevTesterPresent() { return 0; }  // 0 answered, -1 not
    virtual int32_t DevSetChannelMode(int32_t /*mode*/) { return 0; }
    virtual int32_t DevEnterFlashMode() { return 0; }
    // Fills out with the adapter's description and returns it.
    virtual std::string DevDescribe(std::string& out, int32_t /*port*/, int32_t /*baud*/,
                                    int32_t /*skyLink*/) {
        out.clear();
        return out;
    }
    virtual int32_t DevSendFlashCode() { return 0; }

    // Replaces the configuration copy (the hardware interface hands its own over at connect).
    void SetConfiguration(const EcuParameterBlock& configuration) {
        configuration_ = configuration;
    }
    const EcuParameterBlock& Configuration() const { return configuration_; }

    int32_t isSkyLink = 0;     // 1 when this container serves the SkyLink adapter
    std::string description;   // human-readable adapter text
    std::string hardwareType;  // handed to DevEnterFlashMode

  protected:
    EcuParameterBlock configuration_;
    InterfaceSettings settings_;
};

}  // namespace diagbridge
