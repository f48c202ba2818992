#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "uds/UdsTransferDatablock.h"

namespace diagbridge {

// Intel-HEX download text -> address-ordered, merged UDS transfer blocks.
//
// The text is read as IntelHexReader reads it (engine/IntelHexReader.h): lines separated by
// "|" or line breaks, records by their bytes, the end record required once with nothing
// after it, the last extended address record in force, data ending at or below 2^32.
// A data record without data adds nothing.
// Blocks: records that continue the previous record's addresses extend one block; the blocks
// are then ordered by start address and every run of blocks in which each starts where the
// previous one ends is merged into one block (its group number is its index). Data given twice
// for an address (overlap) fails the conversion, as does an image without data bytes or with
// 2^31 bytes or more (on a 32-bit host: more than a third of the address space).
//
// Time and memory are linear in the text, apart from one sort of the blocks. Memory beyond the
// text: the blocks' text (three characters per data byte) and nine bytes per data record
// (up to three times that while the record index grows).

// Result of a conversion that the download service reports as "Convert hexdata failed".
inline constexpr int32_t kHexConversionFailed = -50;

// ECU model's hex conversion mode.
enum class HexAddressing : uint8_t {
    kByte = 0,  // an address counts bytes
    kWord = 1,  // an address counts 16-bit words
};

// Converts hexText with the ECU model's conversion mode (0 byte, 1 word addressing) into
// blocks (replaced, empty on failure). Returns the number of data bytes (> 0), or
// kHexConversionFailed for malformed text, an image without data or an unknown mode.
int32_t ConvertHexToDatablocks(std::string_view hexText, uint8_t conversionMode,
                               std::vector<UdsTransferDatablockTag>& blocks);

}  // namespace diagbridge
