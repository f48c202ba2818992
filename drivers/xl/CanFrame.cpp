#include "drivers/xl/CanFrame.h"

#include <cstring>

namespace diagbridge::xl {

namespace {
uint32_t WireId(const CanFrame& frame) {
    if ((frame.id & kExtendedId) != 0) {
        return (frame.id & kSocketCanExtendedMask) | kSocketCanEffFlag;
    }
    return frame.id & kSocketCanStandardMask;
}
}  // namespace

void EncodeSocketCan(const CanFrame& frame, IdByteOrder order,
                     uint8_t (&out)[kSocketCanFrameSize]) {
    std::memset(out, 0, sizeof(out));
    const uint32_t id = WireId(frame);
    if (order == IdByteOrder::kBigEndian) {
        out[0] = static_cast<uint8_t>(id >> 24);
        out[1] = static_cast<uint8_t>(id >> 16);
        out[2] = static_cast<uint8_t>(id >> 8);
        out[3] = static_cast<uint8_t>(id);
    } else {
        std::memcpy(out, &id, sizeof(id));
    }
    const uint8_t dlc = frame.dlc > kMaxDataLength ? kMaxDataLength : frame.dlc;
    out[4] = dlc;
    std::memcpy(out + 8, frame.data, dlc);
}

bool DecodeSocketCan(const uint8_t* record, size_t size, CanFrame& frame) {
    if (size != kSocketCanFrameSize) return false;
    uint32_t id = 0;
    std::memcpy(&id, record, sizeof(id));
    if ((id & (kSocketCanRtrFlag | kSocketCanErrFlag)) != 0) return false;
    const uint8_t dlc = record[4];
    if (dlc > kMaxDataLength) return false;
    frame.id = (id & kSocketCanEffFlag) != 0 ? ((id & kSocketCanExtendedMask) | kExtendedId)
                                             : (id & kSocketCanStandardMask);
    frame.dlc = dlc;
    std::memset(frame.data, 0, sizeof(frame.data));
    std::memcpy(frame.data, record + 8, dlc);
    return true;
}

}  // namespace diagbridge::xl
