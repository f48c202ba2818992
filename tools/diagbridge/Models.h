#pragma once
#include <string>
#include <vector>

#include "component/ProtocolTable.h"

namespace diagbridge::cli {

// One ECU type keyword as the models command shows it.
struct ModelInfo {
    std::string keyword;
    std::string protocol;  // protocol keyword; empty when the protocol is not in the table
    bool built = false;    // the model and its protocol stack are in this build
    bool singleRequest = false, upload = false, download = false, job = false;
};

// Every row of the type registry, in its order, with the services the model allows.
std::vector<ModelInfo> ListModels(const ObjectRegistry& registry);

// Prints the list (one JSON object per model with json); returns the exit code.
int RunModels(bool json);

}  // namespace diagbridge::cli
