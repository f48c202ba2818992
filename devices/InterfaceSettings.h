#pragma once
#include <cstdint>

namespace diagbridge {

// The adapter part of a communication object's configuration.
struct InterfaceSettings {
    static constexpr int32_t kNoPort = -1;
    int32_t rs232Port = kNoPort;    // COM port number of the wired adapter; >= 0 configured
    int32_t skyLinkPort = kNoPort;  // COM port number of the wireless adapter
    int32_t rs232Baudrate = 10400;
    int32_t skyLinkBaudrate = 0;
    int32_t rs232TimeoutMs = 0;
    int32_t skyLinkTimeoutMs = 0;
    bool samtecUsb = false;
    uint8_t testerAddress = 0;
    uint8_t ecuAddress = 0;
};

}  // namespace diagbridge
