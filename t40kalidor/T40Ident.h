#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge {

// The identification requests of the T40 controllers and the fields of their answers
// (index 0 of an answer is the response code).
constexpr const char* kHardwareVersionRequest = "03 07 00 02 08";
constexpr const char* kIdentRequest = "00";
constexpr std::size_t kDataSetLengthOffset = 45;
constexpr std::size_t kSerialKeyOffset = 83;

// One text field of the ident block: bytes first..last.
struct T40IdentField {
    const char* key;
    std::size_t first;
    std::size_t last;
};

// The bytes of a hex byte string; empty when it is malformed.
std::vector<uint8_t> T40Bytes(const std::string& hexText);
// Bytes first..last (as far as present) as characters, zero bytes skipped.
std::string T40Text(const std::vector<uint8_t>& bytes, std::size_t first, std::size_t last);
// Big-endian 16-bit number at offset; 0 where the bytes are missing.
uint32_t T40Word(const std::vector<uint8_t>& bytes, std::size_t offset);
// The value of the ident block field key ("SERIALNUMBER", ...); empty for an unknown key.
std::string T40IdentValue(const std::vector<uint8_t>& block, const std::string& key);
// The identification text: HARDWAREVERSION=...|SOFTWAREPARTNUMBER=...|...|ECU=objectType|.
// An empty block leaves its fields empty.
std::string T40IdentText(const std::string& hardwareVersion, const std::vector<uint8_t>& block,
                         const std::string& objectType);

}  // namespace diagbridge
