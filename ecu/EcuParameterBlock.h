#pragma once
#include <cstdint>
#include <string>

#include "engine/ServiceOrder.h"

namespace diagbridge {

// Time-outs in milliseconds of the commands that can run long; every other command has
// kDefaultServiceTimeoutMs.
struct ServiceTimeouts {
    static constexpr int32_t kDefaultServiceTimeoutMs = 180000;
    int32_t singleRequest = kDefaultServiceTimeoutMs;  // commands 11 and 15
    int32_t upload = kDefaultServiceTimeoutMs;         // command 12
    int32_t download = kDefaultServiceTimeoutMs;       // command 13
    int32_t job = kDefaultServiceTimeoutMs;            // command 14

    int32_t ForCommand(int32_t command) const {
        switch (command) {
            case kCommandSingleRequest:
            case kCommandKeepAlive:
                return singleRequest;
            case kCommandUpload:
                return upload;
            case kCommandDownload:
                return download;
            case kCommandJob:
                return job;
            default:
                return kDefaultServiceTimeoutMs;
        }
    }
};

// KWP2000 part: addresses, timing and time-outs of the K-line stack.
struct KwpParameterBlock {
    ServiceTimeouts timeouts;
};

// UDS part: CAN identifiers, reboot and fill-byte options, time-outs.
struct UdsParameterBlock {
    ServiceTimeouts timeouts;
};

// ISO 9141 part of the T40 line stack.
struct Iso9141ParameterBlock {
    std::string text1;
    std::string text2;
    ServiceTimeouts timeouts;
};

// The communication parameters of an ECU model, copied into its communication object at
// every connect. A value type: copy it whole.
struct EcuParameterBlock {
    int32_t word1 = 0;
    int32_t word2 = 0;
    KwpParameterBlock kwp;
    UdsParameterBlock uds;
    Iso9141ParameterBlock iso9141;
    uint8_t downloadOption = 0;  // handed to every download order
    uint8_t reservedByte = 0;
};

}  // namespace diagbridge
