#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "ecu/CEcuUdsModel.h"

namespace diagbridge {

// The TCX controller on UDS ("TCX"): ECU 0x0F and tester 0xF1 in normal fixed addressing
// (ECU field = response identifier 0x18DAF10F, TESTER field = request identifier
// 0x18DA0FF1, FTESTER 0x18DBFFF1), fill byte 255 on, time-outs as the T6x family, single
// request, upload and download allowed, dependency check with the CRC.
//
// Upload: the 18 identification reads of kIdentTable under "[Ident]"; the memory as HEX
// text under "[EEPROM]".
//
// Access (5 steps, all enabled): 0 "10 02" with 27 05 / 27 06 and the F15A workshop write
// (the programming access); 1 "10 03" with 27 01 / 27 02; 2, 3, 4 "10 60", "10 61",
// "10 62" with 27 61 / 27 62, 27 63 / 27 64, 27 65 / 27 66.
//
// Key routine (BuildAccessRequest) by the length of the "67 xx" seed response: 4 bytes: the
// T6x 16-bit routine; 6 bytes: key = seed * multiplier + addend over the 32-bit seed in
// bytes 3 to 6, sent as "<key prefix> B3 B2 B1 B0" (bits 31-24 first); any other length:
// empty. The constants per step are kKeyConstants.
class CEcuTCXUdsIso14229 : public CEcuUdsModel {
  public:
    static constexpr const char* kKeyword = "TCX";
    static constexpr const char* kIdentHeading = "[Ident]|";
    static constexpr std::size_t kAccessSteps = 5;
    // Key constants of the access steps (multiplier, addend), model secrets of the TCX.
    static constexpr std::array<KeyConstants, kAccessSteps> kKeyConstants = {{
        {2083, 3919},  // 10 02, level 05
        {2777, 1321},  // 10 03, level 01
        {3181, 4273},  // 10 60, level 61
        {1597, 2609},  // 10 61, level 63
        {2311, 3733},  // 10 62, level 65
    }};
    static constexpr std::size_t kIdentEntries = 18;
    static const std::array<UdsIdentEntry, kIdentEntries> kIdentTable;

    CEcuTCXUdsIso14229(CSoftwareInterface* communicationObject, const std::string& parameter);
    static std::unique_ptr<CEcu> Create(CSoftwareInterface* communicationObject,
                                        const std::string& parameter);

    std::string BuildMemorySection() override;
    std::string BuildAccessRequest(const AccessStep& step, const std::string& response) override;

  private:
    void FillAccessTable(const CalendarDate& date);
};

}  // namespace diagbridge
