#pragma once
#include <cstddef>
#include <cstdint>

namespace diagbridge {

// One classic CAN frame. Bit 31 of the identifier marks a 29-bit identifier, as in the XL
// library. Data bytes beyond the length are 0xFF after construction.
class CCanObj {
  public:
    static constexpr uint32_t kExtendedId = 0x80000000u;
    static constexpr uint8_t kMaxLength = 8;
    static constexpr uint8_t kUnusedByte = 0xFF;
    // Length, identifier (little-endian), time, 8 data bytes.
    static constexpr size_t kSerializedSize = 1 + 4 + 4 + kMaxLength;

    CCanObj() : CCanObj(0, 0, nullptr) {}
    // Copies the first length bytes of data (none when data is null); length is cut to 8.
    CCanObj(uint32_t identifier, uint8_t length, const uint8_t* data = nullptr);

    void Serialize(uint8_t (&out)[kSerializedSize]) const;
    // Reads a record written by Serialize; false (frame unchanged) for a wrong size or length.
    bool Deserialize(const uint8_t* in, size_t size);

    uint32_t identifier = 0;
    uint32_t time = 0;  // receive time stamp in ms of the library's clock; not used by ISO-TP
    uint8_t data[kMaxLength] = {};
    uint8_t length = 0;
    uint32_t reserved1 = 0;
    uint32_t reserved2 = 0;
};

}  // namespace diagbridge
