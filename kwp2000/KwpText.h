#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace diagbridge {

// The bytes of a hex byte string; empty when it is malformed or longer than a frame buffer.
std::vector<uint8_t> KwpBytes(const std::string& hexText);

// printf into a string (texts of the KWP2000 services stay well below 1024 characters).
std::string KwpFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A 24-bit value as three bytes, most significant first, from offset of bytes.
uint32_t KwpRead24(const std::vector<uint8_t>& bytes, std::size_t offset);

}  // namespace diagbridge
