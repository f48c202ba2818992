#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "ecu/CEcuT6xUdsIso14229.h"
#include "ecu/CEcuUdsModel.h"

namespace diagbridge {

// The Voltaris R61 drive controllers on UDS. Only the motor and the safety controller can
// be created; the family keyword "VOLTARIS_R61" names no creatable model.
//
// Identifiers: ECU address 0xFA; the motor controller talks to tester 0xF1, the safety
// controller to 0xF2. In these models the ECU field is the identifier addressed to the ECU
// (the request identifier) and the TESTER field the one addressed to the tester (the
// response identifier); ECU_TESTER_PHYSICAL takes "<ECU field>,<TESTER field>", and
// ECU_FUNCTIONAL (reported as FECU) the functional identifier 0x18DBFFFA.
//
// Time-outs 5000 / 120000 / 600000 / 180000 ms; no permission after construction (the
// creation string enables the services needed); the download checks dependencies with the
// CRC. Access: the 13 ORLAN steps of the T6x family, all enabled, with the key constants
// kKeyConstants; the key routine is the T6x one.
class CEcuVoltarisR61UdsIso14229 : public CEcuUdsModel {
  public:
    static constexpr const char* kKeyword = "VOLTARIS_R61";
    static constexpr std::size_t kAccessSteps = CEcuT6xUdsIso14229::kAccessSteps;
    // Key constants of the access steps (multiplier, addend), model secrets of the family.
    static constexpr std::array<KeyConstants, kAccessSteps> kKeyConstants = {{
        {0, 0},
        {0, 0},
        {2371, 4093},  // 10 02, level 61
        {1213, 3347},  // 10 03, level 61
        {3929, 577},   // 10 40, level 61
        {2647, 1999},  // 10 02, level 05
        {1453, 6421},  // 10 03, level 07
        {3613, 2819},  // 10 03, level 09
        {2179, 5303},  // 10 02, level 01
        {3083, 1871},  // 10 03, level 01
        {1621, 3967},  // 10 03, level 03
        {0, 0},
        {0, 0},
    }};

    // Fills the 13 access steps for today and the current user; returns their count.
    int32_t InitPredefinedAccess() override;

  protected:
    struct Controller {
        const char* keyword;
        uint32_t ecuField;     // addressed to the ECU: the request identifier
        uint32_t testerField;  // addressed to the tester: the response identifier
    };
    CEcuVoltarisR61UdsIso14229(CSoftwareInterface* communicationObject,
                               const std::string& parameter, const Controller& controller);
};

class CEcuVoltarisR61UdsIso14229MotorController : public CEcuVoltarisR61UdsIso14229 {
  public:
    static constexpr const char* kKeyword = "VOLTARIS_R61_MOTORCONTROLLER";
    CEcuVoltarisR61UdsIso14229MotorController(CSoftwareInterface* communicationObject,
                                              const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

class CEcuVoltarisR61UdsIso14229SafetyController : public CEcuVoltarisR61UdsIso14229 {
  public:
    static constexpr const char* kKeyword = "VOLTARIS_R61_SAFETYCONTROLLER";
    CEcuVoltarisR61UdsIso14229SafetyController(CSoftwareInterface* communicationObject,
                                               const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

}  // namespace diagbridge
