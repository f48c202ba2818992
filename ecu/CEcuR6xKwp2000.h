#pragma once
#include <cstdint>
#include <string>

#include "ecu/CEcuKwp2000.h"

namespace diagbridge {

// The R6x controllers on KWP2000 ("R6X": any R6x; leaf R60). Defaults: ECU 0xEF / tester
// 0xFA (every address entry, one in use), tester 0xFA for OEM 0 (the other OEM ids keep the
// current tester), timing 5/50/0/5000/0 ms, time-outs 500/120000/600000/14 ms, FRAM
// 0x400180/0xFE80, memory upload 0x400180/0xFE80 in pieces of 128 bytes, all four services
// allowed. Security access: OEM 0 only, seed "27 FD", key "27 FE HH LL" (MakerAccessKey).
class CEcuR6xKwp2000 : public CEcuKwp2000 {
  public:
    static constexpr const char* kKeyword = "R6X";

    CEcuR6xKwp2000(CSoftwareInterface* communicationObject, const std::string& parameter);

    // keyword|KWP2000|ECU=0x%2Xh|TESTER=0x%2Xh|P2MIN=%d|P2MAX=%d|P3MIN=%d|P3MAX=%d|P4MIN=%d|
    // SERVICESINGLEREQUEST=%d|SERVICEUPLOAD=%d|SERVICEDOWNLOAD=%d|SERVICEJOB=%d
    std::string GetParameterString() override;
    // The first token must be the model's keyword (else -3); then the keys of SetParameter.
    int32_t ParseParameterString(const std::string& text) override;
    int32_t SetDefaults() override;
    std::string SeedRequestFor(int32_t oemId, int32_t diagnosticMode) override;
    std::string KeyRequestFor(int32_t oemId, int32_t diagnosticMode, int32_t seed) override;

  protected:
    // A leaf model with its keyword, also the only object type it accepts.
    CEcuR6xKwp2000(CSoftwareInterface* communicationObject, const std::string& parameter,
                   const std::string& keyword);
    // Date options (8F, 99) are written "%d%d%d%d-%d%d-%d%d" from the value's eight digits,
    // "0000-00-00" when it has none.
    std::string IdentValueText(const KwpIdentValue& value) const override;
};

class CEcuR60Kwp2000 : public CEcuR6xKwp2000 {
  public:
    static constexpr const char* kKeyword = "R60";
    CEcuR60Kwp2000(CSoftwareInterface* communicationObject, const std::string& parameter);
};

}  // namespace diagbridge
