#include "kwp2000/KwpText.h"

#include "engine/ByteBuffer.h"
#include "engine/CConvert.h"

namespace diagbridge {

std::vector<uint8_t> KwpBytes(const std::string& hexText) {
    std::vector<uint8_t> bytes(ByteBuffer::kCapacity);
    std::size_t stored = 0;
    if (HexStringToBytes(hexText, bytes.data(), bytes.size(), stored) < 0) return {};
    bytes.resize(stored);
    return bytes;
}

uint32_t KwpRead24(const std::vector<uint8_t>& bytes, std::size_t offset) {
    if (offset + 3 > bytes.size()) return 0;
    return (static_cast<uint32_t>(bytes[offset]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 1]) << 8) | bytes[offset + 2];
}

}  // namespace diagbridge
