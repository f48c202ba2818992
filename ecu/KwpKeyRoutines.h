#pragma once
#include <cstdint>

namespace diagbridge {

// Key routines of the KWP2000 security access (27 seed / 27 key). Each turns a 16-bit seed
// and the diagnostic mode of the session into the 16-bit key. Their constants:
//
// Maker's own access (OEM 0; T6x, R6x, and Luma "ORLAN"): key = 16-bit two's complement of
// the seed, rotated left within 16 bits by a count chosen by the mode:
//   mode 0x83: 3, 0x84: 5, 0x85: 7, 0x86: 9, 0x87: 11, any other mode: 1.
//
// Vehicle maker's access of the T6x family (OEM 1): the seed rotated left within 16 bits by
// 5, multiplied (32-bit unsigned) by a factor chosen by the mode, divided by 7; the low
// 16 bits are the key. Factors: mode 0x83: 0x3A5B, 0x85: 0x1C4D, any other mode: 0x2B69.
//
// MAN access of the Luma family (OEM 1): the same steps with divisor 5; the rotation
// (3 or 11) and the factor are chosen by the mode:
//   0x83: 3, 0x4E2D   0x84: 11, 0x17B9   0x85: 3, 0x6C31
//   0x86: 11, 0x2A67  0x87: 3, 0x5D13    0x89: 11, 0x39CF   any other mode: 3, 0x1D3F.

uint16_t MakerAccessKey(uint16_t seed, int32_t diagnosticMode);
uint16_t VehicleMakerAccessKey(uint16_t seed, int32_t diagnosticMode);
uint16_t ManAccessKey(uint16_t seed, int32_t diagnosticMode);

}  // namespace diagbridge
