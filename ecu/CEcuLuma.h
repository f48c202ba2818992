#pragma once
#include <cstdint>
#include <string>

#include "ecu/CEcuKwp2000.h"

namespace diagbridge {

// The Luma retarder controllers on KWP2000. CEcuLumaXX ("LUMAXX") holds all behaviour and
// scans the five default pairs (tester, ECU) (F0, 29), (F0, 2C), (F0, 2D), (F0, 2F), (F0, FF);
// the variants below talk to one pair each. Defaults: timing 5/50/0/5000/0 ms, time-outs
// 500/120000/600000/14 ms, EEPROM 0x800000/2048 bytes read from memory map 04 in pieces of
// 16 bytes (528 as a byte).
// Security access: OEM 0 (ORLAN) seed "27 FD", key "27 FE HH LL" (MakerAccessKey); OEM 1
// (MAN) nothing in mode 0x81, else seed "27 01" / key "27 02 HH LL" in mode 0x83 and
// "27 FB" / "27 FC HH LL" in the others (ManAccessKey); any other OEM: nothing is sent.
class CEcuLumaXX : public CEcuKwp2000 {
  public:
    static constexpr const char* kKeyword = "LUMAXX";

    CEcuLumaXX(CSoftwareInterface* communicationObject, const std::string& parameter);

    // "LUMAXX|KWP2000|ECU=0x%2Xh|TESTER=0x%2Xh|P2MIN=%d|P2MAX=%d|P3MIN=%d|P3MAX=%d|P4MIN=%d|
    // FRAMADR=0x%Xh|FRAMSIZE=0x%Xh|SERVICEUPLOAD=%d|SERVICEDOWNLOAD=%d|SERVICEJOB=%d", also
    // for the variants.
    std::string GetParameterString() override;
    // The first token must be the class's own keyword and every further token KEY=VALUE
    // (else -3). FRAMADR and FRAMSIZE are hexadecimal and also set the memory-upload area.
    int32_t ParseParameterString(const std::string& text) override;
    int32_t SetDefaults() override;
    // -7 without a communication object. After a finished connect the parameter block comes
    // back from the communication object (the pair found), and the ECU and tester addresses
    // go into the ident record as "%X".
    int32_t Connect() override;
    std::string SeedRequestFor(int32_t oemId, int32_t diagnosticMode) override;
    std::string KeyRequestFor(int32_t oemId, int32_t diagnosticMode, int32_t seed) override;

    // Empty.
    std::string BuildDataBlockSection() override;
    // "[Ident]|" and per ident name NAME="value"| (NAME=| when nothing was read under its
    // local identifier); empty when nothing was read.
    std::string BuildIdentSection() override;
    // "[Fehlerspeicher]|EventAnz=n|Eventx="<list>"|" and Event%d= "XX XX "| per event.
    std::string BuildEventMemorySection() override;
    // Header, ident, event memory, data blocks, memory, SID; also kept as the upload text.
    std::string BuildUploadText() override;

  protected:
    struct Variant {
        const char* keyword;
        uint8_t ecuAddress;
        uint8_t testerAddress;
        bool manIdentTable;
        bool onePair;  // false: scan all default pairs
        bool allow;    // upload and download allowed
    };
    CEcuLumaXX(CSoftwareInterface* communicationObject, const std::string& parameter,
               const Variant& variant);
};

class CEcuLumaStandard : public CEcuLumaXX {
  public:
    static constexpr const char* kKeyword = "LUMA_STANDARD";
    CEcuLumaStandard(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuLumaDAG : public CEcuLumaXX {
  public:
    static constexpr const char* kKeyword = "LUMA_DAG";
    CEcuLumaDAG(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuLumaManMarivane : public CEcuLumaXX {
  public:
    static constexpr const char* kKeyword = "LUMA_MAN_MARIVANE";
    CEcuLumaManMarivane(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuLumaManRetarder : public CEcuLumaXX {
  public:
    static constexpr const char* kKeyword = "LUMA_MAN_RETARDER";
    CEcuLumaManRetarder(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuLumaKodierstation : public CEcuLumaXX {
  public:
    static constexpr const char* kKeyword = "LUMA_KODIERSTATION";
    CEcuLumaKodierstation(CSoftwareInterface* communicationObject, const std::string& parameter);
};

class CEcuLumaPrototyp : public CEcuLumaXX {
  public:
    static constexpr const char* kKeyword = "LUMA_PROTOTYPE";
    CEcuLumaPrototyp(CSoftwareInterface* communicationObject, const std::string& parameter);
};

}  // namespace diagbridge
