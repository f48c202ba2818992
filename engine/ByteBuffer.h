#pragma once
#include <cstddef>
#include <cstdint>

namespace diagbridge {

// A fixed byte buffer that is copied by value at every hand-over; no heap behind it.
template <std::size_t Capacity>
struct FixedByteBuffer {
    static constexpr std::size_t kCapacity = Capacity;
    uint16_t length = 0;  // valid bytes, 0..Capacity
    uint8_t data[Capacity] = {};
};

using ByteBuffer = FixedByteBuffer<4096>;      // one diagnostic message
using ShortByteBuffer = FixedByteBuffer<300>;  // one response field for decoding

}  // namespace diagbridge
