#include "kwp2000/KwpTiming.h"

namespace diagbridge {

namespace {
constexpr double kMinimumStepMs = 0.5;
constexpr double kP3MaxStepMs = 250.0;
constexpr double kP2MaxStepMs = 25.0;
constexpr uint32_t kP2MaxFineCodes = 240;
constexpr double kP2MaxCoarseFactor = 256.0;
}  // namespace

KwpTimingTables::KwpTimingTables() {
    for (std::size_t n = 0; n < kCodes; ++n) {
        const auto value = static_cast<double>(n);
        tables_[kP2Min][n] = value * kMinimumStepMs;
        tables_[kP3Min][n] = value * kMinimumStepMs;
        tables_[kP4Min][n] = value * kMinimumStepMs;
        tables_[kP3Max][n] = value * kP3MaxStepMs;
        tables_[kP2Max][n] = n <= kP2MaxFineCodes ? value * kP2MaxStepMs
                                                  : static_cast<double>(n - kP2MaxFineCodes) *
                                                        kP2MaxCoarseFactor * kP2MaxStepMs;
    }
}

double KwpTimingTables::Ms(Parameter parameter, uint8_t code) const {
    return tables_[parameter][code];
}

uint8_t KwpTimingTables::Encode(Parameter parameter, double ms) const {
    const auto& table = tables_[parameter];
    for (std::size_t n = 0; n < kCodes; ++n) {
        if (table[n] >= ms) return static_cast<uint8_t>(n);
    }
    return static_cast<uint8_t>(kCodes - 1);
}

}  // namespace diagbridge
