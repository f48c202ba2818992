#include "sim/kline/KwpAccessKeys.h"

#include <array>

namespace diagbridge::sim {

namespace {

struct ModeKey {
    uint8_t mode;
    uint32_t rotation;
    uint32_t factor;
};

constexpr std::array<ModeKey, 5> kMakerRotations = {
    {{0x83, 3, 0}, {0x84, 5, 0}, {0x85, 7, 0}, {0x86, 9, 0}, {0x87, 11, 0}}};
constexpr ModeKey kMakerDefault = {0, 1, 0};

constexpr std::array<ModeKey, 2> kVehicleMakerFactors = {{{0x83, 5, 0x3A5B}, {0x85, 5, 0x1C4D}}};
constexpr ModeKey kVehicleMakerDefault = {0, 5, 0x2B69};
constexpr uint32_t kVehicleMakerDivisor = 7;

constexpr std::array<ModeKey, 6> kManFactors = {{{0x83, 3, 0x4E2D},
                                                 {0x84, 11, 0x17B9},
                                                 {0x85, 3, 0x6C31},
                                                 {0x86, 11, 0x2A67},
                                                 {0x87, 3, 0x5D13},
                                                 {0x89, 11, 0x39CF}}};
constexpr ModeKey kManDefault = {0, 3, 0x1D3F};
constexpr uint32_t kManDivisor = 5;

constexpr uint32_t kWordBits = 16;

uint16_t RotateLeft(uint16_t value, uint32_t count) {
    count %= kWordBits;
    if (count == 0) return value;
    return static_cast<uint16_t>((value << count) | (value >> (kWordBits - count)));
}

template <std::size_t N>
const ModeKey& ForMode(const std::array<ModeKey, N>& table, const ModeKey& fallback, uint8_t mode) {
    for (const ModeKey& entry : table) {
        if (entry.mode == mode) return entry;
    }
    return fallback;
}

uint16_t RotateMultiplyDivide(uint16_t seed, const ModeKey& entry, uint32_t divisor) {
    const uint32_t product = static_cast<uint32_t>(RotateLeft(seed, entry.rotation)) * entry.factor;
    return static_cast<uint16_t>(product / divisor);
}

}  // namespace

uint16_t KwpAccessKey(KwpKeyRoutine routine, uint16_t seed, uint8_t diagnosticMode) {
    switch (routine) {
        case KwpKeyRoutine::kMaker: {
            const auto complement = static_cast<uint16_t>(~seed + 1u);
            return RotateLeft(complement,
                              ForMode(kMakerRotations, kMakerDefault, diagnosticMode).rotation);
        }
        case KwpKeyRoutine::kVehicleMaker:
            return RotateMultiplyDivide(
                seed, ForMode(kVehicleMakerFactors, kVehicleMakerDefault, diagnosticMode),
                kVehicleMakerDivisor);
        case KwpKeyRoutine::kMan:
            return RotateMultiplyDivide(seed, ForMode(kManFactors, kManDefault, diagnosticMode),
                                        kManDivisor);
    }
    return 0;
}

}  // namespace diagbridge::sim
