#include "sim/kline/KwpAccessKeys.h"

namespace diagbridge::sim {

namespace {

// The controllers' own key constants, kept apart from the tester's so that a shared
// misreading shows up as a refused key.
struct ModeConstants {
    uint8_t mode;
    unsigned rotation;
    uint32_t factor;  // 0 for the maker's access, which does not multiply
};

// Maker's access: rotation of the negated seed by mode; 1 for any other mode.
constexpr ModeConstants kMakerTable[] = {
    {0x83, 3, 0}, {0x84, 5, 0}, {0x85, 7, 0}, {0x86, 9, 0}, {0x87, 11, 0},
};
constexpr ModeConstants kMakerOther = {0, 1, 0};

// Vehicle maker's access of the T6x: rotation 5, factor by mode, divisor 7.
constexpr ModeConstants kVehicleMakerTable[] = {{0x83, 5, 0x3A5B}, {0x85, 5, 0x1C4D}};
constexpr ModeConstants kVehicleMakerOther = {0, 5, 0x2B69};
constexpr uint32_t kVehicleMakerDivisor = 7;

// MAN access of the Luma: rotation and factor by mode, divisor 5.
constexpr ModeConstants kManTable[] = {
    {0x83, 3, 0x4E2D},  {0x84, 11, 0x17B9}, {0x85, 3, 0x6C31},
    {0x86, 11, 0x2A67}, {0x87, 3, 0x5D13},  {0x89, 11, 0x39CF},
};
constexpr ModeConstants kManOther = {0, 3, 0x1D3F};
constexpr uint32_t kManDivisor = 5;

template <typename Table>
ModeConstants Lookup(const Table& table, const ModeConstants& other, uint8_t mode) {
    for (const ModeConstants& entry : table) {
        if (entry.mode == mode) return entry;
    }
    return other;
}

uint16_t Rotate(uint16_t value, unsigned bits) {
    uint32_t word = value;
    for (unsigned i = 0; i < bits; ++i) word = ((word << 1) | (word >> 15)) & 0xFFFF;
    return static_cast<uint16_t>(word);
}

uint16_t Scrambled(uint16_t seed, const ModeConstants& constants, uint32_t divisor) {
    const uint32_t product = uint32_t{Rotate(seed, constants.rotation)} * constants.factor;
    return static_cast<uint16_t>(product / divisor);
}

}  // namespace

uint16_t KwpAccessKey(KwpKeyRoutine routine, uint16_t seed, uint8_t diagnosticMode) {
    switch (routine) {
        case KwpKeyRoutine::kMaker: {
            const auto negated = static_cast<uint16_t>(0x10000u - seed);
            return Rotate(negated, Lookup(kMakerTable, kMakerOther, diagnosticMode).rotation);
        }
        case KwpKeyRoutine::kVehicleMaker:
            return Scrambled(seed, Lookup(kVehicleMakerTable, kVehicleMakerOther, diagnosticMode),
                             kVehicleMakerDivisor);
        case KwpKeyRoutine::kMan:
            return Scrambled(seed, Lookup(kManTable, kManOther, diagnosticMode), kManDivisor);
    }
    return 0;
}

}  // namespace diagbridge::sim
