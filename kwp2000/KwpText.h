#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge {

// The bytes of a hex byte string; empty when it is malformed or longer than a frame buffer.
std::vector<uint8_t> KwpBytes(const std::string& hexText);

// A 24-bit value as three bytes, most significant first, from offset of bytes.
uint32_t KwpRead24(const std::vector<uint8_t>& bytes, std::size_t offset);

}  // namespace diagbridge
