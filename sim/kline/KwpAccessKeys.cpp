#include "sim/kline/KwpAccessKeys.h"

#include "ecu/KwpKeyRoutines.h"

namespace diagbridge::sim {

// The controller checks a key with the very routines the tester's models compute it with.
uint16_t KwpAccessKey(KwpKeyRoutine routine, uint16_t seed, uint8_t diagnosticMode) {
    switch (routine) {
        case KwpKeyRoutine::kMaker:
            return MakerAccessKey(seed, diagnosticMode);
        case KwpKeyRoutine::kVehicleMaker:
            return VehicleMakerAccessKey(seed, diagnosticMode);
        case KwpKeyRoutine::kMan:
            return ManAccessKey(seed, diagnosticMode);
    }
    return 0;
}

}  // namespace diagbridge::sim
