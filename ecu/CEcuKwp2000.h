#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ecu/CEcu.h"
#include "ecu/KwpUploadValues.h"

namespace diagbridge {

// What the KWP2000 models (T6x, R6x and Luma families) share: the parameter keys of their
// KWP2000 sub-block, the connect, the security-access entry points and the upload values
// and sections. The KWP2000 stack uses a model through this class:
//
//  - at connect it works on its copy of parameters_.kwp (address table, timing, time-outs,
//    per-OEM tester table, download areas, memory-upload values, SID requests, DTC status)
//    and asks MatchObjectType with the text of 1A 93;
//  - in the diagnostic access it calls GetSeedRequest() and GetKeyRequest(mode, seed) while
//    the access order runs: the OEM id and the diagnostic mode are those of the order on
//    the communication object. An empty text means: send nothing;
//  - in the upload it clears KwpUpload(), fills it (memory map, memory answers, ident
//    values, events, SID lines, date), sets the header idents kIdentObject, kIdentHardware,
//    kIdentSoftware, kIdentDataset, and calls BuildUploadText(), which also stores the text.
class CEcuKwp2000 : public CEcu {
  public:
    static constexpr const char* kProtocolKeyword = "KWP2000";
    static constexpr const char* kUploadHeading = "[KOBOLD]";
    static constexpr const char* kFormatVersion = "4.x";
    static constexpr const char* kFormatType = "3";

    // Headings and reading rules that differ between the families.
    struct Layout {
        const char* memoryHeading;
        const char* identHeading;
        const char* eventHeading;
        const char* sidHeading;
        const char* identScaling;
        bool framAlwaysHex;         // FRAMADR/FRAMSIZE in hex even without 0x or h
        bool framSetsUploadArea;    // FRAMADR/FRAMSIZE also move the memory-upload area
        uint8_t defaultEcuAddress;  // for a missing part of ECU_TESTER
        uint8_t defaultTesterAddress;
    };

    // Common keys: ECU_TESTER, ECU, TESTER, P2MIN, P2MAX, P3MIN, P3MAX, P4MIN, FRAMADR,
    // FRAMSIZE, UPLOADSID, SERVICESINGLEREQUEST, SERVICEUPLOAD, SERVICEDOWNLOAD, SERVICEJOB,
    // TIMEOUT_SERVICESINGLEREQUEST, _SERVICEUPLOAD, _SERVICEDOWNLOAD, _SERVICEJOB. Blanks are
    // removed from the value. 0, or -3 for an unknown key or a value out of range.
    int32_t SetParameter(const std::string& key, const std::string& value) override;
    // -7 without a communication object; else the connect result.
    int32_t Connect() override;
    // Leaf models: true only for their own object type; the generic models accept any.
    bool MatchObjectType(const std::string& objectType) override;

    // The seed request of the running access order's OEM id and diagnostic mode.
    std::string GetSeedRequest() override;
    // The key request for seed (16 bits) in diagnosticMode, for the running order's OEM id.
    std::string GetKeyRequest(int32_t diagnosticMode, int32_t seed) override;
    // The same for a given OEM id: "27 xx" and "27 xx HH LL", or empty (nothing to send).
    virtual std::string SeedRequestFor(int32_t oemId, int32_t diagnosticMode) = 0;
    virtual std::string KeyRequestFor(int32_t oemId, int32_t diagnosticMode, int32_t seed) = 0;

    // "[KOBOLD]|Version=4.x|FormatType=3|" then TheTime, TheUser, TheObject, TheHardware,
    // TheSoftware, TheDataset as KEY="value", each closed by "|".
    std::string BuildUploadHeader() override;
    std::string BuildDataBlockSection() override;
    std::string BuildMemorySection() override;
    // Ident heading, Scaling="...", then Ident%02X=["value"] (INVALID_Ident%02X= when the
    // value is marked invalid), each closed by "|"; empty without ident values.
    std::string BuildIdentSection() override;
    // "[EventMem]|EventAnz=n|Eventx="<list>"|" and Event%d="XX XX"| per event.
    std::string BuildEventMemorySection() override;
    std::string BuildSidSection() override;
    // The sections in their order; the text is also kept as the upload text.
    std::string BuildUploadText() override;

    KwpUploadValues& KwpUpload() { return upload_; }
    // The model's identification table for the upload; empty when the ECU lists its own.
    const std::vector<KwpIdentName>& IdentNames() const { return identNames_; }
    // The type keyword the model was created with.
    const std::string& Keyword() const { return keyword_; }

  protected:
    CEcuKwp2000(CSoftwareInterface* communicationObject, const std::string& keyword,
                const std::string& objectType, const Layout& layout);

    // Accepts the creation string; clears created when it is rejected.
    void AcceptParameterString(const std::string& parameter);
    // The identification value text of a line of the ident section.
    virtual std::string IdentValueText(const KwpIdentValue& value) const { return value.value; }
    // Fills every address entry with (tester, ecu), sets the pair in use and the count.
    void FillAddressTable(uint8_t tester, uint8_t ecu, int32_t count);
    // P2MIN, P2MAX, P3MIN, P3MAX, P4MIN and the four time-outs the KWP2000 models share.
    void SetCommonTiming();
    // "ECU=0x%2Xh|TESTER=0x%2Xh|".
    std::string AddressParameters() const;
    // "P2MIN=%d|P2MAX=%d|P3MIN=%d|P3MAX=%d|P4MIN=%d|".
    std::string TimingParameters() const;
    // "SERVICEUPLOAD=%d|SERVICEDOWNLOAD=%d|SERVICEJOB=%d".
    std::string ServiceParameters() const;
    // The OEM id and diagnostic mode of the order running on the communication object.
    ServiceOrder AccessOrder() const;
    // The seed request "27 ss" and the key request "27 ss HH LL" (security access).
    static std::string SecurityRequest(uint8_t subFunction);
    static std::string SecurityRequest(uint8_t subFunction, uint16_t key);
    // Progress of the access service on the communication object.
    void AccessProgress(const std::string& text);

    KwpParameterBlock& Kwp() { return parameters_.kwp; }
    const KwpParameterBlock& Kwp() const { return parameters_.kwp; }

    std::string keyword_;
    Layout layout_;
    bool exactObjectType_ = false;  // set by the leaf models
    std::vector<KwpIdentName> identNames_;
    KwpUploadValues upload_;

  private:
    int32_t AddAddressPair(const std::string& value);
    int32_t SetAddressInUse(const std::string& key, const std::string& value);
    int32_t SetTiming(const std::string& key, const std::string& value);
    int32_t SetTimeout(const std::string& key, const std::string& value);
    int32_t SetFram(const std::string& key, const std::string& value);
    int32_t SetSidRequests(const std::string& value);

    int32_t pairsGiven_ = 0;  // ECU_TESTER keys seen so far
};

}  // namespace diagbridge
