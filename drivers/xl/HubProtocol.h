#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "drivers/xl/CanFrame.h"

// The packets of the CAN hub (one SOCK_SEQPACKET packet each) beyond the plain socketcan frame.
namespace diagbridge::xl::hub {

// Member -> hub, 8 bytes: "RATE" and a little-endian bit rate in bit/s. After it the member
// hears only frames sent at its rate (or by members that never announced one), and gets one
// acknowledge packet for each frame it sends. kOffBus: hears nothing, acknowledges nothing.
constexpr size_t kAnnouncementSize = 8;
constexpr char kAnnouncementTag[4] = {'R', 'A', 'T', 'E'};
constexpr uint32_t kOffBus = 0xFFFFFFFFu;

// Hub -> announced member, 1 byte: whether some other member took the frame it sent last.
constexpr size_t kAcknowledgeSize = 1;
constexpr uint8_t kAcknowledged = 1;
constexpr uint8_t kNotAcknowledged = 0;

inline void EncodeAnnouncement(uint32_t bitRate, uint8_t (&out)[kAnnouncementSize]) {
    std::memcpy(out, kAnnouncementTag, sizeof(kAnnouncementTag));
    for (size_t i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(bitRate >> (8 * i));
}

// False when packet is not an announcement.
inline bool DecodeAnnouncement(const uint8_t* packet, size_t size, uint32_t& bitRate) {
    if (size != kAnnouncementSize ||
        std::memcmp(packet, kAnnouncementTag, sizeof(kAnnouncementTag)) != 0) {
        return false;
    }
    bitRate = 0;
    for (size_t i = 0; i < 4; ++i) bitRate |= uint32_t{packet[4 + i]} << (8 * i);
    return true;
}

}  // namespace diagbridge::xl::hub
