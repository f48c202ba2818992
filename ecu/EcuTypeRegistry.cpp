#include "ecu/EcuTypeRegistry.h"

#include "ecu/CEcu.h"
#include "ecu/CEcuKalidor.h"
#include "ecu/CEcuLuma.h"
#include "ecu/CEcuR6xKwp2000.h"
#include "ecu/CEcuT40.h"
#include "ecu/CEcuT6xKwp2000.h"
#include "ecu/CEcuT6xUdsIso14229.h"
#include "ecu/CEcuTCXUdsIso14229.h"
#include "ecu/CEcuVoltarisR61UdsIso14229.h"
#include "engine/CSoftwareInterface.h"

namespace diagbridge {
namespace {

template <typename Model>
std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                             const std::string& parameter) {
    return std::make_unique<Model>(communicationObject, parameter);
}

}  // namespace

const std::vector<EcuTypeRow>& EcuTypeTable() {
    static const std::vector<EcuTypeRow> table = {
        {"T6X", kProtocolKwp2000, "CEcuT6xKwp2000", Create<CEcuT6xKwp2000>},
        {"T6X", kProtocolUds, "CEcuT6xUdsIso14229", &CEcuT6xUdsIso14229::Create},
        {"T60", kProtocolKwp2000, "CEcuT60Kwp2000", Create<CEcuT60Kwp2000>},
        {"T60.1", kProtocolKwp2000, "CEcuT601Kwp2000", Create<CEcuT601Kwp2000>},
        {"T60.1", kProtocolUds, "CEcuT601UdsIso14229", &CEcuT601UdsIso14229::Create},
        {"T60.1_UDS_A", kProtocolUds, "CEcuT601UdsIso14229_A", &CEcuT601UdsIso14229_A::Create},
        {"T60.1_UDS_B", kProtocolUds, "CEcuT601UdsIso14229_B", &CEcuT601UdsIso14229_B::Create},
        {"T60.1_UDS_C", kProtocolUds, "CEcuT601UdsIso14229_C", &CEcuT601UdsIso14229_C::Create},
        {"T60.1_UDS_D", kProtocolUds, "CEcuT601UdsIso14229_D", &CEcuT601UdsIso14229_D::Create},
        {"T60.1_UDS_E", kProtocolUds, "CEcuT601UdsIso14229_E", &CEcuT601UdsIso14229_E::Create},
        {"T4X", kProtocolIso9141, "CEcuT4X", Create<CEcuT4XGeneric>},
        {"T40H4", kProtocolIso9141, "CEcuT40H4", Create<CEcuT40H4>},
        {"T40H5", kProtocolIso9141, "CEcuT40H5", Create<CEcuT40H5>},
        {"T65", kProtocolKwp2000, "CEcuT65Kwp2000", Create<CEcuT65Kwp2000>},
        {"T61", kProtocolKwp2000, "CEcuT61Kwp2000", Create<CEcuT61Kwp2000>},
        {"R6X", kProtocolKwp2000, "CEcuR6xKwp2000", Create<CEcuR6xKwp2000>},
        {"VOLTARIS_R61_MOTORCONTROLLER", kProtocolUds, "CEcuVoltarisR61UdsIso14229MotorController",
         &CEcuVoltarisR61UdsIso14229MotorController::Create},
        {"VOLTARIS_R61_SAFETYCONTROLLER", kProtocolUds,
         "CEcuVoltarisR61UdsIso14229SafetyController",
         &CEcuVoltarisR61UdsIso14229SafetyController::Create},
        {"R60", kProtocolKwp2000, "CEcuR60Kwp2000", Create<CEcuR60Kwp2000>},
        {"LUMAXX", kProtocolKwp2000, "CEcuLumaXX", Create<CEcuLumaXX>},
        {"LUMA_STANDARD", kProtocolKwp2000, "CEcuLumaStandard", Create<CEcuLumaStandard>},
        {"LUMA_DAG", kProtocolKwp2000, "CEcuLumaDAG", Create<CEcuLumaDAG>},
        {"LUMA_MAN_MARIVANE", kProtocolKwp2000, "CEcuLumaManMarivane", Create<CEcuLumaManMarivane>},
        {"LUMA_MAN_RETARDER", kProtocolKwp2000, "CEcuLumaManRetarder", Create<CEcuLumaManRetarder>},
        {"LUMA_KODIERSTATION", kProtocolKwp2000, "CEcuLumaKodierstation",
         Create<CEcuLumaKodierstation>},
        {"LUMA_PROTOTYPE", kProtocolKwp2000, "CEcuLumaPrototyp", Create<CEcuLumaPrototyp>},
        {"TCX", kProtocolUds, "CEcuTCXUdsIso14229", &CEcuTCXUdsIso14229::Create},
        {"KALIDOR_FREE_RUN", kProtocolKalidor, "CEcuKalidorFreeRun", Create<CEcuKalidorFreeRun>},
        {"KALIDOR_QUICK", kProtocolKalidor, "CEcuKalidorQuick", Create<CEcuKalidorQuick>},
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
