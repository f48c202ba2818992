#pragma once
#include <cstdint>
#include <string>

namespace diagbridge {

// One step of an ECU model's predefined diagnostic access.
struct AccessStep {
    std::string sessionRequest;    // e.g. "10 03"
    std::string seedRequest;       // e.g. "27 61"; empty without security access
    std::string keyRequestPrefix;  // e.g. "27 62"
    std::string writeRequests[3];  // sent after access; empty when none
    int64_t keyMultiplier = 0;
    int64_t keyAddend = 0;
    bool enabled = false;
    int32_t further = 0;
};

}  // namespace diagbridge
