#pragma once
#include <cstdint>
#include <string>

namespace diagbridge {

// One block of a UDS download: a run of contiguous image bytes that goes to the ECU with one
// request download, its transfer data requests and one transfer exit.
struct UdsTransferDatablockTag {
    // Each HEX record's data as a hex byte string followed by "|", in address order, e.g.
    // "01 02 03|04 05|"; split at "|" to get the record payloads back.
    std::string data;
    // Number of data bytes in the block (bytes, in word addressing too).
    uint32_t length = 0;
    // Linear start address, in address units (bytes, or words in word addressing).
    uint32_t start = 0;
    // 16-bit address field of the block's first record.
    uint32_t recordOffset = 0;
    // Extended address value in force for the first record: the segment (type 02) or the
    // upper address bits already shifted left by 16 (type 04).
    uint32_t base = 0;
    // Number of the run of contiguous blocks this block belongs to; -1 until ordered.
    int32_t group = -1;
    // Carried along, not interpreted.
    uint32_t spare = 0;
};

}  // namespace diagbridge
