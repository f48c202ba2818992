#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ecu/CEcuUdsModel.h"

namespace diagbridge {

// The T6x transmission controllers on UDS: the family ("T6X"), the ORLAN controller
// ("T60.1") and five OEM variants ("T60.1_UDS_A" ... "_E"). Created on UDS communication
// objects only.
//
// Defaults: ECU 0x03 and tester 0xF1 in normal fixed addressing (ECU field = response
// identifier 0x18DAF103, TESTER field = request identifier 0x18DA03F1, FTESTER 0x18DBFFF1),
// REBOOT 300, no fill byte (FILLBYTE 255), time-outs 500 / 120000 / 600000 / 180000 ms for
// single request (and keep-alive) / upload / download / job, no keep-alive.
//
// Predefined access (13 steps, numbered from 0): 0 "10 01"; 1 "10 01" with the ORLAN
// fingerprint 2E FE FF (60-byte record, 25-byte record as fallback); 2, 3, 4 "10 02",
// "10 03", "10 40" with seed 27 61 / key 27 62 and fingerprint 2E FE FE; 5, 6, 7 the
// F15A/F15C/F15E writes after 27 05, 27 07, 27 09; 8, 9, 10 the F198/F19A and F199/F19B
// writes after 27 01, 27 01, 27 03; 11 and 12 empty. The step's writeRequests are: [0] the
// write, [1] the request sent after it, [2] the write tried when [0] is refused.
//
// Key routine (BuildAccessRequest): key = (seed * multiplier + addend) mod 65536 over the
// 16-bit seed in bytes 3 and 4 of the "67 xx" response, sent as "<key prefix> HH LL".
// The constants per step are kKeyConstants; steps without security access carry 0 and 0.
class CEcuT6xUdsIso14229 : public CEcuUdsModel {
  public:
    static constexpr const char* kKeyword = "T6X";
    static constexpr std::size_t kAccessSteps = 13;
    // Key constants of the access steps (multiplier, addend), model secrets of the family.
    static constexpr std::array<KeyConstants, kAccessSteps> kKeyConstants = {{
        {0, 0},
        {0, 0},
        {3517, 2741},  // 10 02, level 61
        {2903, 1187},  // 10 03, level 61
        {4177, 3061},  // 10 40, level 61
        {1931, 5077},  // 10 02, level 05
        {2663, 907},   // 10 03, level 07
        {3851, 4409},  // 10 03, level 09
        {1709, 2297},  // 10 02, level 01
        {2459, 6113},  // 10 03, level 01
        {3307, 1451},  // 10 03, level 03
        {0, 0},
        {0, 0},
    }};
    // Memory area of the T60.1 upload and its HEX record length.
    static constexpr uint32_t kT601MemoryStart = 0x400180;
    static constexpr uint32_t kT601MemoryLength = 0xFE80;
    static constexpr uint32_t kT601RecordLength = 0x80;

    // What distinguishes the members of the family.
    struct Variant {
        const char* keyword;
        const char* maker;
        bool upload;  // permissions after construction (single request always)
        bool download;
        uint32_t enabledSteps;      // bit i enables access step i
        int32_t programmingAccess;  // step opened for a download
        bool fingerprint;           // writes the ORLAN fingerprint at connect
        bool memoryArea;            // uploads the T60.1 memory area
        uint8_t downloadOption;     // handed to every download order
    };

    CEcuT6xUdsIso14229(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);

    // Fills the 13 access steps for today and the current user; returns their count.
    int32_t InitPredefinedAccess() override;
    // The memory read by an upload as HEX text under "[FRAM]".
    std::string BuildMemorySection() override;

    // The 13 access steps of the ORLAN controllers, dated date, fingerprinting user, with the
    // given key constants; all enabled.
    static std::vector<AccessStep> OrlanAccessSequences(
        const CalendarDate& date, const std::string& user,
        const std::array<KeyConstants, kAccessSteps>& constants);

  protected:
    CEcuT6xUdsIso14229(CSoftwareInterface* communicationObject, const std::string& parameter,
                       const Variant& variant);

  private:
    void SetFamilyDefaults(const Variant& variant);
};

// The ORLAN T60.1: single request, upload and download; uploads its memory area.
class CEcuT601UdsIso14229 : public CEcuT6xUdsIso14229 {
  public:
    static constexpr const char* kKeyword = "T60.1";
    CEcuT601UdsIso14229(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

// MAN variant: single request; no access step enabled.
class CEcuT601UdsIso14229_A : public CEcuT6xUdsIso14229 {
  public:
    static constexpr const char* kKeyword = "T60.1_UDS_A";
    CEcuT601UdsIso14229_A(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

// EvoBus variant: single request; access steps 5, 6, 7 (programming: 5).
class CEcuT601UdsIso14229_B : public CEcuT6xUdsIso14229 {
  public:
    static constexpr const char* kKeyword = "T60.1_UDS_B";
    CEcuT601UdsIso14229_B(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

// Volvo variant: single request; no access step enabled.
class CEcuT601UdsIso14229_C : public CEcuT6xUdsIso14229 {
  public:
    static constexpr const char* kKeyword = "T60.1_UDS_C";
    CEcuT601UdsIso14229_C(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

// Scania variant: single request; access steps 8, 9, 10 (programming: 8).
class CEcuT601UdsIso14229_D : public CEcuT6xUdsIso14229 {
  public:
    static constexpr const char* kKeyword = "T60.1_UDS_D";
    CEcuT601UdsIso14229_D(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

// Irisbus variant: single request; access steps 11, 12 (programming: 11).
class CEcuT601UdsIso14229_E : public CEcuT6xUdsIso14229 {
  public:
    static constexpr const char* kKeyword = "T60.1_UDS_E";
    CEcuT601UdsIso14229_E(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);
};

}  // namespace diagbridge
