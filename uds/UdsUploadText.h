#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge {

// Texts the UDS upload and identification build from ECU responses (hex byte strings).
// Every decoder checks the response length; a short or malformed response gives the
// fallback text.

constexpr const char* kUnknownValue = "XXXXX";

// The value of a read-data-by-identifier response for an ident number (0x8C serial number,
// 0x8F BCD date, 0xBF hex bytes, the others characters); "XXXXX" when nothing was read.
std::string DecodeIdent(uint8_t ident, const std::string& response);

// "[DataBlocks]|BlockMask=0|" and one "Block%d=%06X, %06X|" per 6 bytes after the first
// three of a 22 E1 01 response.
std::string DataBlockTable(const std::string& response);

// "Event%d=\"%02X %02X %02X %02X\"|" lines for the 4-byte DTC records after the first
// three bytes of a 19 02 response, and their count.
std::vector<std::string> EventLines(const std::string& response);

// The response text from its 22nd character on (after 59 06, DTC, status, record number).
std::string ExtendedData(const std::string& response);

// The DTC records (3 bytes each) of a 19 02 response, in order.
std::vector<std::string> DtcTexts(const std::string& response);

}  // namespace diagbridge
