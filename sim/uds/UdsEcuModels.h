#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/uds/UdsEcuProfile.h"

namespace diagbridge::sim {

// What a controller model is on the bus, as the virtual ECU knows it: its address, the one
// tester address it answers, its diagnostic sessions and the key constants of each security
// level. Written down from the controller descriptions, independent of the tester's models.
struct UdsEcuModel {
    std::string keyword;
    uint8_t ecuAddress = 0;
    uint8_t testerAddress = 0;
    std::vector<uint8_t> sessions;
    std::vector<UdsKeyRule> keyRules;
};

// The model of keyword, or null.
const UdsEcuModel* FindUdsEcuModel(const std::string& keyword);

}  // namespace diagbridge::sim
