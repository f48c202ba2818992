#pragma once
#include <cstddef>
#include <cstdint>

#include "drivers/xl/XlApi.h"

namespace diagbridge::xl {

// One classic CAN frame as the sources carry it on their wire.
struct CanFrame {
    uint32_t id = 0;  // kExtendedId marks a 29-bit identifier
    uint8_t dlc = 0;  // 0 to 8
    uint8_t data[kMaxDataLength] = {};
};

// Linux struct can_frame: 4-byte identifier word, length, 3 pad bytes, 8 data bytes.
constexpr size_t kSocketCanFrameSize = 16;
constexpr uint32_t kSocketCanEffFlag = 0x80000000u;
constexpr uint32_t kSocketCanRtrFlag = 0x40000000u;
constexpr uint32_t kSocketCanErrFlag = 0x20000000u;
constexpr uint32_t kSocketCanExtendedMask = 0x1FFFFFFFu;
constexpr uint32_t kSocketCanStandardMask = 0x7FFu;

enum class IdByteOrder { kHost, kBigEndian };

// Writes frame as a socketcan record; the identifier word in the given byte order.
void EncodeSocketCan(const CanFrame& frame, IdByteOrder order, uint8_t (&out)[kSocketCanFrameSize]);
// Reads a socketcan record in host order; false for remote and error frames and bad lengths.
bool DecodeSocketCan(const uint8_t* record, size_t size, CanFrame& frame);

}  // namespace diagbridge::xl
