#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge::cli {

// Texts the task commands read or show, kept apart from the component so that they can be
// checked on their own.

// An Intel-HEX file checked record by record: text with "|" between the records (as the
// interface takes it) and the bytes its data records carry.
struct HexFile {
    std::string text;
    uint64_t dataBytes = 0;
};

// Reads path and checks every record (":", hex digits, length, checksum, an end record).
// False with "<path>:<line>: <what>" in error; missing says the file could not be opened.
bool ReadHexFile(const std::string& path, HexFile& hex, std::string& error, bool& missing);

// One "[Name]" section of an upload text: KEY=VALUE lines as values, other lines as lines.
struct UploadSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> lines;
};

// Splits an upload text ("|" or line breaks between lines) into its sections; lines before
// the first heading form a section without a name.
std::vector<UploadSection> ParseUpload(const std::string& text);

// The sections as a JSON array of {"name":..,"values":{..},"lines":[..]}.
std::string UploadJson(const std::vector<UploadSection>& sections);

// Ident text "NAME=T60.1|SERIALNUMBER=..." as KEY=VALUE pairs, in order.
std::vector<std::pair<std::string, std::string>> ParseIdent(const std::string& text);

// A trouble code with its status byte.
struct TroubleCode {
    uint32_t code = 0;
    uint8_t status = 0;
};

// How a protocol reads its trouble codes: the request and the size of one code.
struct DtcRequest {
    const char* protocol;
    const char* request;
    size_t headerBytes;  // positive response bytes before the first record
    size_t codeBytes;    // bytes of a code; a status byte follows each
};
// The request of protocol; null when the protocol has none.
const DtcRequest* DtcRequestOf(const std::string& protocol);

// Reads the records of a positive response (hex byte string); false when it is not one or
// its length does not divide into records.
bool ParseTroubleCodes(const DtcRequest& request, const std::string& response,
                       std::vector<TroubleCode>& codes);

}  // namespace diagbridge::cli
