#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "uds/UdsTransferDatablock.h"

namespace diagbridge {

// Intel-HEX download text -> address-ordered, merged UDS transfer blocks.
//
// Input: the records as text lines separated by "|". Per line:
// - white space (blank, tab, CR, LF) at both ends is ignored, and so is a line that is
//   empty then; after that, leading colons are stripped;
// - what remains must be hex digit pairs (either case): record length, 16-bit address, type,
//   data, checksum. Any other character (blank, colon, comma, semicolon ...), an odd digit
//   count, a byte count other than record length + 5, or a checksum that does not make the
//   sum of all bytes 0 modulo 256 fails the conversion.
// Records:
// - 00 data: placed at base x multiplier + 16-bit address (address units: bytes, or 16-bit
//   words in word addressing); in word addressing its length must be even. Data runs on
//   linearly and must end at or below 2^32. Under an extended segment address it must also
//   end inside the segment's 64 KiB: tools disagree whether such data wraps or runs on.
//   A data record without data adds nothing.
// - 01 end of file: length 0, required exactly once; no record may follow it.
// - 02 extended segment address: length 2, base := value, multiplier := 16.
// - 04 extended linear address: length 2, base := value << 16, multiplier := 1.
// - 03 and 05 (start addresses): length 4, accepted and ignored.
// - any other type fails the conversion.
// Blocks: records that continue the previous record's addresses extend one block; the blocks
// are then ordered by start address and every run of blocks in which each starts where the
// previous one ends is merged into one block (its group number is its index). Data given twice
// for an address (overlap) fails the conversion, as does an image without data bytes or with
// 2^31 bytes or more (on a 32-bit host: more than a third of the address space).
//
// Time and memory are linear in the text, apart from one sort of the blocks.

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
