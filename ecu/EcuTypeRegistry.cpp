#include "ecu/EcuTypeRegistry.h"

#include "ecu/CEcu.h"
#include "ecu/CEcuT6xUdsIso14229.h"
#include "ecu/CEcuTCXUdsIso14229.h"
#include "ecu/CEcuVoltarisR61UdsIso14229.h"
#include "engine/CSoftwareInterface.h"

namespace diagbridge {

const std::vector<EcuTypeRow>& EcuTypeTable() {
    static const std::vector<EcuTypeRow> table = {
        {"T6X", kProtocolKwp2000, "CEcuT6xKwp2000", nullptr},
        {"T6X", kProtocolUds, "CEcuT6xUdsIso14229", &CEcuT6xUdsIso14229::Create},
        {"T60", kProtocolKwp2000, "CEcuT60Kwp2000", nullptr},
        {"T60.1", kProtocolKwp2000, "CEcuT601Kwp2000", nullptr},
        {"T60.1", kProtocolUds, "CEcuT601UdsIso14229", &CEcuT601UdsIso14229::Create},
        {"T60.1_UDS_A", kProtocolUds, "CEcuT601UdsIso14229_A", &CEcuT601UdsIso14229_A::Create},
        {"T60.1_UDS_B", kProtocolUds, "CEcuT601UdsIso14229_B", &CEcuT601UdsIso14229_B::Create},
        {"T60.1_UDS_C", kProtocolUds, "CEcuT601UdsIso14229_C", &CEcuT601UdsIso14229_C::Create},
        {"T60.1_UDS_D", kProtocolUds, "CEcuT601UdsIso14229_D", &CEcuT601UdsIso14229_D::Create},
        {"T60.1_UDS_E", kProtocolUds, "CEcuT601UdsIso14229_E", &CEcuT601UdsIso14229_E::Create},
        {"T4X", kProtocolIso9141, "CEcuT4X", nullptr},
        {"T40H4", kProtocolIso9141, "CEcuT40H4", nullptr},
        {"T40H5", kProtocolIso9141, "CEcuT40H5", nullptr},
        {"T65", kProtocolKwp2000, "CEcuT65Kwp2000", nullptr},
        {"T61", kProtocolKwp2000, "CEcuT61Kwp2000", nullptr},
        {"R6X", kProtocolKwp2000, "CEcuR6xKwp2000", nullptr},
        {"VOLTARIS_R61_MOTORCONTROLLER", kProtocolUds, "CEcuVoltarisR61UdsIso14229MotorController",
         &CEcuVoltarisR61UdsIso14229MotorController::Create},
        {"VOLTARIS_R61_SAFETYCONTROLLER", kProtocolUds,
         "CEcuVoltarisR61UdsIso14229SafetyController",
         &CEcuVoltarisR61UdsIso14229SafetyController::Create},
        {"R60", kProtocolKwp2000, "CEcuR60Kwp2000", nullptr},
        {"LUMAXX", kProtocolKwp2000, "CEcuLumaXX", nullptr},
        {"LUMA_STANDARD", kProtocolKwp2000, "CEcuLumaStandard", nullptr},
        {"LUMA_DAG", kProtocolKwp2000, "CEcuLumaDAG", nullptr},
        {"LUMA_MAN_MARIVANE", kProtocolKwp2000, "CEcuLumaManMarivane", nullptr},
        {"LUMA_MAN_RETARDER", kProtocolKwp2000, "CEcuLumaManRetarder", nullptr},
        {"LUMA_KODIERSTATION", kProtocolKwp2000, "CEcuLumaKodierstation", nullptr},
        {"LUMA_PROTOTYPE", kProtocolKwp2000, "CEcuLumaPrototyp", nullptr},
        {"TCX", kProtocolUds, "CEcuTCXUdsIso14229", &CEcuTCXUdsIso14229::Create},
        {"KALIDOR_FREE_RUN", kProtocolKalidor, "CEcuKalidorFreeRun", nullptr},
        {"KALIDOR_QUICK", kProtocolKalidor, "CEcuKalidorQuick", nullptr},
    };
    return table;
}

std::unique_ptr<CEcu> CreateEcuObject(const std::vector<EcuTypeRow>& table,
                                      const std::string& keyword, int32_t protocolCode,
                                      CSoftwareInterface* communicationObject,
                                      const std::string& parameter) {
    for (const EcuTypeRow& row : table) {
        if (keyword != row.keyword || protocolCode != row.protocolCode) continue;
        if (row.create == nullptr) return nullptr;
        return row.create(communicationObject, parameter);
    }
    return nullptr;
}

}  // namespace diagbridge
