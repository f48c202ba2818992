#pragma once
#include <cstdint>

namespace diagbridge {

// The adapter settings of a UDS communication object (its own parameter-string keys). They
// belong to the communication object and stay when an ECU model's parameters are copied in.
struct UdsInterfaceSettings {
    static constexpr int32_t kDefaultBitRate = 666666;
    bool samtecUsb = true;              // SAMTECUSB; setting one adapter clears the other
    bool vector = false;                // VECTOR
    int32_t bitRate = kDefaultBitRate;  // BAUDRATE in bit/s; 0 asks for detection
    int32_t termination = 0;
    int32_t bus = 2;
    int32_t device = 0;
    int32_t directFrame = 2;
    int32_t frame = 2;
};

}  // namespace diagbridge
