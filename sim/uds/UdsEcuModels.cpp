#include "sim/uds/UdsEcuModels.h"

namespace diagbridge::sim {

namespace {

constexpr uint8_t kTesterF1 = 0xF1;
constexpr uint8_t kTesterF2 = 0xF2;
constexpr uint8_t kT6xEcu = 0x03;
constexpr uint8_t kVoltarisEcu = 0xFA;
constexpr uint8_t kTcxEcu = 0x0F;

// Security levels of the T6x family: (session, seed level, multiplier, addend).
const std::vector<UdsKeyRule> kT6xKeys = {
    {0x02, 0x61, 3517, 2741}, {0x03, 0x61, 2903, 1187}, {0x40, 0x61, 4177, 3061},
    {0x02, 0x05, 1931, 5077}, {0x03, 0x07, 2663, 907},  {0x03, 0x09, 3851, 4409},
    {0x02, 0x01, 1709, 2297}, {0x03, 0x01, 2459, 6113}, {0x03, 0x03, 3307, 1451},
};
const std::vector<UdsKeyRule> kVoltarisKeys = {
    {0x02, 0x61, 2371, 4093}, {0x03, 0x61, 1213, 3347}, {0x40, 0x61, 3929, 577},
    {0x02, 0x05, 2647, 1999}, {0x03, 0x07, 1453, 6421}, {0x03, 0x09, 3613, 2819},
    {0x02, 0x01, 2179, 5303}, {0x03, 0x01, 3083, 1871}, {0x03, 0x03, 1621, 3967},
};
const std::vector<UdsKeyRule> kTcxKeys = {
    {0x02, 0x05, 2083, 3919}, {0x03, 0x01, 2777, 1321}, {0x60, 0x61, 3181, 4273},
    {0x61, 0x63, 1597, 2609}, {0x62, 0x65, 2311, 3733},
};
const std::vector<uint8_t> kT6xSessions = {0x01, 0x02, 0x03, 0x40};
const std::vector<uint8_t> kTcxSessions = {0x01, 0x02, 0x03, 0x60, 0x61, 0x62};

const std::vector<UdsEcuModel>& Models() {
    static const std::vector<UdsEcuModel> models = {
        {"T6X", kT6xEcu, kTesterF1, kT6xSessions, kT6xKeys},
        {"T60.1", kT6xEcu, kTesterF1, kT6xSessions, kT6xKeys},
        {"T60.1_UDS_A", kT6xEcu, kTesterF1, kT6xSessions, kT6xKeys},
        {"T60.1_UDS_B", kT6xEcu, kTesterF1, kT6xSessions, kT6xKeys},
        {"T60.1_UDS_C", kT6xEcu, kTesterF1, kT6xSessions, kT6xKeys},
        {"T60.1_UDS_D", kT6xEcu, kTesterF1, kT6xSessions, kT6xKeys},
        {"T60.1_UDS_E", kT6xEcu, kTesterF1, kT6xSessions, kT6xKeys},
        {"VOLTARIS_R61_MOTORCONTROLLER", kVoltarisEcu, kTesterF1, kT6xSessions, kVoltarisKeys},
        {"VOLTARIS_R61_SAFETYCONTROLLER", kVoltarisEcu, kTesterF2, kT6xSessions, kVoltarisKeys},
        {"TCX", kTcxEcu, kTesterF1, kTcxSessions, kTcxKeys},
    };
    return models;
}

}  // namespace

const UdsEcuModel* FindUdsEcuModel(const std::string& keyword) {
    for (const UdsEcuModel& model : Models()) {
        if (model.keyword == keyword) return &model;
    }
    return nullptr;
}

}  // namespace diagbridge::sim
