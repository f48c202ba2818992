#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ByteBuffer.h"

namespace diagbridge {

// Hex byte strings: two upper-case digits per byte, one blank between bytes ("22 F1 90").
//
// Reading rule: tokens are separated by white space, any amount; leading and trailing white
// space is ignored. Each token must be one or two hexadecimal digits of either case. A text
// with any other token is malformed: nothing of it may be sent to an ECU.
constexpr int32_t kHexMalformed = -3;

// Writes count bytes as a hex byte string.
std::string BytesToHexString(const uint8_t* bytes, std::size_t count);

// Reads text into out (capacity bytes at most). Returns the number of bytes the text holds,
// or kHexMalformed for a bad token or for more bytes than fit; stored is set to the bytes
// written, which never exceeds capacity.
int32_t HexStringToBytes(std::string_view text, uint8_t* out, std::size_t capacity,
                         std::size_t& stored);

// ECU bytes as text: each byte is the Latin-1 character of its value (E4 is "ä"), written
// as UTF-8, so texts from an ECU are always valid UTF-8.
void AppendLatin1(std::string& text, uint8_t byte);
std::string Latin1ToUtf8(const uint8_t* bytes, std::size_t count);

// Converter of one text and one byte buffer, made on the stack for one conversion.
class CConvert {
  public:
    std::string text;
    ByteBuffer buffer;

    // text = hex byte string of the buffer's length bytes; empty for an empty buffer.
    void BytesToHex(const ByteBuffer& in);
    void BytesToHex(const ShortByteBuffer& in);
    // Reads text into out (all zeros first). Returns the byte count (>= 0), or kHexMalformed
    // for a malformed text or one longer than the buffer; out holds what fitted.
    int32_t HexToBytes(ByteBuffer& out) const;
    int32_t HexToBytes(ShortByteBuffer& out) const;
};

// Display text of a response field by its type letter: "A" Latin-1 text (zero bytes skipped),
// "H" hex byte string ("00" for no bytes), "U" unsigned big-endian number, "I" each byte in
// decimal, "D" each byte as two decimal digits, "B" and any other letter: empty.
std::string DecodeBytes(const ShortByteBuffer& field, const std::string& type);

// Formats a positive response field by field: the first three bytes (service id and
// identifier) are dropped, then each "_"-separated token of scaling ("A16", "H4", "D3")
// decodes its count of bytes (cut to what remains); texts are joined by separator.
// Only the first 300 bytes of a longer response are decoded; a response that is no hex byte
// string gives an empty text.
std::string DecodeScaledResponse(const std::string& responseHex, const std::string& scaling,
                                 const std::string& separator);

// Reverses the byte order of a 32-bit word (11 22 33 44 -> 44 33 22 11).
constexpr uint32_t SwapBytes32(uint32_t value) {
    return ((value & 0x000000FFu) << 24) | ((value & 0x0000FF00u) << 8) |
           ((value & 0x00FF0000u) >> 8) | ((value & 0xFF000000u) >> 24);
}

}  // namespace diagbridge
