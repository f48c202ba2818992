#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ecu/CEcu.h"
#include "engine/ByteBuffer.h"

namespace diagbridge {

// A local calendar date, year in full (2014), month 1..12, day 1..31.
struct CalendarDate {
    int32_t year = 2000;
    int32_t month = 1;
    int32_t day = 1;
};

// Key constants of one access step: key = seed * multiplier + addend.
struct KeyConstants {
    int64_t multiplier = 0;
    int64_t addend = 0;
};

// How a UDS model family names its identifiers in its parameter string.
struct UdsIdentifierStyle {
    const char* functionalKey;    // "TESTER_FUNCTIONAL" or "ECU_FUNCTIONAL"
    const char* functionalLabel;  // "FTESTER" or "FECU" in GetParameterString
    // true: the ECU field is the identifier addressed to the ECU (the request identifier);
    // false: the ECU field is the one the ECU answers on (the response identifier).
    bool ecuFieldIsRequest;
    bool reportsJob;  // GetParameterString ends with "SERVICEJOB=%d"
};

// What the UDS model families share: their parameter keys, the connect, the 16-bit key
// routine, the memory section as Intel-HEX text, and the tester fingerprints.
//
// For the UDS communication object a model supplies, through CEcu:
//   Parameters().uds    identifiers, fill byte, keep-alive mode, time-outs, fingerprints,
//                       programming and upload layout (copied in at Connect);
//   Access(i), AccessCount()   the predefined-access table;
//   BuildAccessRequest(step, seed response)   the key request, empty when the seed
//                                              response cannot be used;
//   BuildMemorySection()   the memory read into Upload().memoryLines, as HEX text;
//   Upload().header        "[KOBOLD]", format version, format type, user's mail address.
class CEcuUdsModel : public CEcu {
  public:
    static constexpr const char* kProtocolKeyword = "UDS_ISO_14229";
    static constexpr uint32_t kMaxCanIdentifier = 0x1FFFFFFF;
    // Tester serial number written by the fingerprints and access writes.
    static constexpr const char* kTesterSerial = "01 02 03 04";
    // Fingerprint record lengths (data bytes after the identifier) tried at connect.
    static constexpr std::size_t kLongFingerprint = 60;
    static constexpr std::size_t kShortFingerprint = 25;
    static constexpr const char* kUploadHeading = "[KOBOLD]";
    static constexpr const char* kUploadFormatVersion = "4.x";
    static constexpr const char* kUploadFormatType = "3";

    // Writes keyword, "|UDS_ISO_14229|" and the ECU=, TESTER=, functional, REBOOT=,
    // USEFILLBYTE=, FILLBYTE= and permission pairs, each closed by "|" (SERVICEJOB without).
    std::string GetParameterString() override;
    // 0, or -3 for another keyword or a key SetParameter rejects.
    int32_t ParseParameterString(const std::string& text) override;
    // Keys (blanks removed from the value; an empty key is accepted):
    //   ECU_TESTER_PHYSICAL  "<ECU field>,<TESTER field>", hex with optional "0x"/"h", at most
    //                        0x1FFFFFFF; a missing part keeps its value
    //   TESTER_FUNCTIONAL or ECU_FUNCTIONAL (by family)  the functional identifier, hex
    //   REBOOT (>= 0), USEFILLBYTE (non-zero: 1), FILLBYTE (0..255), TESTERPRESENT (keep-alive
    //   mode 0..2), TIMEOUT_SERVICESINGLEREQUEST/UPLOAD/DOWNLOAD/JOB (ms, >= 1): decimal
    //   SERVICESINGLEREQUEST/UPLOAD/DOWNLOAD/JOB  permission: "0" off, any other value on
    //   SERVICEDOWNLOAD_COMPLETE_SEQUENCE  "1" on, anything else off
    //   USER  the user of uploads and fingerprints (empty: the login name)
    //   UPLOADSID  comma-separated requests with "_" for blanks, at most 255
    //   UPLOADDTC  hex status mask, at most 0xFF
    // 0, or -3 for an unknown key or a value out of its range (nothing changes then).
    int32_t SetParameter(const std::string& key, const std::string& value) override;
    // -7 without a communication object, else the connect result of the UDS stack.
    int32_t Connect() override;
    // ECU= and TESTER= as in GetParameterString: the model's ECU and tester fields.
    void SetAddressIdents(uint32_t requestId, uint32_t responseId) override;
    // "<prefix> HH LL" from the 16-bit seed in bytes 3 and 4 of a "67 xx" response; empty
    // when the response is shorter, malformed or no positive security-access answer.
    std::string BuildAccessRequest(const AccessStep& step, const std::string& response) override;

    const std::string& Keyword() const { return keyword_; }
    // The user named in uploads and fingerprints (USER replaces it).
    const std::string& User() const { return user_; }

    // (seed * multiplier + addend) mod 65536, in 64-bit signed arithmetic.
    static uint16_t Key16(uint16_t seed, KeyConstants constants);
    // The low 32 bits of seed * multiplier + addend, in 64-bit signed arithmetic.
    static uint32_t Key32(uint32_t seed, KeyConstants constants);
    // Today's local date.
    static CalendarDate Today();
    // The date as three hex bytes "YY MM DD": year - 2000, month, day as binary values.
    static std::string DateBinary(const CalendarDate& date);
    // The date as three bytes of two decimal digits each ("14 03 27" for 2014-03-27).
    static std::string DateDecimal(const CalendarDate& date);
    // The record of a tester fingerprint: "20", the date as decimal digit pairs (year - 2000,
    // month, day), then the tester serial and the user's characters, zero-filled or cut so
    // that the record has length bytes (length >= 4).
    static std::string FingerprintRecord(const CalendarDate& date, const std::string& user,
                                         std::size_t length);
    // The memory lines (responses "63 ..." of 23 requests, one per recordLength bytes from
    // start) as Intel-HEX text under heading, lines ended by "|". Records carry the data
    // actually read; a line that holds none is skipped, and its address range with it.
    static std::string IntelHexSection(const std::string& heading, uint32_t start,
                                       uint32_t recordLength,
                                       const std::vector<std::string>& memoryLines);

  protected:
    // Runs the common first steps: created flag, communication object, ident record with
    // keyword, maker and "UDS_ISO_14229", the upload header for the current user.
    CEcuUdsModel(CSoftwareInterface* communicationObject, const std::string& keyword,
                 const std::string& maker, UdsIdentifierStyle style);

    // The first token of GetParameterString when it is not the type keyword.
    void SetConfigurationKeyword(const std::string& keyword) { configurationKeyword_ = keyword; }
    // Parses the creation string; clears the created flag when it is rejected.
    void ApplyCreationString(const std::string& parameter);
    // Adds one access step; false when the table is full.
    bool AddAccessStep(const AccessStep& step);
    // Sets the enabled flag of every step to its bit in mask (bit i for step i).
    void EnableAccessSteps(uint32_t mask);
    // The connect fingerprints of the ORLAN models, for the current user and date.
    void PrepareFingerprints(const CalendarDate& date);
    // Seed bytes of a positive security-access response; false when unusable.
    static bool ReadSeedResponse(const std::string& response, ShortByteBuffer& bytes);
    static std::string KeyRequest(const std::string& prefix, uint32_t key, int32_t bytes);

  private:
    int32_t SetIdentifierPair(const std::string& value);
    int32_t SetIdentifier(const std::string& value, uint32_t& identifier);
    int32_t SetTimeout(const std::string& key, const std::string& value);
    int32_t SetSidRequests(const std::string& value);
    void SetUser(const std::string& user);
    uint32_t& EcuField();
    uint32_t& TesterField();

    std::string keyword_;
    std::string configurationKeyword_;
    std::string user_;
    UdsIdentifierStyle style_;
};

}  // namespace diagbridge
