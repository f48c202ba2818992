#include "ecu/KwpKeyRoutines.h"

#include <array>

namespace diagbridge {
namespace {

struct ModeRotation {
    int32_t mode;
    uint32_t rotation;
};

struct ModeFactor {
    int32_t mode;
    uint32_t rotation;
    uint32_t factor;
};

constexpr std::array<ModeRotation, 5> kMakerRotations = {
    {{0x83, 3}, {0x84, 5}, {0x85, 7}, {0x86, 9}, {0x87, 11}}};
constexpr uint32_t kMakerDefaultRotation = 1;

constexpr uint32_t kVehicleMakerRotation = 5;
constexpr std::array<ModeFactor, 2> kVehicleMakerFactors = {
    {{0x83, kVehicleMakerRotation, 0x3A5B}, {0x85, kVehicleMakerRotation, 0x1C4D}}};
constexpr ModeFactor kVehicleMakerDefault = {0, kVehicleMakerRotation, 0x2B69};
constexpr uint32_t kVehicleMakerDivisor = 7;

constexpr uint32_t kManShortRotation = 3;
constexpr uint32_t kManLongRotation = 11;
constexpr std::array<ModeFactor, 6> kManFactors = {{{0x83, kManShortRotation, 0x4E2D},
                                                    {0x84, kManLongRotation, 0x17B9},
                                                    {0x85, kManShortRotation, 0x6C31},
                                                    {0x86, kManLongRotation, 0x2A67},
                                                    {0x87, kManShortRotation, 0x5D13},
                                                    {0x89, kManLongRotation, 0x39CF}}};
constexpr ModeFactor kManDefault = {0, kManShortRotation, 0x1D3F};
constexpr uint32_t kManDivisor = 5;

uint16_t RotateLeft16(uint16_t value, uint32_t count) {
    count %= 16;
    if (count == 0) return value;
    return static_cast<uint16_t>((value << count) | (value >> (16 - count)));
}

template <std::size_t N>
ModeFactor FactorFor(const std::array<ModeFactor, N>& table, const ModeFactor& fallback,
                     int32_t mode) {
    for (const ModeFactor& entry : table) {
        if (entry.mode == mode) return entry;
    }
    return fallback;
}

uint16_t RotateMultiplyDivide(uint16_t seed, const ModeFactor& entry, uint32_t divisor) {
    const uint32_t product =
        static_cast<uint32_t>(RotateLeft16(seed, entry.rotation)) * entry.factor;
    return static_cast<uint16_t>((product / divisor) & 0xFFFF);
}

}  // namespace

uint16_t MakerAccessKey(uint16_t seed, int32_t diagnosticMode) {
    uint32_t rotation = kMakerDefaultRotation;
    for (const ModeRotation& entry : kMakerRotations) {
        if (entry.mode == diagnosticMode) rotation = entry.rotation;
    }
    const auto complement = static_cast<uint16_t>(~seed + 1u);
    return RotateLeft16(complement, rotation);
}

uint16_t VehicleMakerAccessKey(uint16_t seed, int32_t diagnosticMode) {
    return RotateMultiplyDivide(
        seed, FactorFor(kVehicleMakerFactors, kVehicleMakerDefault, diagnosticMode),
        kVehicleMakerDivisor);
}

uint16_t ManAccessKey(uint16_t seed, int32_t diagnosticMode) {
    return RotateMultiplyDivide(seed, FactorFor(kManFactors, kManDefault, diagnosticMode),
                                kManDivisor);
}

}  // namespace diagbridge
