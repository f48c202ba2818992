#pragma once
#include <cstdint>
#include <string>

#include "ecu/CEcuKwp2000.h"

namespace diagbridge {

// The T6x controllers on KWP2000 ("T6X": any T6x; leaves T60, T60.1, T65, T61). Defaults:
// ECU 0x18 / tester 0xFA (every address entry, one in use), tester 0xF0 for OEM 1, timing
// 5/50/0/5000/0 ms, time-outs 500/120000/600000/14 ms, FRAM 0x400180/0xFE80, memory
// upload from 0x400180 in pieces of 128 bytes, all four services allowed.
// Security access: OEM 0 seed "27 FD", key "27 FE HH LL" (MakerAccessKey); OEM 1 seed
// "27 01", key "27 02 HH LL" (VehicleMakerAccessKey); any other OEM: nothing is sent.
class CEcuT6xKwp2000 : public CEcuKwp2000 {
  public:
    static constexpr const char* kKeyword = "T6X";

    // The generic T6x model; parameter is the whole creation string ("T6X|ECU_TESTER=...").
    CEcuT6xKwp2000(CSoftwareInterface* communicationObject, const std::string& parameter);

    // keyword|KWP2000|ECU=0x%2Xh|TESTER=0x%2Xh|SERVICESINGLEREQUEST=%d|SERVICEUPLOAD=%d|
    // SERVICEDOWNLOAD=%d|SERVICEJOB=%d
    std::string GetParameterString() override;
    // The first token must be the model's keyword (else -3); then the keys of SetParameter.
    int32_t ParseParameterString(const std::string& text) override;
    int32_t SetDefaults() override;
    std::string SeedRequestFor(int32_t oemId, int32_t diagnosticMode) override;
    std::string KeyRequestFor(int32_t oemId, int32_t diagnosticMode, int32_t seed) override;

  protected:
    // A leaf model: its keyword (also the only object type it accepts) and memory-upload
    // length.
    CEcuT6xKwp2000(CSoftwareInterface* communicationObject, const std::string& parameter,
                   const std::string& keyword, uint32_t uploadLength);

  private:
    uint32_t uploadLength_;
};

class CEcuT60Kwp2000 : public CEcuT6xKwp2000 {
  public:
    static constexpr const char* kKeyword = "T60";
    CEcuT60Kwp2000(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuT601Kwp2000 : public CEcuT6xKwp2000 {
  public:
    static constexpr const char* kKeyword = "T60.1";
    CEcuT601Kwp2000(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuT65Kwp2000 : public CEcuT6xKwp2000 {
  public:
    static constexpr const char* kKeyword = "T65";
    CEcuT65Kwp2000(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuT61Kwp2000 : public CEcuT6xKwp2000 {
  public:
    static constexpr const char* kKeyword = "T61";
    CEcuT61Kwp2000(CSoftwareInterface* communicationObject, const std::string& parameter);
};

}  // namespace diagbridge
