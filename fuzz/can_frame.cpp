// Hub and socketcan packets: a 16-byte record either is refused or gives a frame within the
// classic CAN limits that encodes back to a record reading the same.
#include <cstring>

#include "drivers/xl/CanFrame.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace diagbridge::xl;
using diagbridge::fuzz::Require;

bool SameFrame(const CanFrame& a, const CanFrame& b) {
    return a.id == b.id && a.dlc == b.dlc && std::memcmp(a.data, b.data, sizeof(a.data)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CanFrame frame;
    std::memset(frame.data, 0xEE, sizeof(frame.data));
    if (!DecodeSocketCan(data, size, frame)) return 0;
    Require(size == kSocketCanFrameSize && frame.dlc <= kMaxDataLength);
    for (std::size_t i = frame.dlc; i < kMaxDataLength; ++i) Require(frame.data[i] == 0);
    const bool extended = (frame.id & kExtendedId) != 0;
    Require((frame.id & ~kExtendedId) <=
            (extended ? kSocketCanExtendedMask : kSocketCanStandardMask));
    uint8_t record[kSocketCanFrameSize];
    EncodeSocketCan(frame, IdByteOrder::kHost, record);
    CanFrame again;
    Require(DecodeSocketCan(record, sizeof(record), again) && SameFrame(frame, again));
    uint8_t bigEndian[kSocketCanFrameSize];
    EncodeSocketCan(frame, IdByteOrder::kBigEndian, bigEndian);
    Require(std::memcmp(bigEndian + 4, record + 4, sizeof(record) - 4) == 0);
    return 0;
}
