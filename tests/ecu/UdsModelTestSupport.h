#pragma once
// Builds UDS models through the type registry without a communication object, and reads
// their access tables.
#include <memory>
#include <string>

#include "ecu/CEcuUdsModel.h"
#include "ecu/EcuTypeRegistry.h"
#include "engine/CSoftwareInterface.h"
#include "engine/ParameterString.h"

namespace diagbridge::testing {

inline std::unique_ptr<CEcuUdsModel> MakeUdsModel(
    const std::string& parameter, CSoftwareInterface* communicationObject = nullptr) {
    std::unique_ptr<CEcu> ecu = CreateEcuObject(EcuTypeTable(), ParameterKeyword(parameter),
                                                kProtocolUds, communicationObject, parameter);
    auto* model = dynamic_cast<CEcuUdsModel*>(ecu.get());
    if (model == nullptr) return nullptr;
    ecu.release();
    return std::unique_ptr<CEcuUdsModel>(model);
}

// Bit i set when access step i is enabled.
inline uint32_t EnabledSteps(CEcu& ecu) {
    uint32_t mask = 0;
    for (int32_t i = 0; i < ecu.AccessCount(); ++i) {
        if (ecu.Access(i)->enabled) mask |= 1u << i;
    }
    return mask;
}

}  // namespace diagbridge::testing
