#pragma once
#include <cstdint>

namespace diagbridge::sim {

// The key routines a virtual KWP2000 ECU checks a security-access key with, written on the
// controller's side with its own constants.
enum class KwpKeyRoutine : uint8_t {
    kMaker,         // the maker's own access (T6x, R6x, Luma "ORLAN")
    kVehicleMaker,  // the vehicle maker's access of the T6x family
    kMan,           // the MAN access of the Luma family
};

// The 16-bit key that routine expects for seed in the diagnostic mode of the session.
uint16_t KwpAccessKey(KwpKeyRoutine routine, uint16_t seed, uint8_t diagnosticMode);

}  // namespace diagbridge::sim
