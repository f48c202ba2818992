#include "sim/uds/UdsEcuProfile.h"

#include <algorithm>

#include "sim/uds/UdsEcuModels.h"

namespace diagbridge::sim {

namespace {

constexpr uint32_t kTwoByteKeyModulus = 0x10000;

std::vector<uint8_t> Text(const char* text) {
    return std::vector<uint8_t>(text, text + std::char_traits<char>::length(text));
}

}  // namespace

uint32_t UdsKeyFor(const UdsKeyRule& rule, uint32_t seed) {
    const int64_t key = static_cast<int64_t>(seed) * rule.multiplier + rule.addend;
    if (rule.seedBytes == 4) return static_cast<uint32_t>(key);
    const int64_t reduced = key % kTwoByteKeyModulus;
    return static_cast<uint32_t>(reduced < 0 ? reduced + kTwoByteKeyModulus : reduced);
}

const UdsKeyRule* UdsEcuProfile::KeyRule(uint8_t session, uint8_t seedLevel) const {
    for (const UdsKeyRule& rule : keyRules) {
        if (rule.session == session && rule.seedLevel == seedLevel) return &rule;
    }
    return nullptr;
}

bool UdsEcuProfile::HasSession(uint8_t session) const {
    return std::find(sessions.begin(), sessions.end(), session) != sessions.end();
}

UdsEcuProfile DefaultUdsEcuProfile() {
    UdsEcuProfile profile;
    profile.model = "T6X";
    profile.identifiers = {
        {0xF18C, {0x00, 0x12, 0xD6, 0x87}},  // serial number 1234567
        {0xFD00, Text("HW-T60.1-A3")},
        {0xFD01, Text("T60.1 RETARDER")},
        {0xFD02, {0x20, 0x14, 0x03, 0x27}},  // production date, BCD
        {0xF193, Text("HW 03.02")},
        {0xF195, Text("SW 61.04.17")},
        {0xF1F1, Text("BL 02.01")},
        {0xF1F5, Text("DS 0815-4711")},
        {0xFEFD, {0x00, 0x01}},  // OEM: not the EVO bus (that one ends in 03)
        {0xE101, {0x40, 0x00, 0x00, 0x40, 0xFF, 0xFF, 0x41, 0x00, 0x00, 0x41, 0x7F, 0xFF}},
        {0xF190, Text("WDB9062321N123456")},
        {0xF192, Text("A 000 446 23 10")},
        {0xF150, {0x01, 0x02, 0x03}},
        {0xF151, {0x04, 0x05, 0x06}},
        {0xF153, {0x02, 0x01, 0x00}},
        {0xF194, Text("ECU-SW 17")},
        {0xF15B, {0x01, 0x00, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}},
        {0xF1F3, Text("R115")},
        {0xF1F4, Text("2014")},
        {0xF1FB, Text("R-4711")},
        {0xF1FD, Text("R-0815")},
        {0xF116, Text("K-1234")},
        {0xF126, Text("MTS 2.0")},
        {0xF1A0, Text("WDB9062321N123456")},
    };
    profile.writeOnly = {0xFEFE, 0xFEFF, 0xF15A, 0xF15C, 0xF15E, 0xF198, 0xF199, 0xF19A, 0xF19B};
    profile.dtcs = {
        {0x012345, 0x2F, {0x01, 0x05, 0x10, 0x00, 0x3C}},
        {0xC10000, 0x08, {0x01, 0x01, 0x22, 0x00, 0x11}},
    };
    profile.mirrorDtcs = {{0x054321, 0x28, {0x01, 0x02, 0x00, 0x00, 0x07}}};
    return profile;
}

bool ProfileForModel(const std::string& keyword, UdsEcuProfile& profile, std::string& error) {
    const UdsEcuModel* model = FindUdsEcuModel(keyword);
    if (model == nullptr) {
        error = "no UDS model \"" + keyword + "\" in the virtual ECU's table";
        return false;
    }
    profile = DefaultUdsEcuProfile();
    profile.model = keyword;
    profile.ecuAddress = model->ecuAddress;
    profile.testerAddress = model->testerAddress;
    profile.sessions = model->sessions;
    profile.keyRules = model->keyRules;
    return true;
}

}  // namespace diagbridge::sim
