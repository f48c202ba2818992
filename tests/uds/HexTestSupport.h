#pragma once
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "support/IntelHexText.h"
#include "uds/UdsTransferDatablock.h"

namespace diagbridge::test {

// count bytes first, first + 1, ... (mod 256).
inline std::vector<uint8_t> Ramp(size_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// The bytes of a block's data text; an entry that is no two-digit hex byte becomes a marker
// that no expected vector contains, so that a malformed text fails the comparison.
inline std::vector<int> DataBytes(const UdsTransferDatablockTag& block) {
    std::vector<int> bytes;
    size_t pos = 0;
    while (pos < block.data.size()) {
        const size_t end = block.data.find_first_of(" |", pos);
        const std::string token = block.data.substr(pos, end - pos);
        const bool isByte =
            token.size() == 2 && token.find_first_not_of("0123456789ABCDEF") == std::string::npos;
        bytes.push_back(isByte ? std::stoi(token, nullptr, 16) : -1);
        pos = end == std::string::npos ? block.data.size() : end + 1;
    }
    return bytes;
}

inline std::vector<int> AsInts(const std::vector<uint8_t>& bytes) {
    return std::vector<int>(bytes.begin(), bytes.end());
}

}  // namespace diagbridge::test
