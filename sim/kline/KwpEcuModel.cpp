#include "sim/kline/KwpEcuModel.h"

namespace diagbridge::sim {

namespace {

constexpr uint8_t kIdentList = 0x80;
constexpr uint8_t kProductionDate = 0x8F;
constexpr uint8_t kHardwareVersion = 0x93;
constexpr uint8_t kObjectType = 0x8E;

constexpr uint8_t kFramLayout = 0x01;
constexpr uint8_t kMemoryMap = 0x02;
constexpr uint8_t kLumaMemoryMap = 0x04;

constexpr uint32_t kSoftwareStart = 0x8000;
constexpr uint32_t kDatasetEnd = 0x406E00;
constexpr uint32_t kT6xFramStart = 0x400180;
constexpr uint32_t kT6xFramEnd = 0x410000;
constexpr uint32_t kLumaEepromStart = 0x800000;
constexpr uint32_t kLumaEepromSize = 2048;

std::vector<uint8_t> Text(std::string_view text) {
    return {text.begin(), text.end()};
}

// The text of an ident as a fixed field padded with 0 bytes, as the controllers send it.
std::vector<uint8_t> Field(std::string_view text, size_t width) {
    std::vector<uint8_t> bytes = Text(text);
    if (bytes.size() < width) bytes.resize(width, 0);
    return bytes;
}

const std::vector<uint8_t> kSessions = {0x81, 0x83, 0x84, 0x85, 0x86, 0x87, 0x89};
const KwpSecurityLevel kMakerLevel = {0xFD, 0xFE, KwpKeyRoutine::kMaker};

KwpEcuModel T6x(std::string_view name, uint32_t uploadLength, uint32_t serial) {
    KwpEcuModel model;
    model.name = name;
    model.ecuAddress = 0x18;
    model.testerAddress = 0xFA;
    // The maker's own tester, and the vehicle maker's (OEM 1) tester.
    model.testerAddresses = {0xFA, 0xF0};
    model.sessions = kSessions;
    model.securityLevels = {kMakerLevel, {0x01, 0x02, KwpKeyRoutine::kVehicleMaker}};
    model.idents = {
        {0x8C, Text("SN" + std::to_string(serial))},
        {kObjectType, Text(name)},
        {kProductionDate, {0x20, 0x19, 0x05, 0x14, 0x00, 0x03}},
        {0x92, Field("6085 012 001", 16)},
        {kHardwareVersion, Field(name, 8)},
        {0x95, Text("SW 4.12.03")},
        {0xA0, Text("WDB9634031L123456")},
        {0xA1, Text("Retarder R115")},
        {0xA2, {0x01, 0x07, 0x00, 0x2A}},
        {0xA7, Text("SCSW 1.02")},
        {0xB1, Text("LDR 2.01")},
        {0xB5, Text("DS 0815-03")},
        {0xBF, {0x00, 0x00, 0x00, 0x01}},
    };
    const KwpAddressRange fram = {kT6xFramStart, kT6xFramEnd - kT6xFramStart};
    model.areaLists = {{kFramLayout, {fram}}, {kMemoryMap, {{kT6xFramStart, uploadLength}}}};
    model.upgradeStatus = true;
    model.memoryAreas = {fram};
    model.downloadRegions = {{kSoftwareStart, kDatasetEnd - kSoftwareStart}, fram};
    model.troubleCodes = {
        {0x5012, 0x62, {0x01, 0x2C, 0x00, 0x4B}},
        {0x6101, 0x22, {0x00, 0x10}},
        {0x7A03, 0xE2, {0x03, 0x00, 0x00, 0x00, 0x19}},
    };
    return model;
}

KwpEcuModel R60() {
    KwpEcuModel model = T6x("R60", 0xFE80, 100231);
    model.ecuAddress = 0xEF;
    model.testerAddresses = {0xFA};
    model.securityLevels = {kMakerLevel};
    return model;
}

KwpEcuModel Luma(std::string_view name, uint8_t ecuAddress, uint8_t testerAddress) {
    KwpEcuModel model;
    model.name = name;
    model.ecuAddress = ecuAddress;
    model.testerAddress = testerAddress;
    model.testerAddresses = {testerAddress};
    model.sessions = kSessions;
    model.securityLevels = {
        kMakerLevel, {0x01, 0x02, KwpKeyRoutine::kMan}, {0xFB, 0xFC, KwpKeyRoutine::kMan}};
    // The identifiers of both Luma ident tables, so that every variant finds its own.
    model.idents = {
        {0x87, Text("4711-0815-00")},
        {0x8C, Text("LM20230417")},
        {0x8D, Text("LM20230417")},
        {0x8E, Text("PR-MAN-0042")},
        {kProductionDate, {0x20, 0x23, 0x04, 0x17}},
        {0x90, Text("WMAH05ZZ0MM123456")},
        {0x91, Text("81.62190.6021")},
        {0x92, Text("HW 03.1")},
        {kHardwareVersion, Text("LUMA HW 3")},
        {0x94, Text("LSW 2.7.1")},
        {0x95, Text("LSW 2.7.1")},
        {0x97, Text("R133-2")},
        {0x99, {0x20, 0x24, 0x01, 0x30}},
        {0x9A, Text("CITARO")},
        {0x9B, Text("LUMA-RT")},
        {0x9C, Text("D2066LUH")},
    };
    const KwpAddressRange eeprom = {kLumaEepromStart, kLumaEepromSize};
    model.areaLists = {{kFramLayout, {eeprom}}, {kLumaMemoryMap, {eeprom}}};
    model.memoryAreas = {eeprom};
    model.downloadRegions = {{kSoftwareStart, kDatasetEnd - kSoftwareStart}, eeprom};
    model.troubleCodes = {{0x0110, 0x24, {0x0B, 0x80}}};
    return model;
}

std::vector<KwpEcuModel> BuildModels() {
    std::vector<KwpEcuModel> models = {
        T6x("T60", 0x7EE0, 600117),
        T6x("T60.1", 0x7EE0, 601204),
        T6x("T65", 0xFEE0, 650033),
        T6x("T61", 0xFE80, 610088),
        R60(),
        Luma("LUMA_STANDARD", 0x29, 0xF0),
        Luma("LUMA_DAG", 0x29, 0xF0),
        Luma("LUMA_MAN_MARIVANE", 0x2C, 0xF0),
        Luma("LUMA_MAN_RETARDER", 0x2D, 0xF0),
        Luma("LUMA_KODIERSTATION", 0x2F, 0xFD),
        Luma("LUMA_PROTOTYPE", 0xFF, 0xF0),
    };
    for (KwpEcuModel& model : models) {
        std::vector<uint8_t> listed;
        for (const KwpIdentRecord& ident : model.idents) listed.push_back(ident.option);
        model.idents.insert(model.idents.begin(), {kIdentList, listed});
    }
    return models;
}

const std::vector<KwpEcuModel>& Models() {
    static const std::vector<KwpEcuModel> models = BuildModels();
    return models;
}

}  // namespace

const KwpEcuModel* FindKwpEcuModel(std::string_view name) {
    for (const KwpEcuModel& model : Models()) {
        if (model.name == name) return &model;
    }
    return nullptr;
}

std::vector<std::string> KwpEcuModelNames() {
    std::vector<std::string> names;
    for (const KwpEcuModel& model : Models()) names.push_back(model.name);
    return names;
}

}  // namespace diagbridge::sim
