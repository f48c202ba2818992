#pragma once
#include <cstdint>

#include "devices/InterfaceSettings.h"

namespace diagbridge {

// The adapter settings of a KWP2000 communication object (its own parameter-string keys).
// They belong to the communication object and stay when an ECU model's parameters come in.
struct KwpInterfaceSettings {
    int32_t rs232Port = InterfaceSettings::kNoPort;    // RS232: wired adapter, -1 none
    bool samtecUsb = false;                            // SAMTECUSB
    int32_t skyLinkPort = InterfaceSettings::kNoPort;  // SKYLINK: wireless adapter, -1 none
    int32_t skyLinkInit = 115000;     // SKYLINKINIT: init word and speed of the SkyLink port
    int32_t baudrate = 10400;         // BAUDRATE: K-line speed of the serial adapters
    int32_t testerPresentMs = 2000;   // TESTERPRESENT: keep-alive interval; <= 0 off
    int32_t rs232TimeoutMs = 1000;    // TIMEOUT_RS232
    int32_t skyLinkTimeoutMs = 1000;  // TIMEOUT_SKYLINK

    // The same settings in the form the device containers read.
    InterfaceSettings ForDevices() const {
        InterfaceSettings settings;
        settings.rs232Port = rs232Port;
        settings.skyLinkPort = skyLinkPort;
        settings.rs232Baudrate = baudrate;
        settings.skyLinkBaudrate = skyLinkInit;
        settings.rs232TimeoutMs = rs232TimeoutMs;
        settings.skyLinkTimeoutMs = skyLinkTimeoutMs;
        settings.samtecUsb = samtecUsb;
        return settings;
    }
};

}  // namespace diagbridge
